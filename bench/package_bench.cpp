// The package check and extraction through the portable reader: the code the
// installer engine runs, minus the Win32 file streams.
//   package_bench verify FILE           prints "ok|bad SECONDS"
//   package_bench extract FILE FOLDER   prints "SECONDS PEAK_BYTES_ABOVE_START"
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "Components/PackageFormat.h"
#include "bench_util.h"
#include "support/PathUtils.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!((mode == "verify" && argc == 3) || (mode == "extract" && argc == 4))) {
        std::fprintf(stderr, "usage: package_bench verify FILE | extract FILE FOLDER\n");
        return 2;
    }
    try {
        uint64_t idle = PeakMemory();
        double start = BenchNow();
        TPackageReader package(std::make_unique<TStdFileStream>(argv[2], TStdFileStream::TMode::Read));
        if (mode == "verify") {
            bool ok = package.Verify();
            std::printf("%s %.4f\n", ok ? "ok" : "bad", BenchNow() - start);
            return ok ? 0 : 1;
        }
        // As the engine extracts: every entry but setup.xml, below its folder.
        for (const TFileData& entry : package.Directory()) {
            if (SameTextAscii(EntryName(entry), "setup.xml")) continue;
            std::string folder = EntryFolder(entry).substr(2);
            for (char& c : folder)
                if (c == '\\') c = '/';
            std::filesystem::path dir = std::filesystem::path(argv[3]) / folder;
            std::filesystem::create_directories(dir);
            TStdFileStream out((dir / EntryName(entry)).string(), TStdFileStream::TMode::Create);
            package.Decode(entry, out);
        }
        double seconds = BenchNow() - start;
        std::printf("%.4f %llu\n", seconds, static_cast<unsigned long long>(PeakMemory() - idle));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "package_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
