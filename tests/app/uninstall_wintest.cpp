// The uninstall mode of install.exe, driven from outside as a user would.
// Windows first: its CreateFile macro renames the journal constant consistently.
#include <windows.h>

#include <gtest/gtest.h>

#include "Components/JournalFormat.h"
#include "Components/SetupUtils.h"
#include "wintest_util.h"

using namespace wintest;

namespace {

const char* const StillRunningText = "Uninstaller find started Orvand application. Plase close it and tray again.";

// An installation as setup leaves it, in a folder of its own: the uninstaller's copy, a product
// file, a file the product added later, the menu extension's key and a value, all journalled but
// the later file.
struct Installation {
    Installation() : Folder(Temp.Path() + "Orvand\\"), Guard(HKEY_CURRENT_USER, MenuKey) {
        MakeTree(Folder, {{"orvand.exe", "product"}, {"data\\later.acs", "character"}});
        Exe = Folder + "install.exe";
        EXPECT_TRUE(CopyFileA(InstallExePath().c_str(), Exe.c_str(), FALSE));
        RegSetKeyValueA(HKEY_CURRENT_USER, MenuKey, "DisplayName", REG_SZ, "Orvand", 7);
        const std::string key = "2147483649|" + std::string(MenuKey);
        JournalText = FormatJournalBanner("Setup started at 08.12.2026 10:26:45") +
                      FormatJournalLine(Journal::CreateFolder, Folder) + FormatJournalLine(Journal::CreateFile, Exe) +
                      FormatJournalLine(Journal::CreateFile, Folder + "orvand.exe") +
                      FormatJournalLine(Journal::CreateRegKey, key) +
                      FormatJournalLine(Journal::CreateRegValue, key + "|DisplayName");
        WriteFileText(Folder + "install.log", JournalText);
    }
    bool HasKey() const { return KeyExists(HKEY_CURRENT_USER, MenuKey); }
    // Everything is as setup left it.
    void ExpectUntouched() const {
        EXPECT_EQ(ReadFileText(Folder + "install.log"), JournalText);
        EXPECT_TRUE(FileExists(Folder + "orvand.exe"));
        EXPECT_TRUE(FileExists(Folder + "data\\later.acs"));
        EXPECT_TRUE(HasKey());
    }
    // Only the running uninstaller and its folder are left, both to go at the next restart.
    void ExpectUninstalled() const {
        EXPECT_EQ(DropRestartDeletions(Folder), (std::vector<std::string>{Exe, Folder.substr(0, Folder.size() - 1)}));
        EXPECT_FALSE(FileExists(Folder + "install.log"));
        EXPECT_FALSE(FileExists(Folder + "orvand.exe"));
        EXPECT_FALSE(FolderExists(Folder + "data"));
        EXPECT_FALSE(HasKey());
        EXPECT_TRUE(FileExists(Exe));
        EXPECT_TRUE(FolderExists(Folder));
    }
    TempFolder Temp;
    std::string Folder, Exe, JournalText;
    KeyGuard Guard;
};

}  // namespace

TEST(UninstallWindow, NoChangesNothingAndYesUninstalls) {
    Installation installation;
    RunUninstaller(installation.Exe, "-remove", IDNO);
    installation.ExpectUntouched();
    RunUninstaller(installation.Exe, "-uninstall", IDYES);
    installation.ExpectUninstalled();
}

// The engine's failure is not shown.
TEST(UninstallWindow, AJournalThatCannotBeReadEndsQuietlyAndRemovesNothing) {
    Installation installation;
    TFileHandle writer(CreateFileA((installation.Folder + "install.log").c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    RunUninstaller(installation.Exe, "-remove", IDYES);
    writer.Reset();
    installation.ExpectUntouched();
}

// The product cases need the stand-in product of the fixtures: it shows the
// product's main window, ends on the close request unless started with
// "-ignore-close", and with "-close-delay=MS" ends that long after the request.
TEST(UninstallWindow, AProductThatClosesOnRequestIsClosedAndThenUninstalled) {
    Installation installation;
    TProcess running = StartProduct("-close-delay=2000");
    DWORD start = GetTickCount();
    RunUninstaller(installation.Exe, "-remove", IDYES);
    EXPECT_EQ(running.WaitExit(5000), 0u) << "the product was not closed";
    EXPECT_GE(GetTickCount() - start, 2000u) << "the uninstall did not wait for the product";
    installation.ExpectUninstalled();
}

TEST(UninstallWindow, AProductThatStaysOpenGetsTheMessageAndNothingIsRemoved) {
    Installation installation;
    TProcess running = StartProduct("-ignore-close");
    TProcess p = StartProgram(installation.Exe, "-remove");
    HWND box = WaitConfirmation(p.Id());
    ASSERT_NE(box, nullptr);
    PressMessageBoxButton(box, IDYES);
    DWORD start = GetTickCount();
    HWND message = nullptr;
    WaitUntil([&] { return (message = FindMessageBox(p.Id())) && message != box; }, 20000, 50);
    ASSERT_TRUE(message && message != box) << "no message about the running product";
    EXPECT_GE(GetTickCount() - start, 9000u);
    EXPECT_EQ(MessageBoxText(message), StillRunningText);
    PressMessageBoxButton(message, IDOK);
    ExpectQuietExit(p, 10000, message);
    installation.ExpectUntouched();
    EXPECT_TRUE(running.Running());
}
