// Times DigestStream over a file, the way the package check reads it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/md5.h"
#include "support/Streams.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: md5_bench FILE\n");
        return 2;
    }
    TStdFileStream stream(argv[1], TStdFileStream::TMode::Read);
    int64_t size = stream.Size();
    auto start = std::chrono::steady_clock::now();
    TMD5Digest digest = DigestStream(stream, 0, size);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %.4f\n", DigestToText(digest).c_str(), seconds);
    return 0;
}
