// The installer and uninstaller engines themselves, for the runs under Wine.
//   engine_bench verify FILE           TInstaller::VerifyPackage; prints "ok|bad SECONDS"
//   engine_bench extract FILE FOLDER   TInstaller::ExtractPackage into FOLDER;
//                                      prints "SECONDS PEAK_BYTES_ABOVE_START"
//   engine_bench install FILE FOLDER   VerifyPackage, then ExtractPackage, as setup runs
//                                      them; prints the same as extract
//   engine_bench uninstall FOLDER      TUninstaller::Uninstall of FOLDER; prints "SECONDS"
//   engine_bench deletetree FOLDER     TUninstaller::DeleteFolderTree alone: the same
//                                      files removed by a walk, without the journal
//   engine_bench download URL FILE     DownloadFile of URL into FILE; prints "SECONDS BYTES"
#include <windows.h>

#include <cstdio>
#include <string>

#include "Components/SetupUtils.h"
#include "app/InstallerUI.h"
#include "config/HTTPUnit.h"
#include "bench_util.h"

namespace {

// Nothing to ask in a fresh target folder; should it come to that, the answer is No.
class TQuietUI : public TApplicationUI {
public:
    bool Confirm(const std::string&, const std::string&) override { return false; }
    void ShowError(const std::string&, const std::string&) override {}
};

std::string WithBackslash(std::string Folder) {
    if (Folder.empty() || Folder.back() != '\\') Folder += '\\';
    return Folder;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const bool folderMode = mode == "uninstall" || mode == "deletetree";
    const bool fileMode = mode == "extract" || mode == "install" || mode == "download";
    if (!((mode == "verify" && argc == 3) || (fileMode && argc == 4) || (folderMode && argc == 3))) {
        std::fprintf(stderr,
                     "usage: engine_bench verify FILE | extract FILE FOLDER | install FILE FOLDER"
                     " | uninstall FOLDER | deletetree FOLDER | download URL FILE\n");
        return 2;
    }
    try {
        if (mode == "download") {
            std::string error;
            double start = BenchNow();
            if (!DownloadFile(argv[2], argv[3], error, nullptr)) {
                std::fprintf(stderr, "engine_bench: %s\n", error.c_str());
                return 1;
            }
            double seconds = BenchNow() - start;
            WIN32_FILE_ATTRIBUTE_DATA data{};
            GetFileAttributesExA(argv[3], GetFileExInfoStandard, &data);
            std::printf("%.4f %lu\n", seconds, data.nFileSizeLow);
            return 0;
        }
        if (folderMode) {
            const std::string folder = WithBackslash(argv[2]);
            TUninstaller uninstaller(folder);
            double start = BenchNow();
            if (mode == "uninstall")
                uninstaller.Uninstall();
            else
                uninstaller.DeleteFolderTree(folder);
            std::printf("%.4f\n", BenchNow() - start);
            return 0;
        }
        TQuietUI ui;
        uint64_t idle = PeakMemory();
        double start = BenchNow();
        TInstaller installer(argv[2]);
        installer.SetUI(&ui);
        if (mode == "verify") {
            bool ok = installer.VerifyPackage();
            std::printf("%s %.4f\n", ok ? "ok" : "bad", BenchNow() - start);
            return ok ? 0 : 1;
        }
        if (mode == "install" && !installer.VerifyPackage()) {
            std::fprintf(stderr, "engine_bench: the package is damaged\n");
            return 1;
        }
        installer.SetTargetFolder(WithBackslash(argv[3]));
        CreateDirectoryA(argv[3], nullptr);
        installer.ExtractPackage(nullptr, nullptr);
        double seconds = BenchNow() - start;
        std::printf("%.4f %llu\n", seconds, static_cast<unsigned long long>(PeakMemory() - idle));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "engine_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
