// The uninstall mode of install.exe, driven from outside as a user would.
#include <gtest/gtest.h>

#include "Components/SetupUtils.h"
#include "wintest_util.h"

using namespace wintest;

namespace {

const char* const StillRunningText = "Uninstaller find started Orvand application. Plase close it and tray again.";

std::string Line(const std::string& Action, const std::string& Argument) { return Action + " " + Argument + "\r\n"; }

// An installation as setup leaves it: the uninstaller's copy, a product file,
// a file the product added later, the menu extension's key and a value, all
// journalled but the later file.
struct Installation {
    explicit Installation(const std::string& Folder) : Folder(Folder), Guard(HKEY_CURRENT_USER, Key) {
        CreateDirectoryA(Folder.c_str(), nullptr);
        Exe = Folder + "install.exe";
        EXPECT_TRUE(CopyFileA(InstallExePath().c_str(), Exe.c_str(), FALSE));
        WriteFileText(Folder + "orvand.exe", "product");
        CreateDirectoryA((Folder + "data").c_str(), nullptr);
        WriteFileText(Folder + "data\\later.acs", "character");
        RegSetKeyValueA(HKEY_CURRENT_USER, Key.c_str(), "DisplayName", REG_SZ, "Orvand", 7);
        Journal = FormatBanner() + Line("CreateFolder", Folder) + Line("CreateFile", Exe) +
                  Line("CreateFile", Folder + "orvand.exe") + Line("CreteRegKey", "2147483649|" + Key) +
                  Line("CreteRegValue", "2147483649|" + Key + "|DisplayName");
        WriteFileText(Folder + "install.log", Journal);
    }
    static std::string FormatBanner() { return "########## Setup started at 08.12.2026 10:26:45 ##########\r\n"; }
    bool HasKey() const { return KeyExists(HKEY_CURRENT_USER, Key); }
    // Everything is as setup left it.
    void ExpectUntouched() const {
        EXPECT_EQ(ReadFileText(Folder + "install.log"), Journal);
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
    std::string Folder, Exe, Journal;
    const std::string Key = std::string(MenuExtKey) + "&Copy to Orvand";
    KeyGuard Guard;
};

}  // namespace

TEST(UninstallWindow, NoChangesNothingAndYesUninstalls) {
    TempFolder temp;
    Installation installation(temp.Path() + "Orvand\\");
    int boxes = 0;
    EXPECT_EQ(RunUninstaller(installation.Exe, "-remove", IDNO, &boxes), 0u);
    EXPECT_EQ(boxes, 0);
    installation.ExpectUntouched();

    EXPECT_EQ(RunUninstaller(installation.Exe, "-uninstall", IDYES, &boxes), 0u);
    EXPECT_EQ(boxes, 0) << "a message after the uninstall";
    installation.ExpectUninstalled();
}

TEST(UninstallWindow, AJournalThatCannotBeReadEndsQuietlyAndRemovesNothing) {
    TempFolder temp;
    Installation installation(temp.Path() + "Orvand\\");
    HANDLE writer = CreateFileA((installation.Folder + "install.log").c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    int boxes = 0;
    EXPECT_EQ(RunUninstaller(installation.Exe, "-remove", IDYES, &boxes), 0u);
    CloseHandle(writer);
    EXPECT_EQ(boxes, 0) << "the engine's failure was shown";
    installation.ExpectUntouched();
}

TEST(UninstallWindow, UnderCPrjTheJournalIsUndoneButTheFolderKept) {
    PrjFolder prj("orvand-ui");
    const std::string& folder = prj.Path();
    Installation installation(folder);
    EXPECT_EQ(RunUninstaller(installation.Exe, "-remove", IDYES), 0u);
    EXPECT_FALSE(FileExists(folder + "install.log"));
    EXPECT_FALSE(FileExists(folder + "orvand.exe"));
    EXPECT_FALSE(installation.HasKey());
    // Not journalled, so only the emptying would have taken it.
    EXPECT_TRUE(FileExists(folder + "data\\later.acs"));
}

// The product cases need the stand-in product of the fixtures: it shows the
// product's main window, ends on the close request unless started with
// "-ignore-close", and with "-close-delay=MS" ends that long after the request.
TEST(UninstallWindow, AProductThatClosesOnRequestIsClosedAndThenUninstalled) {
    std::string product = FixturePath("orvand.exe");
    if (product.empty() || !FileExists(product)) GTEST_SKIP() << "no stand-in product at fixtures/orvand.exe yet";
    TempFolder temp;
    Installation installation(temp.Path() + "Orvand\\");
    PROCESS_INFORMATION running = StartProgram(product, "-close-delay=2000");
    ASSERT_NE(WaitProductWindow(10000), nullptr);
    DWORD start = GetTickCount();
    EXPECT_EQ(RunUninstaller(installation.Exe, "-remove", IDYES), 0u);
    EXPECT_EQ(WaitExit(running, 5000), 0u) << "the product was not closed";
    EXPECT_GE(GetTickCount() - start, 2000u) << "the uninstall did not wait for the product";
    CloseHandle(running.hProcess);
    installation.ExpectUninstalled();
}

TEST(UninstallWindow, AProductThatStaysOpenGetsTheMessageAndNothingIsRemoved) {
    std::string product = FixturePath("orvand.exe");
    if (product.empty() || !FileExists(product)) GTEST_SKIP() << "no stand-in product at fixtures/orvand.exe yet";
    TempFolder temp;
    Installation installation(temp.Path() + "Orvand\\");
    PROCESS_INFORMATION running = StartProgram(product, "-ignore-close");
    ASSERT_NE(WaitProductWindow(10000), nullptr);
    PROCESS_INFORMATION p = StartProgram(installation.Exe, "-remove");
    HWND box = WaitConfirmation(p.dwProcessId);
    ASSERT_NE(box, nullptr);
    PressMessageBoxButton(box, IDYES);
    DWORD start = GetTickCount();
    HWND message = nullptr;
    while (!message && GetTickCount() - start < 20000) {
        HWND found = FindMessageBox(p.dwProcessId);
        if (found && found != box) message = found;
        Sleep(50);
    }
    ASSERT_NE(message, nullptr) << "no message about the running product";
    EXPECT_GE(GetTickCount() - start, 9000u);
    EXPECT_EQ(MessageBoxText(message), StillRunningText);
    PressMessageBoxButton(message, IDOK);
    EXPECT_EQ(WaitEnd(p, 10000), 0u);
    installation.ExpectUntouched();
    EXPECT_EQ(WaitExit(running, 0), STILL_ACTIVE);
    TerminateProcess(running.hProcess, 0);
    CloseHandle(running.hProcess);
}
