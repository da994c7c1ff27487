// The wizard's installation run, then "install.exe -remove" from the target
// folder: the Wine prefix must come back as it was.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>

#include "Components/SetupUtils.h"
#include "Components/TargetGuard.h"
#include "app/InstallRun.h"
#include "install_fixture.h"
#include "scripted_ui.h"
#include "snapshot.h"
#include "wintest_util.h"

using namespace wintest;
using namespace snapshot;

namespace {

const std::string MenuKey = std::string(MenuExtKey) + MenuText;

// The wizard's run with no speech component ticked; no character is ticked after it.
void Install(const std::string& Package, const std::string& Target, TScriptedUI& UI) {
    ComScope com;
    TInstaller installer(Package);
    installer.SetUI(&UI);
    ASSERT_TRUE(PrepareTarget(installer, Target));
    TInstallRun(installer, nullptr, nullptr).Run(TComponentChoice{});
}

// One installation and its removal, with snapshots of the prefix around them.
class RoundTrip {
public:
    explicit RoundTrip(const std::string& Name) : FTarget(TargetFolder(Name)), FLeftovers(FTarget) {
        FMenuContainerMissing = !KeyExists(HKEY_CURRENT_USER, MenuContainer);
        // The refresh asks the sample's distributors.
        WarmUpWinInet();
    }
    const std::string& Target() const { return FTarget; }
    void Before() { FBefore = TSnapshot::Take(FScope); }
    // Installs and checks that the snapshot sees each kind of change it made.
    void Install() {
        TScriptedUI ui;
        ::Install(FPackage.Path(), FTarget, ui);
        EXPECT_TRUE(ui.Questions.empty());
        std::vector<std::string> made = Lines(Compare(FBefore, TSnapshot::Take(FScope)));
        for (const std::string& item :
             {FTarget + "install.log", FTarget + "orvand.exe", FTarget + "data\\script.htm", FTarget + "temp\\",
              SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk",
              SpecialFolder(CSIDL_PROGRAMS) + "Orvand\\Uninstall.lnk",
              std::string("HKLM\\") + UninstallKey + "|UninstallString", std::string("HKCU\\") + RunKey + "|Orvand",
              std::string("HKCU\\") + MenuKey + "|Contexts", std::string("HKCR\\") + BridgeClassKey}) {
            bool seen = false;
            for (const std::string& line : made) seen = seen || _stricmp(line.c_str(), ("+ " + item).c_str()) == 0;
            EXPECT_TRUE(seen) << "not in the snapshot after installing: " << item;
        }
    }
    // A run that ended before extracting: the uninstaller is placed by hand.
    void ExpectRemoveTakesItBack() { wintest::ExpectRemoveTakesItBack(FBefore, FScope, FTarget, FLeftovers); }
    const std::string& Package() const { return FPackage.Path(); }
    // Runs the installed uninstaller and answers Yes; what differs from before. What it
    // leaves for the next restart goes to Deletions.
    std::vector<TChange> Uninstall() {
        EXPECT_EQ(RunUninstaller(FTarget + "install.exe", "-remove", IDYES), 0u)
            << "did not end in time, or not with 0";
        Deletions = DropRestartDeletions(FTarget);
        return Compare(FBefore, TSnapshot::Take(FScope));
    }
    std::vector<std::string> Deletions;
    // The uninstaller's own file stays, so does its folder when setup made it; the
    // menu-extension container is shared by all browser extensions and never
    // journalled, so one that setup had to make stays too (empty).
    std::vector<std::string> Expected(bool FolderMade, std::vector<std::string> More = {}) const {
        std::vector<std::string> lines;
        if (FolderMade) lines.push_back("+ " + FTarget);
        lines.push_back("+ " + FTarget + "install.exe");
        for (std::string& line : More) lines.push_back(std::move(line));
        if (FMenuContainerMissing) lines.push_back(std::string("+ HKCU\\") + MenuContainer);
        std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
            return _stricmp(a.c_str() + 2, b.c_str() + 2) < 0;
        });
        return lines;
    }

private:
    // Present, so that the run lists no installer.
    AgentRuntime FAgent;
    PackageCopy FPackage;
    std::string FTarget;
    Leftovers FLeftovers;
    const TScope FScope = PrefixScope();
    TSnapshot FBefore;
    bool FMenuContainerMissing = false;
};

}  // namespace

