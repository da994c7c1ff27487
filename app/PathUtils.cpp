#include "app/PathUtils.h"

#include "support/Exceptions.h"

namespace {

// Index of the first byte of the last whole character, or npos for an empty text.
size_t LastCharStart(const std::string& Text, TLeadBytePredicate IsLeadByte) {
    if (Text.empty()) return std::string::npos;
    size_t i = 0, last = 0;
    while (i < Text.size()) {
        last = i;
        bool lead = IsLeadByte && IsLeadByte(static_cast<unsigned char>(Text[i]));
        i += (lead && i + 1 < Text.size()) ? 2 : 1;
    }
    return last;
}

}  // namespace

bool EndsWithSeparator(const std::string& Path, TLeadBytePredicate IsLeadByte) {
    size_t last = LastCharStart(Path, IsLeadByte);
    if (last == std::string::npos || last != Path.size() - 1) return false;
    return Path[last] == '\\' || Path[last] == '/';
}

std::string NormalizeFolderPathWith(const std::string& Path, TLeadBytePredicate IsLeadByte) {
    size_t begin = 0, end = Path.size();
    while (begin < end && static_cast<unsigned char>(Path[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(Path[end - 1]) <= 32) --end;
    std::string result = Path.substr(begin, end - begin);
    if (!EndsWithSeparator(result, IsLeadByte)) result += '\\';
    return result;
}

std::string ExtractParentFolderWith(const std::string& Path, TLeadBytePredicate IsLeadByte) {
    if (Path.empty()) throw Exception("Assertion failed (app/PathUtils): Path must not be empty");
    // Separators are found walking forward: a trail byte cannot be told from a
    // lead byte when walking back.
    size_t last = std::string::npos, previous = std::string::npos;
    size_t i = 0;
    bool endsInSeparator = false;
    while (i < Path.size()) {
        bool lead = IsLeadByte && IsLeadByte(static_cast<unsigned char>(Path[i]));
        size_t next = (lead && i + 1 < Path.size()) ? i + 2 : i + 1;
        endsInSeparator = next == i + 1 && (Path[i] == '\\' || Path[i] == '/');
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

size_t FileNameStart(const std::string& Path, TLeadBytePredicate IsLeadByte) {
    size_t start = 0;
    for (size_t i = 0; i < Path.size(); ++i) {
        if (IsLeadByte && IsLeadByte(static_cast<unsigned char>(Path[i])))
            ++i;
        else if (Path[i] == '\\' || Path[i] == '/' || Path[i] == ':')
            start = i + 1;
    }
    return start;
}

std::vector<std::string> PathsBelowFolder(const std::string& Folder, const std::string& Path,
                                          TLeadBytePredicate IsLeadByte) {
    std::vector<std::string> paths;
    if (Folder.empty() || Path.size() <= Folder.size() || !SameTextAscii(Path.substr(0, Folder.size()), Folder))
        return paths;
    bool afterSeparator = true;  // Folder ends in one
    for (size_t i = Folder.size(); i < Path.size();) {
        bool lead = IsLeadByte && IsLeadByte(static_cast<unsigned char>(Path[i]));
        bool separator = !lead && (Path[i] == '\\' || Path[i] == '/');
        if (separator && !afterSeparator) paths.push_back(Path.substr(0, i));
        afterSeparator = separator;
        i += (lead && i + 1 < Path.size()) ? 2 : 1;
    }
    if (Path.back() != '\\' && Path.back() != '/') paths.push_back(Path);
    return paths;
}

bool SameTextAscii(const std::string& A, const std::string& B) {
    if (A.size() != B.size()) return false;
    for (size_t i = 0; i < A.size(); ++i) {
        unsigned char a = A[i], b = B[i];
        if (a >= 'A' && a <= 'Z') a = a - 'A' + 'a';
        if (b >= 'A' && b <= 'Z') b = b - 'A' + 'a';
        if (a != b) return false;
    }
    return true;
}

std::string LowerAscii(std::string Text) {
    for (char& c : Text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return Text;
}
