#include "Components/JournalFormat.h"

#include <limits>

std::string FormatJournalLine(const std::string& Action, const std::string& Argument) {
    return Action + " " + Argument + "\r\n";
}

std::string FormatJournalBanner(const std::string& Text) { return "########## " + Text + " ##########\r\n"; }

std::vector<std::string> SplitJournalLines(const std::string& Text) {
    std::vector<std::string> lines;
    size_t end = Text.find('\0');
    if (end == std::string::npos) end = Text.size();
    size_t start = 0, i = 0;
    while (i < end) {
        char c = Text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(Text, start, i - start);
            if (c == '\r' && i + 1 < end && Text[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < end) lines.emplace_back(Text, start, end - start);
    return lines;
}

TJournalLine ParseJournalLine(const std::string& Line) {
    TJournalLine result;
    size_t blank = Line.find(' ');
    if (blank == std::string::npos) return result;
    result.Keyword.assign(Line, 0, blank);
    result.Argument.assign(Line, blank + 1, std::string::npos);
    const std::string& k = result.Keyword;
    if (k == Journal::CreateFolder)
        result.Action = TJournalAction::CreateFolder;
    else if (k == Journal::CreateFile)
        result.Action = TJournalAction::CreateFile;
    else if (k == Journal::CreateRegValue)
        result.Action = TJournalAction::CreateRegValue;
    else if (k == Journal::CreateRegKey)
        result.Action = TJournalAction::CreateRegKey;
    else if (k == Journal::RegisterServer)
        result.Action = TJournalAction::RegisterServer;
    return result;
}

std::string FormatRegKeyArgument(uint32_t Root, const std::string& Key) { return std::to_string(Root) + "|" + Key; }

std::string FormatRegValueArgument(uint32_t Root, const std::string& Key, const std::string& ValueName) {
    return FormatRegKeyArgument(Root, Key) + "|" + ValueName;
}

bool ParseRegistryRoot(const std::string& Text, uint32_t& Root) {
    size_t i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) negative = Text[i++] == '-';
    if (i == Text.size()) return false;
    // Magnitude up to 2^63 so that the most negative value still parses.
    const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    uint64_t value = 0;
    for (; i < Text.size(); ++i) {
        char c = Text[i];
        if (c < '0' || c > '9') return false;
        unsigned digit = unsigned(c - '0');
        if (value > (limit - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (negative) value = uint64_t(0) - value;
    Root = static_cast<uint32_t>(value & 0xFFFFFFFFu);
    return true;
}

bool IsPredefinedRoot(uint32_t Root) { return Root >= Journal::RootClassesRoot && Root <= 0x80000005u; }

bool ParseRegKeyArgument(const std::string& Argument, TRegistryArgument& Result) {
    size_t bar = Argument.find('|');
    if (bar == std::string::npos) return false;
    TRegistryArgument parsed;
    if (!ParseRegistryRoot(Argument.substr(0, bar), parsed.Root)) return false;
    parsed.Key = Argument.substr(bar + 1);
    Result = std::move(parsed);
    return true;
}

bool ParseRegValueArgument(const std::string& Argument, TRegistryArgument& Result) {
    size_t bar = Argument.find('|');
    if (bar == std::string::npos) return false;
    size_t second = Argument.find('|', bar + 1);
    if (second == std::string::npos) return false;
    TRegistryArgument parsed;
    if (!ParseRegistryRoot(Argument.substr(0, bar), parsed.Root)) return false;
    parsed.Key = Argument.substr(bar + 1, second - bar - 1);
    parsed.ValueName = Argument.substr(second + 1);
    Result = std::move(parsed);
    return true;
}

namespace {

bool IsSeparator(char C) { return C == '\\' || C == '/'; }

// Without its trailing separators; a trail byte 0x5C of a double-byte character stays.
std::string StripSeparators(std::string Path, const TCharSet& Chars, bool All) {
    while (!Path.empty() && EndsWithSeparator(Path, Chars)) {
        Path.pop_back();
        if (!All) break;
    }
    return Path;
}

bool IsAsciiLetter(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }

}  // namespace

bool SameFolderPath(const std::string& A, const std::string& B, const TCharSet& Chars) {
    return SameTextAscii(StripSeparators(A, Chars, false), StripSeparators(B, Chars, false));
}

bool IsRootFolder(const std::string& Folder, const TCharSet& Chars) {
    // Blanks and control characters around a path do not make it name anything else.
    std::string path = TrimControl(Folder);
    // Long-path and device prefixes: "\\?\C:\", "\\?\UNC\server\share\".
    if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '?' || path[2] == '.') &&
        IsSeparator(path[3])) {
        std::string rest = path.substr(4);
        if (rest.size() >= 4 && SameTextAscii(rest.substr(0, 3), "UNC") && IsSeparator(rest[3]))
            return IsRootFolder("\\\\" + rest.substr(4), Chars);
        return IsRootFolder(rest, Chars);
    }
    path = StripSeparators(path, Chars, true);
    if (path.empty()) return true;
    if (path.size() == 2 && IsAsciiLetter(path[0]) && path[1] == ':') return true;
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // "\\server" or "\\server\share": fewer than three parts below the double separator.
        int parts = 0;
        bool inPart = false;
        for (size_t i = 2; i < path.size(); ++i) {
            if (IsSeparator(path[i])) {
                inPart = false;
            } else if (!inPart) {
                inPart = true;
                ++parts;
            }
        }
        return parts <= 2;
    }
    return false;
}

bool IsPrjFolder(const std::string& Folder) { return SameTextAscii(Folder.substr(0, 7), "c:\\prj\\"); }

bool MayEmptyInstallFolder(const std::vector<std::string>& Lines, const std::string& InstallFolder,
                           const TCharSet& Chars) {
    if (IsRootFolder(InstallFolder, Chars) || IsPrjFolder(InstallFolder)) return false;
    for (const std::string& line : Lines) {
        TJournalLine parsed = ParseJournalLine(line);
        if (parsed.Action == TJournalAction::CreateFolder && SameFolderPath(parsed.Argument, InstallFolder, Chars))
            return true;
    }
    return false;
}
