// The silent modes of the packed install.exe, as deployment tools run them: no window,
// every message and answer in the log, and an exit code for each outcome.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "E2eUtil.h"

using namespace e2e;
using namespace wintest;
using ::testing::HasSubstr;

namespace {

// Runs Exe silently with Arguments to its end, watching that it never shows a window; its exit code.
DWORD RunSilent(const std::string& Exe, const std::string& Arguments, DWORD Milliseconds = 120000) {
    TSetupRun run(Exe, Arguments);
    std::set<std::string> shown;
    WaitUntil(
        [&] {
            for (HWND window : ProcessWindows(run.ProcessId()))
                shown.insert(WindowText(window) + " (" + WindowClass(window) + ")");
            return !run.Running();
        },
        Milliseconds);
    EXPECT_EQ(Joined(std::vector<std::string>(shown.begin(), shown.end())), "") << "windows shown";
    return run.WaitExit(0);
}

// "-dir=" and "-log=" arguments; a folder without its last "\", which would escape the quotation mark.
std::string Quoted(const std::string& Option, std::string Path) {
    if (Path.size() > 3 && Path.back() == '\\') Path.pop_back();
    return "\"" + Option + Path + "\"";
}

// Log holds that whole line, after its time: "...][KIND] TEXT".
void ExpectLogged(const std::string& Log, const std::string& Kind, const std::string& Text) {
    EXPECT_THAT(ReadFileText(Log), HasSubstr("][" + Kind + "] " + Text + "\r\n"));
}

}  // namespace

// For every user (-allusers): the common desktop and Start menu, the computer's Run key.
TEST(Silent, InstallsForAllUsersIntoTheProposedFolderLikeTheWizardAndRemovesWithoutAWindow) {
    TComponents none(false);
    TScenario scene(std::string(BuildProgramFiles) + "Orvand\\");
    const std::string& target = scene.Target;
    TDistributor distributor;
    std::string setup = PackSample(scene.Temp.Path() + "install.exe", SampleConfiguration({distributor.Url()}));
    ASSERT_FALSE(FolderExists(target)) << "left by an earlier run";
    const std::string log = scene.Temp.Path() + "setup log.txt";
    WarmUpWinInet();
    // The shell caches where the desktop and Start menu are whenever it is asked: asked now, an earlier
    // scenario's moved folders are not taken for a change of this one.
    for (bool allUsers : {false, true}) {
        Desktop(allUsers);
        Programs(allUsers);
    }
    TPrefixWatch prefix(target);
    UninstallAtEnd cleanup(target);
    // Every component the components page would tick was installed: a restart is due.
    EXPECT_EQ(RunSilent(setup, "-silent -allusers " + Quoted("-log=", log)), 3010u);
    std::vector<std::string> fetched;
    for (const char* name : ComponentInstallers) fetched.push_back("CreateFile " + target + "temp\\" + name);
    ExpectJournal(target, Concat({{"CreateFolder " + target, "CreateFolder " + target + "temp\\",
                                   "CreateFile " + target + "temp\\setup.xml"},
                                  fetched,
                                  ExtractedLines(target, true, true),
                                  RegisteredLines(target, true, true)}));
    ExpectRegistered(target, true, {}, true);
    // The installers ran in the wizard's order; no character was fetched, nothing else started.
    EXPECT_EQ(scene.Runs(), "MSagent.exe \r\nspchapi.exe \r\ntv_enua.exe \r\nlhttseng.exe \r\n");
    EXPECT_EQ(distributor.Server.Paths(),
              (std::vector<std::string>{"/ok/setup.xml", "/ok/MSagent.exe", "/ok/spchapi.exe", "/ok/tv_enua.exe",
                                        "/ok/lhttseng.exe"}));
    EXPECT_EQ(FindWindowA("TMainOrvandForm", "Orvand"), nullptr) << "the product started";
    // The notice a box would have shown, in one line.
    ExpectLogged(log, "DEBUG",
                 "Information: During the installation process the program may ask to reboot.  Please, DO NOT "
                 "REBOOT until you see \"ORVAND SETUP COMPLETED SUCCESSFULLY\"");
    ExpectLogged(log, "DEBUG", "Installing into " + target + " for all users");
    ExpectLogged(log, "DEBUG", "Character not downloaded: Bramble");
    ExpectLogged(log, "DEBUG", "Exit code 3010");

    // The system's quiet command, as a deployment tool runs it; without -log the log goes to the
    // user's temp folder, not into the folder removed.
    const std::string quiet = ViewText(HKEY_LOCAL_MACHINE, UninstallKey, "QuietUninstallString");
    ASSERT_EQ(quiet, "\"" + target + "install.exe\" -remove -silent");
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    const std::string removalLog = std::string(temp) + "install-setup.log";
    DeleteFileA(removalLog.c_str());
    EXPECT_EQ(RunSilent(target + "install.exe", quiet.substr(target.size() + 14)), 0u);
    ExpectRegistered(target, false, {}, true);
    ExpectLogged(removalLog, "DEBUG", "Exit code 0");
    DeleteFileA(removalLog.c_str());
    none.Remove();
    prefix.ExpectOnlyUninstallerLeft();
}

