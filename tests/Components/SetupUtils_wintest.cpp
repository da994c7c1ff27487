#include "Components/SetupUtils.h"

#include <gtest/gtest.h>

#include "Components/JournalFormat.h"
#include "wintest_util.h"

using namespace wintest;

namespace {

std::vector<std::string> JournalLines(const std::string& Folder) { return SplitCrLf(ReadFileText(Folder + "install.log")); }

bool IsBanner(const std::string& Line) {
    return Line.rfind("########## Setup started at ", 0) == 0 && Line.size() > 40 &&
           Line.substr(Line.size() - 11) == " ##########";
}

}  // namespace

TEST(ForceFolder, CreatesMissingParentsOuterFirstAndJournalsEach) {
    TempFolder temp;
    TInstaller installer;
    std::string target = temp.Path() + "Program Files\\Orvand\\sub\\";
    ASSERT_TRUE(CreateDirectoryA((temp.Path() + "Program Files").c_str(), nullptr));
    EXPECT_TRUE(installer.ForceFolder(target));
    EXPECT_TRUE(FolderExists(target));
    EXPECT_EQ(installer.FPendingJournal, "CreateFolder " + temp.Path() + "Program Files\\Orvand\\\r\n" +
                                             "CreateFolder " + target + "\r\n");
    // An existing folder: True, nothing journalled.
    std::string before = installer.FPendingJournal;
    EXPECT_TRUE(installer.ForceFolder(target));
    EXPECT_TRUE(installer.ForceFolder(temp.Path()));
    EXPECT_EQ(installer.FPendingJournal, before);
}

TEST(ForceFolder, ShortPathsAreNeverADestination) {
    TInstaller installer;
    for (const char* text : {"", "C:", "C:\\", "Z:\\", "\\", "ab"}) EXPECT_FALSE(installer.ForceFolder(text)) << text;
    EXPECT_EQ(installer.FPendingJournal, "");
}

TEST(ForceFolder, FailureCreatesNothingBelowAndJournalsOnlyWhatWasMade) {
    TempFolder temp;
    TInstaller installer;
    // A file where a folder should go: the folder below it cannot be made.
    WriteFileText(temp.Path() + "blocker", "x");
    EXPECT_FALSE(installer.ForceFolder(temp.Path() + "blocker\\inner\\"));
    EXPECT_EQ(installer.FPendingJournal, "");
    EXPECT_FALSE(installer.ForceFolder(temp.Path() + "new\\bad|name\\"));
    EXPECT_EQ(installer.FPendingJournal, "CreateFolder " + temp.Path() + "new\\\r\n");
    // A drive that does not exist.
    EXPECT_FALSE(installer.ForceFolder("Q:\\nowhere\\deep\\"));
}

TEST(ForceFolder, AcceptsAnExistingDriveRootAsTheEndOfTheRecursion) {
    TInstaller installer;
    std::string folder = "C:\\orvand-force-root-" + std::to_string(GetCurrentProcessId()) + "\\";
    EXPECT_TRUE(installer.ForceFolder(folder));
    EXPECT_EQ(installer.FPendingJournal, "CreateFolder " + folder + "\r\n");
    RemoveDirectoryA(folder.c_str());
}

