// Reference for the download benchmark: WinInet alone, as plainly as it can be
// called. One InternetReadFile of KIB... bytes after another on the calling
// thread, written with WriteFile; no time limit, no progress, no digest.
// Prints the seconds taken and the bytes written.
//   wininet_ref BYTES URL FILE
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_util.h"

int main(int argc, char** argv) {
    const DWORD block = argc == 4 ? std::strtoul(argv[1], nullptr, 10) : 0;
    if (block == 0) {
        std::fprintf(stderr, "usage: wininet_ref BYTES URL FILE\n");
        return 2;
    }
    const double start = BenchNow();
    HINTERNET session = InternetOpenA("wininet_ref", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET request = session ? InternetOpenUrlA(session, argv[2], nullptr, 0, 0, 0) : nullptr;
    HANDLE file = CreateFileA(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!request || file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "wininet_ref: cannot open %s or %s\n", argv[2], argv[3]);
        return 1;
    }
    std::vector<char> buffer(block);
    unsigned long long total = 0;
    DWORD got = 0, written = 0;
    while (InternetReadFile(request, buffer.data(), block, &got) && got > 0) {
        if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) {
            std::fprintf(stderr, "wininet_ref: cannot write %s\n", argv[3]);
            return 1;
        }
        total += got;
    }
    CloseHandle(file);
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    std::printf("%.4f %llu\n", BenchNow() - start, total);
    return 0;
}
