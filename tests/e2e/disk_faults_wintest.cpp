// Faults of the disk during setup: a disk that fills up, a read-only file in the
// way. Each ends the operation with the file system's message, and the journal
// names only what was really done.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Components/JournalFormat.h"
#include "Components/SetupUtils.h"
#include "install_fixture.h"
#include "scripted_ui.h"
#include "support/FileStreams.h"
#include "wintest_util.h"

using namespace wintest;
using namespace ::testing;

namespace {

// Drive S: is a tmpfs of a few MiB (tests/with-small-drive.sh) when the machine allows mounting.
bool SmallDriveThere() {
    ULARGE_INTEGER total{};
    return GetDiskFreeSpaceExA("S:\\", nullptr, &total, nullptr) && total.QuadPart <= (64u << 20);
}

uint64_t FreeBytes() {
    ULARGE_INTEGER free{};
    GetDiskFreeSpaceExA("S:\\", &free, nullptr, nullptr);
    return free.QuadPart;
}

// Fills drive S: until at most Left bytes are free; gone again at the end.
class Filler {
public:
    explicit Filler(uint64_t Left) {
        TFileHandle file(CreateFileA(FPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        std::vector<char> block(65536, 'f');
        for (DWORD size : {65536u, 4096u, 1u}) {
            DWORD done = 0;
            while (FreeBytes() >= Left + size && WriteFile(file.Get(), block.data(), size, &done, nullptr) &&
                   done == size) {
            }
        }
    }
    ~Filler() { DeleteFileA(FPath); }

private:
    const char* FPath = "S:\\filler.bin";
};

uint64_t FileSize(const std::string& Path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(Path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::vector<std::string> JournalActions(const std::string& Target) {
    std::vector<std::string> actions;
    for (const std::string& line : SplitJournalLines(ReadFileText(Target + "install.log")))
        if (ParseJournalLine(line).Action != TJournalAction::None) actions.push_back(line);
    return actions;
}

// An engine on the sample package, its journal open in Target.
struct TEngine {
    explicit TEngine(const std::string& Target) : Installer(Package.Path()) {
        Installer.SetUI(&UI);
        EXPECT_TRUE(Installer.ForceFolder(Target));
        Installer.OpenJournal(Target);
    }
    // Extraction stops with a message that Matcher takes.
    template <class TMatcher>
    void ExpectExtractionFails(TMatcher Matcher) {
        EXPECT_THAT([&] { Installer.ExtractPackage(nullptr, nullptr); }, ThrowsMessage<EInstallException>(Matcher));
    }
    PackageCopy Package;
    TScriptedUI UI;
    TInstaller Installer;
};

}  // namespace

TEST(DiskFaults, AFullDiskStopsExtractionWithItsMessageAndOnlyWholeFilesAreJournalled) {
    if (!SmallDriveThere()) GTEST_SKIP() << "no small drive S: (tests/with-small-drive.sh mounts a tmpfs as root)";
    const std::string target = "S:\\Orvand\\";
    const uint64_t bare = FileSize(InstallExePath());
    ASSERT_GT(bare, 0u);
    {
        TEngine engine(target);
        // Room for the uninstaller copy, not for the product's program after it.
        Filler filler((bare + 4095) / 4096 * 4096 + 65536);
        engine.ExpectExtractionFails("Cannot write file \"" + target + "orvand.exe\". " +
                                     SysErrorMessage(ERROR_DISK_FULL));
        EXPECT_FALSE(FileExists(target + "orvand.exe"));
        EXPECT_EQ(FileSize(target + "install.exe"), bare);
        EXPECT_EQ(JournalActions(target),
                  (std::vector<std::string>{"CreateFolder " + target, "CreateFile " + target + "install.exe"}));
    }
    RemoveTree(target);
}

TEST(DiskFaults, AJournalLineThatFindsNoRoomStopsTheRunAndLeavesNoTornLine) {
    if (!SmallDriveThere()) GTEST_SKIP() << "no small drive S: (tests/with-small-drive.sh mounts a tmpfs as root)";
    const std::string target = "S:\\Orvand\\";
    {
        TEngine engine(target);
        const std::string before = ReadFileText(target + "install.log");
        Filler filler(0);
        // Cut short, this line would name the parent key and take its whole tree.
        std::string key = "Software\\Orvand Test\\" + std::string(6000, 'k');
        EXPECT_THAT([&] { engine.Installer.WriteJournal(Journal::CreateRegKey, "2147483649|" + key); },
                    ThrowsMessage<EInstallException>(
                        StartsWith("Couldn't write to the install journal \"" + target + "install.log\". ")));
        EXPECT_EQ(ReadFileText(target + "install.log"), before);
    }
    RemoveTree(target);
}

TEST(DiskFaults, AReadOnlyFileInTheTargetStopsExtractionAndStaysAsItWas) {
    TempFolder temp;
    const std::string target = temp.Path() + "Orvand\\";
    MakeTree(target, {{"orvand.chm", "the user's own"}});
    SetFileAttributesA((target + "orvand.chm").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        TEngine engine(target);
        engine.ExpectExtractionFails(StartsWith("Cannot create file \"" + target + "orvand.chm\". "));
        EXPECT_EQ(JournalActions(target), (std::vector<std::string>{"CreateFile " + target + "install.exe",
                                                                    "CreateFile " + target + "orvand.exe",
                                                                    "CreateFile " + target + "bridge.ocx"}));
    }
    EXPECT_EQ(ReadFileText(target + "orvand.chm"), "the user's own");
    SetFileAttributesA((target + "orvand.chm").c_str(), FILE_ATTRIBUTE_NORMAL);
}
