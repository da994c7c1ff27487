#include "tools/libdeflate_stream.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Components/PackageWriter.h"

namespace {

// What was read already, then the rest of Source: how a file that turned out too
// large for one buffer reaches zlib without being read twice.
class TPrefixedStream : public TStream {
public:
    TPrefixedStream(const std::vector<uint8_t>& Prefix, TStream& Rest) : FPrefix(Prefix), FRest(Rest) {}
    size_t Read(void* Buffer, size_t Count) override {
        if (FDone < FPrefix.size()) {
            size_t n = std::min(Count, FPrefix.size() - FDone);
            std::memcpy(Buffer, FPrefix.data() + FDone, n);
            FDone += n;
            return n;
        }
        return FRest.Read(Buffer, Count);
    }
    size_t Write(const void*, size_t) override { throw EPackageError("A source file is read only."); }
    int64_t Seek(int64_t, TSeekOrigin) override { throw EPackageError("A source file is read once, in order."); }

private:
    const std::vector<uint8_t>& FPrefix;
    TStream& FRest;
    size_t FDone = 0;
};

}  // namespace

int64_t LibdeflateStream(TStream& Source, TStream& Dest, const std::function<void()>& Poll, size_t WholeLimit) {
    constexpr size_t Step = size_t{4} << 20;
    std::vector<uint8_t> data;
    size_t have = 0;
    // One byte past the limit tells a file of exactly WholeLimit bytes from a longer one.
    while (have <= WholeLimit) {
        Poll();
        data.resize(std::min(have + Step, WholeLimit + 1));
        size_t got = Source.Read(data.data() + have, data.size() - have);
        if (got == 0) break;
        have += got;
    }
    data.resize(have);
    if (have > WholeLimit) {
        TPrefixedStream whole(data, Source);
        return DeflateStream(whole, Dest, Poll);
    }

    Poll();
    std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(9), &libdeflate_free_compressor);
    if (!compressor) throw EPackageError("libdeflate could not be set up.");
    std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), have));
    size_t size = libdeflate_zlib_compress(compressor.get(), data.data(), have, out.data(), out.size());
    if (size == 0) throw EPackageError("libdeflate could not compress a file.");
    Dest.WriteBuffer(out.data(), size);
    return static_cast<int64_t>(have);
}
