// The wizard's installation run, then "install.exe -remove" from the target
// folder: the Wine prefix must come back as it was.
#include <gtest/gtest.h>
#include <shlobj.h>

#include "Components/SetupUtils.h"
#include "Components/TargetGuard.h"
#include "app/InstallRun.h"
#include "install_fixture.h"
#include "scripted_ui.h"

using namespace wintest;

namespace {

// What Windows answers for a folder only administrators can change, which Wine cannot say:
// it reads every file as the user's own.
class TAdministratorsOnly {
public:
    TAdministratorsOnly() : FRead(ReadFolderSecurity) {
        ReadFolderSecurity = [](HANDLE) { return TFolderSecurity{true, AdministratorsSid, true, {}}; };
    }
    ~TAdministratorsOnly() { ReadFolderSecurity = FRead; }

private:
    decltype(ReadFolderSecurity) FRead;
};

// One installation and its removal, with snapshots of the prefix around them.
class RoundTrip {
public:
    explicit RoundTrip(const std::string& Name) : FPrefix(TargetFolder(Name)) {}
    const std::string& Target() const { return FPrefix.Target(); }
    const std::string& Package() const { return FPackage.Path(); }
    TPrefixWatch& Prefix() { return FPrefix; }
    // The wizard's run with no speech component ticked; no character is ticked after it.
    // PrepareOnly: only as far as the location page's preparation of the target.
    void Run(TScriptedUI& UI, bool PrepareOnly = false) {
        ComScope com;
        TInstaller installer(Package());
        installer.SetUI(&UI);
        ASSERT_TRUE(PrepareTarget(installer, Target()));
        if (!PrepareOnly) TInstallRun(installer, nullptr, nullptr).Run(TComponentChoice{});
    }
    // Installs and checks that the snapshot sees each kind of change it made.
    void Install() {
        TScriptedUI ui;
        Run(ui);
        EXPECT_TRUE(ui.Questions.empty());
        std::vector<std::string> made = snapshot::Lines(FPrefix.Changes());
        for (const std::string& item :
             {Target() + "install.log", Target() + "orvand.exe", Target() + "data\\script.htm", Target() + "temp\\",
              SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk",
              SpecialFolder(CSIDL_PROGRAMS) + "Orvand\\Uninstall.lnk",
              std::string("HKLM\\") + UninstallKey + "|UninstallString", std::string("HKCU\\") + RunKey + "|Orvand",
              std::string("HKCU\\") + MenuKey + "|Contexts", std::string("HKCR\\") + BridgeClassKey}) {
            bool seen = false;
            for (const std::string& line : made) seen = seen || _stricmp(line.c_str(), ("+ " + item).c_str()) == 0;
            EXPECT_TRUE(seen) << "not in the snapshot after installing: " << item;
        }
    }
    void Uninstall() { RunUninstaller(Target() + "install.exe", "-remove", IDYES); }

private:
    // Present, so that the run lists no installer.
    TComponents FAgent{true, {"MSagent.exe"}};
    PackageCopy FPackage;
    // The refresh asks the sample's distributors: WinInet's store is made before the snapshot.
    const bool FWarmedUp = (WarmUpWinInet(), true);
    TPrefixWatch FPrefix;
};

}  // namespace

TEST(UninstallRoundTrip, LeavesOnlyTheUninstallerAndItsFolder) {
    ASSERT_TRUE(FileExists(FixturePath("sample\\install.exe")));
    RoundTrip trip("Orvand Test");
    trip.Install();
    trip.Uninstall();
    trip.Prefix().ExpectOnlyUninstallerLeft();
    // Installed into again before that restart: the new installation keeps its uninstaller and folder,
    // which setup made and only administrators can change.
    for (const std::string& path : {trip.Target() + "install.exe", trip.Target().substr(0, trip.Target().size() - 1)})
        ASSERT_TRUE(MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) << path;
    TAdministratorsOnly windows;
    TScriptedUI ui;
    trip.Run(ui, true);
    EXPECT_EQ(DropRestartDeletions(trip.Target()), std::vector<std::string>{});
}

TEST(UninstallRoundTrip, AnAdministratorsFolderThatHeldTheUsersFilesKeepsThem) {
    ASSERT_TRUE(FileExists(FixturePath("sample\\install.exe")));
    RoundTrip trip("Orvand Data");
    const std::string& target = trip.Target();
    MakeTree(target, {{"My Notes.txt", "mine"}, {"letters\\to me.txt", "mine too"}});
    trip.Prefix().TakeSnapshot();
    {
        // An administrator made it.
        TAdministratorsOnly windows;
        trip.Install();
    }
    trip.Uninstall();
    // Not a folder setup made: it and the uninstaller in it stay, and nothing is to go at the restart.
    trip.Prefix().ExpectOnlyUninstallerLeft(false);
    EXPECT_EQ(ReadFileText(target + "My Notes.txt"), "mine");
    EXPECT_EQ(ReadFileText(target + "letters\\to me.txt"), "mine too");
}

// The product ignores the request to close: after ten seconds setup asks whether to end,
// again after No, and Yes ends it before anything is extracted.
TEST(UninstallRoundTrip, AProductThatStaysOpenIsAskedToCloseAndYesEndsSetupBeforeItExtracts) {
    RoundTrip trip("Orvand Open");
    const std::string& target = trip.Target();
    TProcess product = StartProduct("-ignore-close -lifetime=60000");
    TScriptedUI noThenYes{false, true};
    EXPECT_THROW(trip.Run(noThenYes), THalted);
    product.Terminate();
    EXPECT_EQ(noThenYes.Questions,
              std::vector<std::string>(2, "Running Orvand application detected. Terminate setup?"));
    EXPECT_EQ(noThenYes.Captions, std::vector<std::string>(2, "Confirm"));
    EXPECT_EQ(SplitCrLf(ReadFileText(target + "install.log")).back(), "CreateFile " + target + "temp\\setup.xml");
    EXPECT_FALSE(FileExists(target + "orvand.exe"));
    trip.Prefix().ExpectRemoveTakesItBack();
}
