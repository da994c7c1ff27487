// Digest texts come from a downloaded configuration.
#include <cstdint>
#include <string>

#include "config/md5.h"
#include "support/Exceptions.h"
#include "tests/test_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    std::string text(reinterpret_cast<const char*>(Data), Size);
    // The digest of any bytes, printed as a setup.xml lists it, parses back to itself.
    if (ParseDigest(Md5Text(text)) != Md5Digest(text)) __builtin_trap();
    try {
        TMD5Digest digest = ParseDigest(text);
        // Whatever parses prints back to the same digits, ignoring case.
        std::string printed = DigestToText(digest);
        for (size_t i = 0; i < 32; ++i)
            if (printed[i] != (text[i] >= 'A' && text[i] <= 'F' ? text[i] - 'A' + 'a' : text[i])) __builtin_trap();
    } catch (const EConvertError&) {
    }
    return 0;
}
