// Reference for the extraction benchmark: what extracting costs with zlib and the
// C library alone. It reads the package directory by hand and writes every entry
// but setup.xml below FOLDER (flat: the benchmark's names are unique), inflating
// the zlib ones through buffers of KIB KiB (64 unless given: the engine's block).
// Prints the seconds taken and the peak memory above the start.
//   inflate_ref [KIB] PACKAGE FOLDER
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"

namespace {

size_t Chunk = 64 * 1024;

int32_t Int32At(const unsigned char* p) {
    return static_cast<int32_t>(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

bool Fail(const char* What) {
    std::fprintf(stderr, "inflate_ref: %s\n", What);
    return false;
}

bool Extract(std::FILE* in, int32_t Offset, int32_t Size, bool Compressed, std::FILE* out, unsigned char* inBuf,
             unsigned char* outBuf) {
    if (fseek(in, Offset, SEEK_SET) != 0) return Fail("seek");
    if (!Compressed) {
        for (int64_t left = Size; left > 0;) {
            size_t n = std::fread(inBuf, 1, left < int64_t(Chunk) ? size_t(left) : Chunk, in);
            if (n == 0 || std::fwrite(inBuf, 1, n, out) != n) return Fail("copy");
            left -= int64_t(n);
        }
        return true;
    }
    z_stream z;
    std::memset(&z, 0, sizeof(z));
    if (inflateInit(&z) != Z_OK) return Fail("inflateInit");
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0) {
            z.avail_in = static_cast<uInt>(std::fread(inBuf, 1, Chunk, in));
            z.next_in = inBuf;
            if (z.avail_in == 0) break;
        }
        z.next_out = outBuf;
        z.avail_out = static_cast<uInt>(Chunk);
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        size_t n = Chunk - z.avail_out;
        if (std::fwrite(outBuf, 1, n, out) != n) break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END || Fail("inflate");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4) {
        Chunk = std::strtoul(argv[1], nullptr, 10) * 1024;
        ++argv, --argc;
    }
    if (argc != 3 || Chunk == 0) {
        std::fprintf(stderr, "usage: inflate_ref [KIB] PACKAGE FOLDER\n");
        return 2;
    }
    uint64_t idle = PeakMemory();
    double start = BenchNow();
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) return Fail("open"), 1;
    std::fseek(in, 0, SEEK_END);
    long length = std::ftell(in);
    unsigned char count[4];
    std::fseek(in, length - 20, SEEK_SET);
    if (std::fread(count, 1, 4, in) != 4) return Fail("count"), 1;
    int32_t n = Int32At(count);
    std::vector<unsigned char> directory(137 * size_t(n));
    std::fseek(in, length - 20 - 137 * long(n), SEEK_SET);
    if (std::fread(directory.data(), 1, directory.size(), in) != directory.size()) return Fail("directory"), 1;
    std::vector<unsigned char> inBuf(Chunk), outBuf(Chunk);
    for (int32_t i = 0; i < n; ++i) {
        const unsigned char* record = directory.data() + 137 * size_t(i);
        std::string name(reinterpret_cast<const char*>(record + 1), record[0]);
        if (name == "setup.xml") continue;
        std::FILE* out = std::fopen((std::string(argv[2]) + "/" + name).c_str(), "wb");
        if (!out) return Fail("create"), 1;
        bool ok = Extract(in, Int32At(record + 129), Int32At(record + 133), record[128] & 1, out, inBuf.data(),
                          outBuf.data());
        if (std::fclose(out) != 0 || !ok) return Fail("write"), 1;
    }
    std::fclose(in);
    double seconds = BenchNow() - start;
    std::printf("%.4f %llu\n", seconds, static_cast<unsigned long long>(PeakMemory() - idle));
    return 0;
}
