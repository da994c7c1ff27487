// The packer's usual deflater: any zlib reader must get the file back, whether
// libdeflate took it whole or it was too large and went on through zlib.
#ifdef ORVAND_LIBDEFLATE
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "Components/PackageWriter.h"
#include "tests/Components/PackageTestUtil.h"
#include "tools/libdeflate_stream.h"

using namespace packtest;

namespace {

// Words and lines, like the text a product ships: a few hundred words, the first
// ones far more often than the rest.
Bytes Words(size_t Size) {
    static const char* const syllables[] = {"ka",   "ro",  "mer", "lin", "ge",  "nie", "pe", "dy", "bal",
                                            "loon", "spe", "ak",  "cha", "rac", "ter", "og", "um", "vand"};
    std::vector<std::string> words;
    for (uint32_t i = 0; words.size() < 400; ++i)
        words.push_back(std::string(syllables[i % 18]) + syllables[(i / 18) % 18] +
                        (i % 3 ? "" : syllables[(i * 7) % 18]));
    Bytes b;
    uint32_t seed = 7, column = 0;
    while (b.size() < Size) {
        seed = seed * 1103515245u + 12345u;
        uint32_t r = seed >> 8;
        const std::string& w = words[((r & 0x3FF) * ((r >> 10) & 0x3FF) >> 10) % words.size()];
        b.insert(b.end(), w.begin(), w.end());
        column += static_cast<uint32_t>(w.size()) + 1;
        const std::string gap = column > 72 ? "\r\n" : " ";
        b.insert(b.end(), gap.begin(), gap.end());
        if (column > 72) column = 0;
    }
    b.resize(Size);
    return b;
}

Bytes Inflated(const Bytes& Stream, size_t Size) {
    Bytes out(Size + 1);
    uLongf outSize = static_cast<uLongf>(out.size());
    EXPECT_EQ(uncompress(out.data(), &outSize, Stream.data(), static_cast<uLong>(Stream.size())), Z_OK);
    out.resize(outSize);
    return out;
}

struct TDeflated {
    Bytes Stream;
    int64_t Read;
};

TDeflated Deflate(const Bytes& Data, size_t Limit) {
    TMemoryStream source(Data), dest;
    int64_t read = LibdeflateStream(
        source, dest, [] {}, Limit);
    return {dest.Data(), read};
}

TEST(LibdeflateStream, EverySizeAroundTheLimitComesBackWhole) {
    const size_t limit = 3000;
    for (size_t size : {size_t{0}, size_t{1}, limit - 1, limit, limit + 1, 5 * limit}) {
        SCOPED_TRACE(size);
        Bytes data = Words(size);
        TDeflated d = Deflate(data, limit);
        EXPECT_EQ(d.Read, static_cast<int64_t>(size));
        EXPECT_EQ(Inflated(d.Stream, size), data);
    }
}

TEST(LibdeflateStream, ALongerFileGoesOnThroughZlibWithNothingLostOrReadTwice) {
    // Past the limit the bytes must be exactly zlib's level 9 of the whole file.
    Bytes data = Words(20000);
    TMemoryStream source(data), reference;
    DeflateStream(source, reference, [] {});
    EXPECT_EQ(Deflate(data, 4096).Stream, reference.Data());
}

}  // namespace
#endif
