// Program entry: the first argument chooses between setup and uninstall.
#include <windows.h>

#include <shellapi.h>

#include <cstring>

#include "app/Application.h"
#include "app/_setup.h"
#include "app/_uninstall.h"
#include "app/Utils.h"
#include "support/SystemLibrary.h"

namespace {

// The first argument exactly as given, or empty.
std::string FirstArgument() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::string first;
    if (argv && argc > 1) first = WideToAnsi(argv[1]);
    if (argv) LocalFree(argv);
    return first;
}

}  // namespace

bool IsUninstallArgument(const std::string& Argument) { return Argument == "-uninstall" || Argument == "-remove"; }

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    Application.Initialize();
    try {
        if (IsUninstallArgument(FirstArgument())) {
            Application.ShowMainForm = false;
            Application.SetMainForm(new TFormUninstall());
        } else {
            // The main form first: FormCreate may end the program, which destroys the main form.
            auto* setup = new TSetupForm();
            Application.SetMainForm(setup);
            setup->FormCreate();
        }
    } catch (const std::exception& e) {
        Application.HandleException(e);
        Application.Halt();
    }
    Application.Run();
    return 0;
}