TEST(UninstallRoundTrip, LeavesOnlyTheUninstallerAndItsFolder) {
    ASSERT_TRUE(FileExists(FixturePath("sample\\install.exe")));
    RoundTrip trip("Orvand Test");
    trip.Before();
    trip.Install();
    std::vector<TChange> left = trip.Uninstall();
    EXPECT_EQ(Lines(left), trip.Expected(true)) << Describe(left);
    EXPECT_EQ(trip.Deletions, (std::vector<std::string>{trip.Target() + "install.exe",
                                                        trip.Target().substr(0, trip.Target().size() - 1)}));
    // Installed into again before that restart: the new installation keeps its uninstaller and folder.
    // Setup made the folder with its own ACL, which Windows would report and Wine cannot.
    for (const std::string& path : trip.Deletions) MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    TScriptedUI ui;
    TInstaller installer(trip.Package());
    installer.SetUI(&ui);
    auto* const read = ReadFolderSecurity;
    ReadFolderSecurity = [](HANDLE) { return TFolderSecurity{true, AdministratorsSid, true, {}}; };
    const bool prepared = PrepareTarget(installer, trip.Target());
    ReadFolderSecurity = read;
    ASSERT_TRUE(prepared);
    EXPECT_EQ(DropRestartDeletions(trip.Target()), std::vector<std::string>{});
}

TEST(UninstallRoundTrip, AnAdministratorsFolderThatHeldTheUsersFilesKeepsThem) {
    ASSERT_TRUE(FileExists(FixturePath("sample\\install.exe")));
    RoundTrip trip("Orvand Data");
    const std::string& target = trip.Target();
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((target + "letters").c_str(), nullptr));
    WriteFileText(target + "My Notes.txt", "mine");
    WriteFileText(target + "letters\\to me.txt", "mine too");
    trip.Before();
    // An administrator made it: only they can change it, which Windows would say and Wine cannot.
    auto* const read = ReadFolderSecurity;
    ReadFolderSecurity = [](HANDLE) { return TFolderSecurity{true, AdministratorsSid, true, {}}; };
    trip.Install();
    ReadFolderSecurity = read;
    std::vector<TChange> left = trip.Uninstall();
    EXPECT_EQ(Lines(left), trip.Expected(false)) << Describe(left);
    EXPECT_EQ(trip.Deletions, std::vector<std::string>{}) << "a folder setup did not make";
    EXPECT_EQ(ReadFileText(target + "My Notes.txt"), "mine");
    EXPECT_EQ(ReadFileText(target + "letters\\to me.txt"), "mine too");
}

TEST(UninstallRoundTrip, AReadOnlyFileAndAFileInUseStayWithTheirFolders) {
    ASSERT_TRUE(FileExists(FixturePath("sample\\install.exe")));
    RoundTrip trip("Orvand Busy");
    const std::string& target = trip.Target();
    trip.Before();
    trip.Install();
    // Made by the product later, never journalled.
    ASSERT_TRUE(CreateDirectoryA((target + "data\\ro").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((target + "data\\ro\\sub").c_str(), nullptr));
    const std::string readOnly = target + "data\\ro\\sub\\r.txt";
    WriteFileText(readOnly, "r");
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFileText(target + "data\\later.acs", "deleted with the folder");
    const std::string busy = target + "busy.log";
    WriteFileText(busy, "b");
    HANDLE open = CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);

    std::vector<TChange> left = trip.Uninstall();
    CloseHandle(open);
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(Lines(left), trip.Expected(true, {"+ " + busy, "+ " + target + "data\\", "+ " + target + "data\\ro\\",
                                                "+ " + target + "data\\ro\\sub\\", "+ " + readOnly}))
        << Describe(left);
}

TEST(UninstallRoundTrip, AProductThatStaysOpenIsAskedToCloseAndYesEndsSetupBeforeItExtracts) {
    RoundTrip trip("Orvand Open");
    const std::string& target = trip.Target();
    trip.Before();
    PROCESS_INFORMATION product = StartProgram(FixturePath("orvand.exe"), "-ignore-close -lifetime=60000");
    ASSERT_NE(WaitProductWindow(10000), nullptr);
    TScriptedUI yes(true);
    EXPECT_THROW(Install(trip.Package(), target, yes), THalted);
    WaitEnd(product, 0);
    EXPECT_EQ(yes.Questions, std::vector<std::string>{"Running Orvand application detected. Terminate setup?"});
    EXPECT_EQ(yes.Captions, std::vector<std::string>{"Confirm"});
    EXPECT_EQ(SplitCrLf(ReadFileText(target + "install.log")).back(), "CreateFile " + target + "temp\\setup.xml");
    EXPECT_FALSE(FileExists(target + "orvand.exe"));
    trip.ExpectRemoveTakesItBack();
}
