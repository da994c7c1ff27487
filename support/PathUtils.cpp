#include "support/PathUtils.h"

#include "support/Exceptions.h"

namespace {

// Index of the first byte of the last whole character, or npos for an empty text.
size_t LastCharStart(const std::string& Text, const TCharSet& Chars) {
    if (Text.empty()) return std::string::npos;
    size_t i = 0, last = 0;
    while (i < Text.size()) {
        last = i;
        i = Chars.Next(Text, i);
    }
    return last;
}

bool IsSeparatorAt(const std::string& Text, size_t Index, size_t Next) {
    return Next == Index + 1 && (Text[Index] == '\\' || Text[Index] == '/');
}

}  // namespace

bool EndsWithSeparator(const std::string& Path, const TCharSet& Chars) {
    size_t last = LastCharStart(Path, Chars);
    if (last == std::string::npos || last != Path.size() - 1) return false;
    return Path[last] == '\\' || Path[last] == '/';
}

std::string NormalizeFolderPathWith(const std::string& Path, const TCharSet& Chars) {
    std::string result = TrimControl(Path);
    if (!EndsWithSeparator(result, Chars)) result += '\\';
    return result;
}

std::string ExtractParentFolderWith(const std::string& Path, const TCharSet& Chars) {
    if (Path.empty()) throw Exception("Assertion failed (support/PathUtils): Path must not be empty");
    size_t last = std::string::npos, previous = std::string::npos;
    bool endsInSeparator = false;
    for (size_t i = 0; i < Path.size();) {
        size_t next = Chars.Next(Path, i);
        endsInSeparator = IsSeparatorAt(Path, i, next);
        if (endsInSeparator) {
            previous = last;
            last = i;
        }
        i = next;
    }
    // A final separator only marks Path as a folder; the one in front of it splits.
    size_t sep = endsInSeparator ? previous : last;
    if (sep == std::string::npos) return Path;
    return Path.substr(0, sep + 1);
}

size_t FileNameStart(const std::string& Path, const TCharSet& Chars) {
    size_t start = 0;
    for (size_t i = 0; i < Path.size();) {
        size_t next = Chars.Next(Path, i);
        if (IsSeparatorAt(Path, i, next) || (next == i + 1 && Path[i] == ':')) start = next;
        i = next;
    }
    return start;
}

std::vector<std::string> PathsBelowFolder(const std::string& Folder, const std::string& Path, const TCharSet& Chars) {
    std::vector<std::string> paths;
    if (Folder.empty() || Path.size() <= Folder.size() || !SameTextAscii(Path.substr(0, Folder.size()), Folder))
        return paths;
    bool afterSeparator = true;  // Folder ends in one
    for (size_t i = Folder.size(); i < Path.size();) {
        size_t next = Chars.Next(Path, i);
        bool separator = IsSeparatorAt(Path, i, next);
        if (separator && !afterSeparator) paths.push_back(Path.substr(0, i));
        afterSeparator = separator;
        i = next;
    }
    if (Path.back() != '\\' && Path.back() != '/') paths.push_back(Path);
    return paths;
}

std::string QuotedProgram(const std::string& Path) {
    if (Path.find(' ') == std::string::npos || (Path.size() >= 2 && Path.front() == '"' && Path.back() == '"'))
        return Path;
    return "\"" + Path + "\"";
}

bool RedirectsElsewhere(uint32_t Attributes, uint32_t ReparseTag) {
    const uint32_t reparsePoint = 0x400;        // FILE_ATTRIBUTE_REPARSE_POINT
    const uint32_t nameSurrogate = 0x20000000;  // the tag's "points at another name" bit
    return (Attributes & reparsePoint) && (ReparseTag == 0 || (ReparseTag & nameSurrogate));
}
