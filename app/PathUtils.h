#pragma once
// Folder-path and text helpers shared by the wizard, the engines and the tools.
#include <string>
#include <vector>

// Tells whether a byte starts a double-byte character in the active code page.
using TLeadBytePredicate = bool (*)(unsigned char);

// Trims characters with codes up to 32 at both ends and makes sure the result
// ends in "\" or "/". A final double-byte character whose trail byte is 0x5C is
// not a separator. An empty or all-blank text gives "\".
std::string NormalizeFolderPathWith(const std::string& Path, TLeadBytePredicate IsLeadByte);

// Equal, ignoring the case of the ASCII letters A-Z only.
bool SameTextAscii(const std::string& A, const std::string& B);
std::string LowerAscii(std::string Text);

// True when the text's last whole character is "\" or "/".
bool EndsWithSeparator(const std::string& Path, TLeadBytePredicate IsLeadByte);

// The folder above Path, with its trailing separator: "C:\a\b\" gives "C:\a\",
// "data" comes back unchanged. Only whole characters count as separators, so a
// double-byte character whose trail byte is 0x5C stays in one piece; a null
// IsLeadByte makes every byte a character. Raises Exception for an empty Path.
std::string ExtractParentFolderWith(const std::string& Path, TLeadBytePredicate IsLeadByte);

// Where the file name in Path starts: after its last whole-character "\", "/" or
// drive ":"; 0 for a bare name. "C:\a\b.exe" gives 5, so the folder part is
// Path.substr(0, 5) and the name Path.substr(5).
size_t FileNameStart(const std::string& Path, TLeadBytePredicate IsLeadByte);

// What a write to Path passes through below Folder (which ends in a separator):
// each folder between them, outermost first, then Path itself, none with a final
// separator. "C:\T\" and "c:\t\a\b\f" give "c:\t\a", "c:\t\a\b", "c:\t\a\b\f".
// Empty when Path does not lie below Folder (ASCII case ignored).
std::vector<std::string> PathsBelowFolder(const std::string& Folder, const std::string& Path,
                                          TLeadBytePredicate IsLeadByte);
