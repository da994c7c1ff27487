// Journal text from disk is untrusted: splitting and parsing must hold for any bytes.
#include <cstdint>
#include <string>

#include "Components/JournalFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    std::string text(reinterpret_cast<const char*>(Data), Size);
    size_t total = 0;
    for (const std::string& line : SplitJournalLines(text)) {
        if (line.find('\r') != std::string::npos || line.find('\n') != std::string::npos) __builtin_trap();
        total += line.size();
        TJournalLine parsed = ParseJournalLine(line);
        if (parsed.Action != TJournalAction::None && parsed.Keyword.size() + 1 + parsed.Argument.size() != line.size())
            __builtin_trap();
        TRegistryArgument reg;
        if (ParseRegValueArgument(parsed.Argument, reg) && reg.Key.find('|') != std::string::npos) __builtin_trap();
        ParseRegKeyArgument(parsed.Argument, reg);
    }
    if (total > text.size()) __builtin_trap();
    // The emptying guard must hold for any journal and folder text.
    std::vector<std::string> lines = SplitJournalLines(text);
    std::string folder = lines.empty() ? std::string() : lines.front();
    if (MayEmptyInstallFolder(lines, folder, nullptr) && (IsRootFolder(folder, nullptr) || IsPrjFolder(folder)))
        __builtin_trap();
    return 0;
}
