// Program entry: the first argument chooses between setup and uninstall.
#include <windows.h>

#include <shellapi.h>

#include <cstring>
#include <vector>

#include "app/Application.h"
#include "app/_setup.h"
#include "app/_uninstall.h"
#include "app/SilentRun.h"
#include "app/Utils.h"
#include "support/SystemLibrary.h"
#include "support/UniqueResource.h"

namespace {

// The arguments exactly as given, without the program's name.
std::vector<std::string> Arguments() {
    int argc = 0;
    TLocalMemory<LPWSTR> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    std::vector<std::string> arguments;
    for (int i = 1; argv && i < argc; ++i) arguments.push_back(WideToAnsi(argv.Get()[i]));
    return arguments;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearch();
    // Held from here on, shared with readers only: the file UAC showed can be
    // neither renamed nor replaced while setup reads its package from it.
    std::unique_ptr<TStream> package = OpenRunningProgram();
    const TCommandLine command = ParseCommandLine(Arguments());
    if (command.Mode == TRunMode::Uninstall || command.Mode == TRunMode::SilentRemove) package.reset();
    if (command.Mode != TRunMode::Wizard && command.Mode != TRunMode::Uninstall)
        return RunSilent(command, std::move(package));
    Application.Initialize();
    try {
        if (command.Mode == TRunMode::Uninstall) {
            Application.ShowMainForm = false;
            Application.SetMainForm(std::make_unique<TFormUninstall>());
        } else {
            // The main form first: FormCreate may end the program, which destroys the main form.
            auto setup = std::make_unique<TSetupForm>(std::move(package));
            setup->FAllUsers = command.AllUsers;
            TSetupForm& form = *setup;
            Application.SetMainForm(std::move(setup));
            form.FormCreate();
        }
    } catch (const std::exception& e) {
        Application.HandleException(e);
        Application.Halt();
    }
    Application.Run();
    return 0;
}