// On the sample released as a vendor signs it, whose uninstaller keeps the vendor's signature.
TEST(Silent, EachOutcomeHasItsExitCodeAndItsMessageInTheLog) {
    TComponents all(true);
    TScenario scene;
    const std::string setup = CopyFixture("sample\\install-signed.exe", scene.Temp.Path() + "install.exe");
    const std::string log = scene.Temp.Path() + "silent.log";
    UninstallAtEnd cleanup(scene.Target);
    // Refused before anything is made.
    EXPECT_EQ(RunSilent(setup, "-silent -dir=Orvand " + Quoted("-log=", log), 20000), 1639u);
    ExpectLogged(log, "ERROR", "-dir needs a full path such as C:\\Program Files\\Orvand, not \"Orvand\".");
    EXPECT_FALSE(FolderExists(scene.Target));
    // A package swapped in beside the program, its digest made again: refused. Without
    // -log nothing is written beside the program, in a folder others can change.
    CreateDirectoryA((scene.Temp.Path() + "swapped").c_str(), nullptr);
    const std::string swapped = CopySample(scene.Temp.Path() + "swapped\\");
    Damage(swapped, true);
    EXPECT_EQ(RunSilent(swapped, "-silent " + Quoted("-dir=", scene.Target) + " " + Quoted("-log=", log), 20000),
              1603u);
    ExpectLogged(log, "ERROR", "The Orvand distributive was damaged");
    EXPECT_EQ(RunSilent(swapped, "-silent " + Quoted("-dir=", scene.Target), 20000), 1603u);
    EXPECT_FALSE(FileExists(scene.Temp.Path() + "swapped\\install-setup.log"));
    EXPECT_FALSE(FolderExists(scene.Target));
    // Everything present: nothing to run, nothing to restart for; no product start either.
    // The log goes into the destination, once that is held and only administrators can change it.
    EXPECT_EQ(RunSilent(setup, "-silent " + Quoted("-dir=", scene.Target)), 0u);
    ExpectLogged(scene.Target + "install-setup.log", "DEBUG", "Exit code 0");
    EXPECT_FALSE(FileExists(scene.Temp.Path() + "install-setup.log"));
    ExpectRegistered(scene.Target, true);
    ExpectNothingStarted(scene.RunLog);
    EXPECT_EQ(ReadFileText(scene.Target + "install.exe"), ReadFileText(FixturePath("sample\\signing\\install.exe")));
    const std::string verified =
        RunUnixShell(ORVAND_OSSLSIGNCODE " verify -CAfile '" + UnixPath(FixturePath("sample\\signing\\ca.pem")) +
                     "' -in '" + UnixPath(scene.Target + "install.exe") + "'");
    EXPECT_THAT(verified, HasSubstr("Signature verification: ok"));
    EXPECT_THAT(verified, HasSubstr("Subject: /CN=Orvand Test Vendor"));
    // A product that will not close: the removal gives up after the usual wait, removing nothing.
    {
        TProcess product = StartProduct("-ignore-close -lifetime=60000");
        EXPECT_EQ(RunSilent(scene.Target + "install.exe", "-remove -silent " + Quoted("-log=", log), 30000), 32u);
        ExpectLogged(log, "ERROR", "Uninstaller find started Orvand application. Plase close it and tray again.");
        ExpectRegistered(scene.Target, true);
        // Setup asks a running product to close as well; it ends with the same code.
        EXPECT_EQ(RunSilent(setup, "-silent " + Quoted("-dir=", scene.Target) + " " + Quoted("-log=", log), 60000),
                  32u);
        ExpectLogged(log, "DEBUG",
                     "Confirm: Running Orvand application detected. "
                     "Terminate setup? Answered: Yes");
    }
    EXPECT_EQ(RunSilent(scene.Target + "install.exe", "-uninstall -silent " + Quoted("-log=", log)), 0u);
    ExpectRegistered(scene.Target, false);
    // Removed already: nothing to remove is no success.
    EXPECT_EQ(RunSilent(scene.Target + "install.exe", "-remove -silent " + Quoted("-log=", log), 20000), 1603u);
    ExpectLogged(log, "ERROR", "There is no installation in " + scene.Target + ": its install.log is missing.");
    RemoveTree(scene.Target);
}
