#include "tools/zopfli_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" {
#include <zopfli/deflate.h>
#include <zopfli/zopfli.h>
}

namespace {

constexpr size_t WindowSize = 32768;

// Fills Buffer from Source until it is full or Source ends; returns how much it holds.
size_t ReadPart(TStream& Source, std::vector<unsigned char>& Buffer) {
    Buffer.resize(ZopfliPartSize);
    size_t have = 0;
    while (have < Buffer.size()) {
        size_t got = Source.Read(Buffer.data() + have, Buffer.size() - have);
        if (got == 0) break;
        have += got;
    }
    Buffer.resize(have);
    return have;
}

}  // namespace

int64_t ZopfliStream(TStream& Source, TStream& Dest, const std::function<void()>& Poll,
                     const std::function<void(size_t)>& Done) {
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    // More iterations gain little on large files and cost time in proportion.
    options.numiterations = 5;

    const unsigned char header[2] = {0x78, 0xDA};  // deflate, 32 KiB window, best compression
    Dest.WriteBuffer(header, sizeof(header));
    uLong adler = adler32(0, nullptr, 0);
    int64_t size = 0;
    std::vector<unsigned char> data, part, next;  // data: window, then the part
    ReadPart(Source, part);
    for (;;) {
        Poll();
        bool last = ReadPart(Source, next) == 0;
        size_t window = std::min(data.size(), WindowSize);
        data.erase(data.begin(), data.end() - static_cast<std::ptrdiff_t>(window));
        data.insert(data.end(), part.begin(), part.end());

        unsigned char bits = 0;
        unsigned char* out = nullptr;
        size_t outSize = 0;
        ZopfliDeflatePart(&options, 2, last ? 1 : 0, data.data(), window, data.size(), &bits, &out, &outSize);
        std::unique_ptr<unsigned char, decltype(&std::free)> owned(out, &std::free);
        std::vector<unsigned char> tail;
        if (!last) {
            // An empty stored block: three zero bits, then zeros to the byte boundary.
            if (bits == 0 || bits > 5) tail.push_back(0);
            tail.insert(tail.end(), {0x00, 0x00, 0xFF, 0xFF});
        }
        Dest.WriteBuffer(out, outSize);
        if (!tail.empty()) Dest.WriteBuffer(tail.data(), tail.size());

        adler = adler32(adler, part.data(), static_cast<uInt>(part.size()));
        size += static_cast<int64_t>(part.size());
        if (Done) Done(part.size());
        if (last) break;
        part.swap(next);
    }
    const unsigned char trailer[4] = {static_cast<unsigned char>(adler >> 24), static_cast<unsigned char>(adler >> 16),
                                      static_cast<unsigned char>(adler >> 8), static_cast<unsigned char>(adler)};
    Dest.WriteBuffer(trailer, sizeof(trailer));
    return size;
}
