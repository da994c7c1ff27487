#pragma once
// Folder-path helpers shared by the wizard, the engines and the tools. Portable.
#include <cstdint>
#include <string>
#include <vector>

#include "support/TextUtils.h"

// Trims characters with codes up to 32 at both ends and makes sure the result
// ends in "\" or "/". A final double-byte character whose trail byte is 0x5C is
// not a separator. An empty or all-blank text gives "\".
std::string NormalizeFolderPathWith(const std::string& Path, const TCharSet& Chars);

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
std::vector<std::string> PathsBelowFolder(const std::string& Folder, const std::string& Path, const TCharSet& Chars);

// A program path as a command line names it: in quotation marks when it holds a
// blank, so that Windows cannot take "C:\Program.exe" for the program.
std::string QuotedProgram(const std::string& Path);

// Whether what stands at a path sends it elsewhere: a reparse point whose tag is
// a name surrogate (junctions and mount points, symbolic links). Deduplicated
// files and cloud placeholders are reparse points that do not. Windows never
// gives a reparse point without a tag; Wine does for its links, so such a one
// counts as a link.
bool RedirectsElsewhere(uint32_t Attributes, uint32_t ReparseTag);
