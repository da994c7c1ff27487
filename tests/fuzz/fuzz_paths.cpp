// Folder texts come from the user and from the package.
#include <cstdint>
#include <string>

#include "Components/SetupPaths.h"
#include "app/PathUtils.h"

namespace {
bool ShiftJisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    std::string path(reinterpret_cast<const char*>(Data), Size);
    for (TLeadBytePredicate lead : {static_cast<TLeadBytePredicate>(nullptr), &ShiftJisLead}) {
        std::string normal = NormalizeFolderPathWith(path, lead);
        if (normal.empty() || (normal.back() != '\\' && normal.back() != '/')) __builtin_trap();
        // A text ending in a lone lead byte takes the appended "\" as its trail
        // byte, so only single-byte texts are stable under a second pass.
        if (!lead && NormalizeFolderPathWith(normal, lead) != normal) __builtin_trap();
    }
    if (path.empty()) return 0;
    for (TLeadBytePredicate lead : {static_cast<TLeadBytePredicate>(nullptr), &ShiftJisLead}) {
        // Walking up always ends: each step is shorter or a fixed point.
        std::string p = path;
        for (size_t steps = 0; steps <= path.size() + 1; ++steps) {
            std::string parent = ExtractParentFolderWith(p, lead);
            if (parent == p) break;
            if (parent.size() >= p.size() || parent.empty()) __builtin_trap();
            p = parent;
        }
    }
    return 0;
}
