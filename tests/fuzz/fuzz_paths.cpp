// Folder texts come from the user and from the package.
#include <cstdint>
#include <string>

#include "Components/SetupPaths.h"
#include "support/PathUtils.h"
#include "tests/test_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    std::string path(reinterpret_cast<const char*>(Data), Size);
    const TCharSet charSets[] = {TCharSet(), TCharSet(ShiftJisLead), TCharSet::Utf8()};
    for (const TCharSet& chars : charSets) {
        std::string normal = NormalizeFolderPathWith(path, chars);
        if (normal.empty() || (normal.back() != '\\' && normal.back() != '/')) __builtin_trap();
        // A text ending in a lone lead byte takes the appended "\" as its trail
        // byte; UTF-8 never takes an ASCII byte into a character.
        bool doubleByte = &chars == &charSets[1];
        if (!doubleByte && NormalizeFolderPathWith(normal, chars) != normal) __builtin_trap();
        for (size_t i = 0, next; i < path.size(); i = next)
            if ((next = chars.Next(path, i)) <= i || next > path.size()) __builtin_trap();
    }
    if (path.empty()) return 0;
    for (const TCharSet& chars : charSets) {
        // Walking up always ends: each step is shorter or a fixed point.
        std::string p = path;
        for (size_t steps = 0; steps <= path.size() + 1; ++steps) {
            std::string parent = ExtractParentFolderWith(p, chars);
            if (parent == p) break;
            if (parent.size() >= p.size() || parent.empty()) __builtin_trap();
            p = parent;
        }
    }
    return 0;
}
