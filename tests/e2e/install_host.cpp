// Test host: the engine steps of an installation run, which stops at an exact
// point and waits there for its driver to kill it.
//   install_host PACKAGE TARGET KIND N EVENT
// KIND "line" or "block": after the N-th journal line or extraction block the
// host sets the named event EVENT and waits. KIND "none": it runs to the end
// and its exit code is the number of lines plus 65536 times the number of blocks.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "Components/SetupUtils.h"
#include "scripted_install.h"
#include "scripted_ui.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: install_host PACKAGE TARGET line|block|none N EVENT\n");
        return -1;
    }
    const std::string kind = argv[3];
    const int stopAt = std::atoi(argv[4]);
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[5]);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int lines = 0, blocks = 0;
    try {
        wintest::TScriptedUI ui;
        TInstaller installer(argv[1]);
        installer.SetUI(&ui);
        installer.OnStep = [&](TInstaller::TStep Step) {
            bool line = Step == TInstaller::TStep::JournalLine;
            int count = line ? ++lines : ++blocks;
            if (count == stopAt && kind == (line ? "line" : "block")) {
                SetEvent(event);
                Sleep(INFINITE);
            }
        };
        wintest::RunScriptedInstallation(installer, argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "install_host: %s\n", e.what());
        return -1;
    } catch (...) {
        std::fprintf(stderr, "install_host: halted\n");
        return -1;
    }
    return lines + 65536 * blocks;
}
