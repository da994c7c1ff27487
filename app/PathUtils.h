#pragma once
// Folder-path and text helpers shared by the wizard, the engines and the tools.
#include <string>
#include <vector>

// Tells whether a byte starts a double-byte character in the active code page.
using TLeadBytePredicate = bool (*)(unsigned char);

// How the active code page spells one character: a single byte, a lead byte and
// its trail byte (double-byte pages, told by a predicate), or a UTF-8 sequence.
// Walks must go forward: a trail byte may look like "\".
class TCharSet {
public:
    // Null: every byte is a character.
    TCharSet(TLeadBytePredicate IsLeadByte = nullptr) : FIsLeadByte(IsLeadByte) {}
    static TCharSet Utf8();
    bool IsUtf8() const { return FUtf8; }
    // Where the character that starts at Index ends. A lead byte without its trail
    // byte, or a broken UTF-8 sequence, is one character of one byte, so no ASCII
    // byte is ever swallowed by the one in front of it.
    size_t Next(const std::string& Text, size_t Index) const;

private:
    TLeadBytePredicate FIsLeadByte = nullptr;
    bool FUtf8 = false;
};

// Whether Text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(const std::string& Text);

// Trims characters with codes up to 32 at both ends and makes sure the result
// ends in "\" or "/". A final double-byte character whose trail byte is 0x5C is
// not a separator. An empty or all-blank text gives "\".
std::string NormalizeFolderPathWith(const std::string& Path, const TCharSet& Chars);

// Equal, ignoring the case of the ASCII letters A-Z only.
bool SameTextAscii(const std::string& A, const std::string& B);
bool SameTextAscii(const std::wstring& A, const std::wstring& B);
std::string LowerAscii(std::string Text);

// True when the text's last whole character is "\" or "/".
bool EndsWithSeparator(const std::string& Path, const TCharSet& Chars);

// The folder above Path, with its trailing separator: "C:\a\b\" gives "C:\a\",
// "data" comes back unchanged. Only whole characters count as separators, so a
// double-byte character whose trail byte is 0x5C stays in one piece. Raises Exception for an empty Path.
std::string ExtractParentFolderWith(const std::string& Path, const TCharSet& Chars);

// Where the file name in Path starts: after its last whole-character "\", "/" or
// drive ":"; 0 for a bare name. "C:\a\b.exe" gives 5, so the folder part is
// Path.substr(0, 5) and the name Path.substr(5).
size_t FileNameStart(const std::string& Path, const TCharSet& Chars);

// What a write to Path passes through below Folder (which ends in a separator):
// each folder between them, outermost first, then Path itself, none with a final
// separator. "C:\T\" and "c:\t\a\b\f" give "c:\t\a", "c:\t\a\b", "c:\t\a\b\f".
// Empty when Path does not lie below Folder (ASCII case ignored).
std::vector<std::string> PathsBelowFolder(const std::string& Folder, const std::string& Path,
                                          const TCharSet& Chars);
