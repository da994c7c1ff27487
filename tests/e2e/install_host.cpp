// Test host: the wizard's installation run (app/InstallRun.h) without its
// window, which stops at an exact point and waits there for its driver to kill it.
//   install_host PACKAGE TARGET KIND N EVENT [--net REPORT]
// KIND "line", "block", "download" or "keep": after the N-th journal line, extraction
// block or downloaded block, or between the N-th written file's journal line and the
// clearing of its delete mark, the host sets the named event EVENT and waits.
// KIND "none": it runs to the end and its exit code is the number of lines plus
// 65536 times the number of blocks.
// No speech component is ticked, so an installer runs only when the Agent
// runtime is missing. Without --net no character is ticked; with --net every
// character offered is, and the host writes REPORT: "question TEXT" for each
// question, "offered NAME" for each character offered, "error TEXT" for each
// error box (CR and LF as \r and \n), "downloads N", then "end done",
// "end halted" or "end failed: WHY", one a line ending in CR LF.
// ORVAND_HOST_TIMEOUT sets the download time-out in milliseconds. ORVAND_HOST_SWAP
// "N|FROM|TO" copies FROM over TO at the N-th keep point, as anyone who may write
// there could.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include "Components/SetupUtils.h"
#include "app/InstallRun.h"
#include "app/Utils.h"
#include "config/HTTPUnit.h"
#include "scripted_ui.h"
#include "wintest_util.h"

namespace {

std::string Escaped(const std::string& Text) {
    std::string out;
    for (char c : Text) out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const bool net = argc == 8 && std::strcmp(argv[6], "--net") == 0;
    if (argc != 6 && !net) {
        std::fprintf(stderr, "usage: install_host PACKAGE TARGET KIND N EVENT [--net REPORT]\n");
        return -1;
    }
    const std::string kind = argv[3];
    const int stopAt = std::atoi(argv[4]);
    TKernelHandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[5]));
    if (const char* timeout = std::getenv("ORVAND_HOST_TIMEOUT")) SetDownloadTimeout(std::atoi(timeout));
    const std::string swap = std::getenv("ORVAND_HOST_SWAP") ? std::getenv("ORVAND_HOST_SWAP") : "";
    const size_t from = swap.find('|') + 1, to = swap.find('|', from) + 1;
    const int swapAt = swap.empty() ? 0 : std::atoi(swap.c_str());
    wintest::ComScope com;
    // Journal lines, extraction blocks, downloaded blocks and keeps, in the order of TInstaller::TStep.
    int counts[4] = {};
    const char* const kinds[] = {"line", "block", "download", "keep"};
    wintest::TScriptedUI ui;
    std::vector<std::string> offered;
    std::string end = "done";
    int code = 0;
    try {
        TInstaller installer(argv[1]);
        installer.SetUI(&ui);
        installer.OnStep = [&](TInstaller::TStep Step) {
            const int i = static_cast<int>(Step), count = ++counts[i];
            if (Step == TInstaller::TStep::BeforeKeep && count == swapAt)
                CopyFileA(swap.substr(from, to - from - 1).c_str(), swap.substr(to).c_str(), FALSE);
            if (count == stopAt && kind == kinds[i]) {
                SetEvent(event.Get());
                Sleep(INFINITE);
            }
        };
        if (!PrepareTarget(installer, NormalizeFolderPath(argv[2]))) throw std::runtime_error("cannot make the target");
        TInstallRun run(installer, nullptr, nullptr);
        run.Run(TComponentChoice{});
        int present = 0;
        for (const std::shared_ptr<IXMLCharacterType>& character : run.CharactersToOffer(present)) {
            offered.push_back(WideToAnsi(character->FileName()));
            // A user who ticks every box.
            if (net) run.FetchCharacter(*character);
        }
        code = counts[0] + 65536 * counts[1];
    } catch (const wintest::THalted&) {
        end = "halted";
        code = -1;
    } catch (const std::exception& e) {
        end = std::string("failed: ") + e.what();
        code = -1;
    }
    if (!net) {
        if (code < 0) std::fprintf(stderr, "install_host: %s\n", end.c_str());
        return code;
    }
    std::ofstream report(argv[7], std::ios::binary);
    for (const std::string& question : ui.Questions) report << "question " << Escaped(question) << "\r\n";
    for (const std::string& name : offered) report << "offered " << name << "\r\n";
    for (const std::string& error : ui.Errors) report << "error " << Escaped(error) << "\r\n";
    report << "downloads " << counts[2] << "\r\n"
           << "end " << Escaped(end) << "\r\n";
    return code;
}
