#pragma once
// The installation run without the wizard's window: the steps from the
// location page to the characters' download, in the wizard's order. The
// wizard and the test host both call these, so they cannot tell apart.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Components/SetupUtils.h"
#include "app/SetupRules.h"

// Asked while a running product does not close; Yes ends setup.
extern const char* const RunningProductQuestion;

// The destination folder, wherever the wizard and the silent modes take it from:
// the one proposed (the Program Files folder, "Orvand\" below it), one picked in
// the folder browser ("Orvand\" below it too), and one typed (the wizard's edit
// box, -dir=): blanks and control characters trimmed, a final "\" ensured. The
// wizard shows each as it is; PrepareTarget makes it full.
std::string ProposedDestination();
std::string PickedDestination(const std::string& Folder);
std::string TypedDestination(const std::string& Text);

// Location page: makes Folder (as TypedDestination gives it) full once, through
// FullPath, and gives it to the engine as
// its target; makes the folder and holds it, opens the journal in it behind its
// banner and makes temp, setup's own. False when the folder is relative or
// cannot be made; ETargetRefused, with the reason, when a link leads there or
// others than the administrators can change it (TInstaller::HoldTarget).
bool PrepareTarget(TInstaller& Installer, const std::string& Folder);

class TInstallRun {
public:
    // StatusLabel and ProgressBar may be null: nothing shows the progress then.
    TInstallRun(TInstaller& Installer, HWND StatusLabel, HWND ProgressBar);

    // Called once the list of installers is known, before the progress page's
    // first text: the wizard shows its reboot notice and its progress page.
    std::function<void(bool InstallersToRun)> OnListed;
    // For every user of the computer: the shortcuts in the common desktop and
    // Start menu, the autostart value under HKEY_LOCAL_MACHINE.
    bool AllUsers = false;

    // From the list of installers to the product's registration. Speech says
    // which speech components were ticked; the Agent runtime is tested here.
    // Answers whether installers were run, so that a restart is due.
    bool Run(const TComponentChoice& Speech);

    // The characters the configuration lists that are neither in the package
    // nor in data\, in document order; Present counts the others.
    std::vector<std::shared_ptr<IXMLCharacterType>> CharactersToOffer(int& Present);
    // Fetches one chosen character into data\.
    void FetchCharacter(IXMLCharacterType& Character);

private:
    void SetStatus(const std::string& Text);
    void CloseRunningProduct();
    void FetchPrerequisites(const std::vector<TPrerequisite>& Prerequisites);
    void InstallPrerequisites(const std::vector<TPrerequisite>& Prerequisites);
    void RegisterProduct();
    TUninstallDetails UninstallDetails();

    TInstaller& FInstaller;
    HWND FStatusLabel, FProgressBar;
};