TEST(Journal, PendingLinesFollowTheBannerInOrder) {
    TempFolder temp;
    std::string target = temp.Path() + "Orvand Target\\";
    {
        TInstaller installer;
        ASSERT_TRUE(installer.ForceFolder(target));
        installer.OpenJournal(target);
        EXPECT_EQ(installer.FTargetFolder, target);
        EXPECT_EQ(installer.FPendingJournal, "");
        EXPECT_EQ(installer.GetTempFolder(), target + "temp\\");
        ASSERT_TRUE(installer.ForceFolder(installer.GetTempFolder()));
        installer.WriteJournal(Journal::CreateFile, target + "read me.txt");
        installer.WriteJournal(Journal::CreateRegValue,
                               "2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand|DisplayName");
        // Each line reaches the file at once, while the journal is still open and shared.
        std::vector<std::string> lines = JournalLines(target);
        ASSERT_EQ(lines.size(), 5u);
    }
    std::string text = ReadFileText(target + "install.log");
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(IsBanner(lines[0])) << lines[0];
    EXPECT_EQ(lines[1], "CreateFolder " + target);
    EXPECT_EQ(lines[2], "CreateFolder " + target + "temp\\");
    EXPECT_EQ(lines[3], "CreateFile " + target + "read me.txt");
    EXPECT_EQ(lines[4], "CreteRegValue 2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand|DisplayName");
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST(Journal, SecondRunAppendsItsBannerAfterTheOldLines) {
    TempFolder temp;
    {
        TInstaller first;
        first.WriteJournal(Journal::CreateFolder, temp.Path() + "a\\");
        first.OpenJournal(temp.Path());
    }
    std::string old = ReadFileText(temp.Path() + "install.log");
    {
        TInstaller second;
        second.OpenJournal(temp.Path());
        second.WriteJournal(Journal::CreateFile, temp.Path() + "b c");
    }
    std::string text = ReadFileText(temp.Path() + "install.log");
    ASSERT_EQ(text.compare(0, old.size(), old), 0);
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(IsBanner(lines[0]));
    EXPECT_EQ(lines[1], "CreateFolder " + temp.Path() + "a\\");
    EXPECT_TRUE(IsBanner(lines[2]));
    EXPECT_EQ(lines[3], "CreateFile " + temp.Path() + "b c");
}

TEST(Journal, BannerUsesTheUsersShortDateAndLongTime) {
    TempFolder temp;
    TInstaller installer;
    installer.OpenJournal(temp.Path());
    char date[128], time[128];
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, nullptr, nullptr, date, sizeof(date));
    std::string line = JournalLines(temp.Path()).at(0);
    EXPECT_NE(line.find(std::string("Setup started at ") + date + " "), std::string::npos) << line;
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, nullptr, time, sizeof(time));
    // The seconds may have moved on; the hour part of the long time format is there.
    EXPECT_NE(line.find(std::string(time).substr(0, 2)), std::string::npos) << line;
}

TEST(Journal, ALineTheFileRefusesStopsTheRunAndAFolderItCannotNameIsNotMade) {
    TempFolder temp;
    TInstaller installer;
    installer.OpenJournal(temp.Path());
    // The file turns away every write, as a lost network drive would.
    installer.FJournal = std::make_unique<TWinFileStream>(temp.Path() + "install.log", GENERIC_READ,
                                                          FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    try {
        installer.WriteJournal(Journal::CreateFile, temp.Path() + "a.txt");
        ADD_FAILURE() << "the line was taken";
    } catch (const EInstallException& e) {
        EXPECT_EQ(e.Message().rfind("Couldn't write to the install journal \"" + temp.Path() + "install.log\". ", 0), 0u)
            << e.Message();
    }
    EXPECT_FALSE(installer.ForceFolder(temp.Path() + "sub\\"));
    EXPECT_FALSE(FolderExists(temp.Path() + "sub\\"));
    EXPECT_EQ(JournalLines(temp.Path()).size(), 1u);
}

TEST(Journal, UnopenableJournalRaisesTheFileError) {
    TempFolder temp;
    TInstaller installer;
    EXPECT_THROW(installer.OpenJournal(temp.Path() + "missing\\folder\\"), EStreamError);
}

TEST(Installer, OpensItsOwnExecutableSharedForReadAndWrite) {
    TInstaller installer;
    ASSERT_TRUE(installer.FPackage);
    EXPECT_GT(installer.FPackage->Size(), 0);
    // Another opener may read and even write the file meanwhile.
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    HANDLE other = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    EXPECT_THROW(TInstaller("C:\\no\\such\\package.exe"), EStreamError);
}
