// A scripted installation through the engine, then "install.exe -remove" from
// the target folder: the Wine prefix must come back as it was.
#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <optional>

#include "Components/SetupUtils.h"
#include "scripted_ui.h"
#include "snapshot.h"
#include "wintest_util.h"

using namespace wintest;
using namespace snapshot;

namespace {

const char* const MenuContainer = "Software\\Microsoft\\Internet Explorer\\MenuExt";
const std::string MenuKey = std::string(MenuExtKey) + "&Copy to Orvand";

// A target folder with a blank in its path, in the Program Files folder.
std::string TargetFolder(const std::string& Name) {
    return GetProgramFilesFolder() + "\\" + Name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
}

// A copy of the packed sample product beside the test program, outside the snapshot.
class PackageCopy {
public:
    PackageCopy() : FPath(TestProgramFolder() + "roundtrip-" + std::to_string(GetCurrentProcessId()) + ".exe") {
        EXPECT_TRUE(CopyFileA(FixturePath("sample\\install.exe").c_str(), FPath.c_str(), FALSE)) << FPath;
    }
    ~PackageCopy() { DeleteFileA(FPath.c_str()); }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Takes away whatever an installation into Target may have left, before the
// test (a run that was killed) and after it (a test that failed half-way).
class Leftovers {
public:
    explicit Leftovers(const std::string& Target) : FTarget(Target) {
        Remove();
        FMenuContainer.emplace(HKEY_CURRENT_USER, MenuKey);
    }
    ~Leftovers() { Remove(); }

private:
    void Remove() {
        if (FileExists(FTarget + "bridge.ocx")) {
            try {
                TUninstaller(FTarget).UnregisterServer(FTarget + "bridge.ocx");
            } catch (const std::exception&) {
            }
        }
        DeleteKey(HKEY_CLASSES_ROOT, BridgeClassKey);
        DeleteKey(HKEY_CLASSES_ROOT, "Orvand.Bridge");
        DeleteKey(HKEY_LOCAL_MACHINE, UninstallKey);
        DeleteKey(HKEY_CURRENT_USER, MenuKey.c_str());
        RegDeleteKeyValueA(HKEY_CURRENT_USER, RunKey, "Orvand");
        DeleteFileA((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk").c_str());
        RemoveTree(SpecialFolder(CSIDL_PROGRAMS) + "Orvand");
        RemoveTree(FTarget);
    }
    static void DeleteKey(HKEY Root, const char* Key) {
        RegDeleteTreeA(Root, Key);
        RegDeleteKeyA(Root, Key);
    }

    std::string FTarget;
    // Also the menu-extension container, when the installation had to make it.
    std::optional<KeyGuard> FMenuContainer;
};

// The installation run's engine calls, in the wizard's order.
void Install(const std::string& Package, const std::string& Target) {
    ComScope com;
    TScriptedUI ui;
    TInstaller installer(Package);
    installer.SetUI(&ui);
    ASSERT_TRUE(installer.ForceFolder(Target));
    installer.OpenJournal(Target);
    ASSERT_TRUE(installer.ForceFolder(installer.GetTempFolder()));
    installer.ExtractPackage(nullptr, nullptr);
    installer.CreateShortcut(16, Target + "orvand.exe", "", "Orvand.lnk", "");
    installer.CreateShortcut(2, Target + "orvand.exe", "", "Orvand.lnk", "Orvand");
    installer.CreateShortcut(2, Target + "install.exe", "-remove", "Uninstall.lnk", "Orvand");
    installer.WriteUninstallEntry("Orvand", Target + "install.exe", "-remove");
    installer.WriteAutostartEntry(Target + "orvand.exe");
    installer.AddMenuExtension("&Copy to Orvand", Target + "data\\script.htm", 16);
    installer.RegisterComLibrary(Target + "bridge.ocx");
    EXPECT_TRUE(ui.Questions.empty());
}

// One installation and its removal, with snapshots of the prefix around them.
class RoundTrip {
public:
    explicit RoundTrip(const std::string& Name) : FTarget(TargetFolder(Name)), FLeftovers(FTarget) {
        FMenuContainerMissing = !KeyExists(HKEY_CURRENT_USER, MenuContainer);
    }
    const std::string& Target() const { return FTarget; }
    void Before() { FBefore = TSnapshot::Take(FScope); }
    // Installs and checks that the snapshot sees each kind of change it made.
    void Install() {
        ::Install(FPackage.Path(), FTarget);
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
    // Runs the installed uninstaller and answers Yes; what differs from before.
    std::vector<TChange> Uninstall() {
        EXPECT_EQ(RunUninstaller(FTarget + "install.exe", "-remove", IDYES), 0u) << "did not end in time, or not with 0";
        return Compare(FBefore, TSnapshot::Take(FScope));
    }
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
}

TEST(UninstallRoundTrip, AFolderThatHeldTheUsersFilesKeepsThem) {
    ASSERT_TRUE(FileExists(FixturePath("sample\\install.exe")));
    RoundTrip trip("Orvand Data");
    const std::string& target = trip.Target();
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((target + "letters").c_str(), nullptr));
    WriteFileText(target + "My Notes.txt", "mine");
    WriteFileText(target + "letters\\to me.txt", "mine too");
    trip.Before();
    trip.Install();
    std::vector<TChange> left = trip.Uninstall();
    EXPECT_EQ(Lines(left), trip.Expected(false)) << Describe(left);
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
