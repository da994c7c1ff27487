// The installation run's steps. The engine's configuration refresh, FetchFile
// and GetConfiguration are called from here only.
#include "app/InstallRun.h"

#include <shlobj.h>

#include "Components/TargetGuard.h"
#include "Components/TargetLinks.h"
#include "Components/TargetRules.h"
#include "app/Utils.h"
#include "support/FileSystem.h"
#include "support/VersionInfo.h"

using namespace SetupNames;

namespace {

const int DesktopFolder = CSIDL_DESKTOPDIRECTORY;  // 0x10
const int ProgramsFolder = CSIDL_PROGRAMS;         // 2
const char* const DataFolder = "data\\";
const char* const OrvandSubFolder = "Orvand\\";

}  // namespace

const char* const RunningProductQuestion = "Running Orvand application detected. Terminate setup?";

std::string ProposedDestination() { return PickedDestination(GetProgramFilesFolder()); }

std::string PickedDestination(const std::string& Folder) { return NormalizeFolderPath(Folder) + OrvandSubFolder; }

std::string TypedDestination(const std::string& Text) { return NormalizeFolderPath(Text); }

bool PrepareTarget(TInstaller& Installer, const std::string& Folder) {
    // A relative path would be resolved against whatever folder setup, and later
    // the uninstaller, happens to run in: only absolute destinations are made.
    if (!IsAbsoluteFolderPath(Folder)) return false;
    // Once, as the system resolves it: every line of the journal, and the uninstaller,
    // name the folder so ("C:\a\..\b\" is made, journalled and removed as "C:\b\").
    std::string target;
    try {
        target = FullPath(Folder);
    } catch (const EInstallException&) {
        return false;
    }
    const std::string link = LinkBelow(PathRoot(target), target);
    if (!link.empty()) throw ETargetRefused(LinkRefusal(target, link));
    const bool made = !FolderExists(target);
    if (!Installer.ForceFolder(target)) return false;
    Installer.HoldTarget(target, made);
    Installer.OpenJournal(target);
    // An earlier removal left the folder and its uninstaller to go at the next restart.
    DropRestartDeletions(target);
    const bool tempMade = !FolderExists(Installer.GetTempFolder());
    Installer.ForceFolder(Installer.GetTempFolder());
    if (!tempMade) Installer.GuardTempFolder();
    return true;
}

TInstallRun::TInstallRun(TInstaller& Installer, HWND StatusLabel, HWND ProgressBar)
    : FInstaller(Installer), FStatusLabel(StatusLabel), FProgressBar(ProgressBar) {}

bool TInstallRun::Run(const TComponentChoice& Speech) {
    TComponentChoice choice = Speech;
    choice.AgentInstalled = FInstaller.IsAgentRuntimeInstalled();
    std::vector<TPrerequisite> prerequisites =
        ListPrerequisites(choice, [this](const std::string& Name) { return FInstaller.PackageContains(Name); });
    if (OnListed) OnListed(!prerequisites.empty());

    SetStatus("Retrieving setup config. Please Wait...");
    FInstaller.RefreshConfiguration();
    CloseRunningProduct();
    FetchPrerequisites(prerequisites);
    FInstaller.ExtractPackage(FStatusLabel, FProgressBar);
    InstallPrerequisites(prerequisites);
    if (!FInstaller.IsAgentRuntimeInstalled()) {
        FInstaller.UI().ShowError(
            "Microsoft Agent Runtime is required, but not found on your computer. Please install Orvand again.",
            "Error");
        FInstaller.UI().Halt();
    }
    RegisterProduct();
    return !prerequisites.empty();
}

