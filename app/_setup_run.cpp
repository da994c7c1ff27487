// The installation run of the wizard: from the components page to the finish page.
#include <shlobj.h>

#include "app/_setup.h"

namespace {

const int DesktopFolder = CSIDL_DESKTOPDIRECTORY;  // 0x10
const int ProgramsFolder = CSIDL_PROGRAMS;         // 2

}  // namespace

void TSetupForm::RunInstallation() {
    TComponentChoice choice;
    choice.AgentInstalled = FInstaller->IsAgentRuntimeInstalled();
    choice.SpeechApi = IsChecked(CmpCheckBox2);
    choice.TruVoice = IsChecked(CmpCheckBox3);
    choice.Tts3000 = IsChecked(CmpCheckBox4);
    std::vector<TPrerequisite> prerequisites =
        ListPrerequisites(choice, [this](const std::string& Name) { return FInstaller->PackageContains(Name); });

    if (!prerequisites.empty()) ShowMessageBox(RebootNotice, "Information", MB_OK | MB_ICONINFORMATION);
    FRebootNeeded = !prerequisites.empty();

    ShowPanel(InstallPanel);
    SetStatus("Retrieving setup config. Please Wait...");
    RefreshConfiguration();
    CloseRunningProduct();
    FetchPrerequisites(prerequisites);
    FInstaller->ExtractPackage(InstallLabel, InstallProgressBar);
    InstallPrerequisites(prerequisites);
    if (!FInstaller->IsAgentRuntimeInstalled()) {
        ShowError("Microsoft Agent Runtime is required, but not found on your computer. Please install Orvand again.");
        Application.Halt();
    }
    RegisterProduct();
    FillCharactersList();
    if (CheckListCount(CharactersListBox) > 0)
        ShowPanel(CharactersPanel);
    else
        ShowDonePage();
}

void TSetupForm::CloseRunningProduct() {
    while (!CloseRunningInstance())
        if (ShowMessageBox("Running Orvand application detected. Terminate setup?", "Confirm",
                           MB_YESNO | MB_ICONQUESTION) == IDYES)
            Application.Halt();
}

void TSetupForm::InstallPrerequisites(const std::vector<TPrerequisite>& Prerequisites) {
    for (const TPrerequisite& item : Prerequisites) {
        SetStatus("Running: " + item.InstallerName);
        const std::string path = FInstaller->GetTempFolder() + item.InstallerName;
        // Checked again through the handle that keeps it unchanged until it has started.
        FInstaller->HoldInstaller(path);
        // Hides the wizard while the installer runs; a confirmed Cancel ends setup in there.
        FInstaller->RunAndWait(path, "");
    }
}

void TSetupForm::RegisterProduct() {
    const std::string target = FInstaller->FTargetFolder;
    FInstaller->CreateShortcut(DesktopFolder, target + "orvand.exe", "", "Orvand.lnk", "");
    FInstaller->CreateShortcut(ProgramsFolder, target + "orvand.exe", "", "Orvand.lnk", "Orvand");
    FInstaller->CreateShortcut(ProgramsFolder, target + "install.exe", "-remove", "Uninstall.lnk", "Orvand");
    FInstaller->WriteUninstallEntry("Orvand", target + "install.exe", "-remove");
    FInstaller->WriteAutostartEntry(target + "orvand.exe");
    FInstaller->AddMenuExtension("&Copy to Orvand", target + "data\\script.htm", 0x10);
    FInstaller->RegisterComLibrary(target + "bridge.ocx");
}