std::vector<std::shared_ptr<IXMLCharacterType>> TInstallRun::CharactersToOffer(int& Present) {
    Present = 0;
    std::vector<std::shared_ptr<IXMLCharacterType>> offered;
    std::shared_ptr<IXMLAgentcharactersType> characters = FInstaller.GetConfiguration()->AgentCharacters();
    for (int i = 0, n = characters->Count(); i < n; ++i) {
        std::shared_ptr<IXMLCharacterType> character = characters->Character(i);
        // The name comes from the network: one that could leave the data folder is neither looked for nor offered.
        if (!HasBareFileName(*character)) continue;
        const std::string fileName = WideToAnsi(character->FileName());
        if (FInstaller.PackageContains(fileName) || FileExists(FInstaller.TargetFolder() + DataFolder + fileName))
            ++Present;
        else
            offered.push_back(character);
    }
    return offered;
}

void TInstallRun::FetchCharacter(IXMLCharacterType& Character) {
    const std::string fileName = WideToAnsi(Character.FileName());
    FInstaller.FetchFile(fileName, FInstaller.TargetFolder() + DataFolder + fileName, FStatusLabel, FProgressBar);
}

void TInstallRun::SetStatus(const std::string& Text) {
    if (FStatusLabel) SetWindowTextA(FStatusLabel, Text.c_str());
    FInstaller.UI().ProcessMessages();
}

void TInstallRun::CloseRunningProduct() {
    while (!CloseRunningInstance())
        if (FInstaller.UI().Confirm(RunningProductQuestion, "Confirm")) FInstaller.UI().Halt();
}

void TInstallRun::FetchPrerequisites(const std::vector<TPrerequisite>& Prerequisites) {
    for (const TPrerequisite& item : Prerequisites)
        if (!item.InPackage)
            FInstaller.FetchFile(item.InstallerName, FInstaller.GetTempFolder() + item.InstallerName, FStatusLabel,
                                 FProgressBar);
}

void TInstallRun::InstallPrerequisites(const std::vector<TPrerequisite>& Prerequisites) {
    for (const TPrerequisite& item : Prerequisites) {
        SetStatus("Running: " + item.InstallerName);
        const std::string path = FInstaller.GetTempFolder() + item.InstallerName;
        // Checked again through the handle that keeps it unchanged until it has started.
        FInstaller.HoldInstaller(path);
        // Hides the wizard while the installer runs; a confirmed Cancel ends setup in there.
        FInstaller.RunAndWait(path, "");
    }
}

TUninstallDetails TInstallRun::UninstallDetails() {
    std::shared_ptr<IVerInfo> version = GetAppVersionInfo();
    TUninstallDetails details;
    details.DisplayVersion = version->GetProductVersion() + "." + version->GetProductRevision();
    details.Publisher = version->GetCompanyName();
    details.DisplayIcon = FInstaller.TargetFolder() + "orvand.exe";
    details.InstallLocation = FInstaller.TargetFolder();
    details.EstimatedSizeKiB = static_cast<uint32_t>((FInstaller.ExtractedBytes() + 1023) / 1024);
    details.URLInfoAbout = version->GetProductHomepage();
    return details;
}

void TInstallRun::RegisterProduct() {
    const std::string target = FInstaller.TargetFolder();
    const int desktop = AllUsers ? CSIDL_COMMON_DESKTOPDIRECTORY : DesktopFolder;
    const int programs = AllUsers ? CSIDL_COMMON_PROGRAMS : ProgramsFolder;
    FInstaller.CreateShortcut(desktop, target + "orvand.exe", "", "Orvand.lnk", "");
    FInstaller.CreateShortcut(programs, target + "orvand.exe", "", "Orvand.lnk", ShortcutGroup);
    FInstaller.CreateShortcut(programs, target + "install.exe", "-remove", "Uninstall.lnk", ShortcutGroup);
    FInstaller.WriteUninstallEntry("Orvand", target + "install.exe", "-remove", UninstallDetails());
    FInstaller.WriteAutostartEntry(target + "orvand.exe", AllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER);
    FInstaller.AddMenuExtension(MenuText, target + DataFolder + "script.htm", 0x10);
    FInstaller.RegisterComLibrary(target + "bridge.ocx");
}
