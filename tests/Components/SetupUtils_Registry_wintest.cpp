// Shortcuts, registry values, the menu extension and COM registration, against
// Wine's real registry, shell links and the fixture COM libraries.
#include "Components/SetupUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstring>
#include <thread>

#include "app/Utils.h"
#include "wintest_util.h"

using namespace wintest;
using namespace ::testing;

namespace {

std::string Unique(const std::string& Stem) { return Stem + "-" + std::to_string(GetCurrentProcessId()); }

std::vector<std::string> Journal(const TInstaller& Installer) { return SplitCrLf(Installer.PendingJournal()); }

// A value's bytes as text, its type in Type; "(missing)" when it is not there.
std::string StringValue(HKEY Root, const std::string& Key, const std::string& Name, DWORD* Type = nullptr) {
    std::vector<BYTE> data;
    if (!ReadValue(Root, Key, Name, Type, &data)) return "(missing)";
    return std::string(data.begin(), data.end());
}

// A key whose children can only be volatile: creating a lasting key below it fails.
class VolatileKey {
public:
    explicit VolatileKey(const std::string& Path) : FGuard(HKEY_CURRENT_USER, Path) {
        TRegKey key;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, Path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, key.Out(), nullptr),
                  ERROR_SUCCESS);
    }

private:
    KeyGuard FGuard;
};

}  // namespace

TEST(WriteRegistryString, JournalsTheKeyOnlyWhenItCreatedIt) {
    const std::string key = "Software\\" + Unique("OrvandTest-reg") + "\\Sub Key\\Deeper";
    KeyGuard guard(HKEY_CURRENT_USER, key);
    const std::string arg = "2147483649|" + key;
    TInstaller installer;

    // Missing and not to be created: refused, nothing made.
    EXPECT_THAT([&] { installer.WriteRegistryString(HKEY_CURRENT_USER, key, "Name", "v", false); },
                ThrowsMessage<EInstallException>("Couldn't create registry key \"" + key + "\""));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key));

    installer.WriteRegistryString(HKEY_CURRENT_USER, key, "Name", "first value", true);
    installer.WriteRegistryString(HKEY_CURRENT_USER, key, "Other", "x", true);
    installer.WriteRegistryString(HKEY_CURRENT_USER, key, "Name", "second", false);
    installer.WriteRegistryString(HKEY_CURRENT_USER, key, "", "default", false);
    EXPECT_EQ(Journal(installer),
              (std::vector<std::string>{"CreteRegKey " + arg, "CreteRegValue " + arg + "|Name",
                                        "CreteRegValue " + arg + "|Other", "CreteRegValue " + arg + "|Name",
                                        "CreteRegValue " + arg + "|"}));
    DWORD type = 0;
    // A zero-terminated string value, overwritten by the later write.
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, key, "Name", &type), std::string("second") + '\0');
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, key, ""), std::string("default") + '\0');
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "Other"), "x");
}

TEST(WriteRegistryString, AFailureJournalsOnlyWhatWasDoneBefore) {
    const std::string parent = "Software\\" + Unique("OrvandTest-volatile");
    VolatileKey volatileKey(parent);
    TInstaller installer;
    const std::string child = parent + "\\Child";
    EXPECT_THAT([&] { installer.WriteRegistryString(HKEY_CURRENT_USER, child, "a", "b", true); },
                ThrowsMessage<EInstallException>("Couldn't create registry key \"" + child + "\""));
    EXPECT_EQ(installer.PendingJournal(), "");

    // The key is made, then the value is refused (its name is too long): the key stays journalled.
    const std::string key = "Software\\" + Unique("OrvandTest-refused");
    KeyGuard guard(HKEY_CURRENT_USER, key);
    EXPECT_THAT([&] { installer.WriteRegistryString(HKEY_CURRENT_USER, key, std::string(20000, 'n'), "b", true); },
                ThrowsMessage<EInstallException>(Not(IsEmpty())));
    EXPECT_EQ(Journal(installer), std::vector<std::string>{"CreteRegKey 2147483649|" + key});
}

namespace {

// The values after "DisplayName" and "UninstallString", in the order they are written.
const char* const DetailValues[] = {"DisplayVersion",  "Publisher",     "DisplayIcon",
                                    "InstallLocation", "EstimatedSize", "NoModify",
                                    "NoRepair",        "URLInfoAbout",  "QuietUninstallString"};

}  // namespace

TEST(WriteUninstallEntry, QuotesAPathWithBlanksJournalsTheKeyOnceAndEveryValue) {
    // The private test prefix holds no real product: a stale entry is from an earlier run.
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, UninstallKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UninstallKey);
    KeyGuard guard(HKEY_LOCAL_MACHINE, UninstallKey);
    const std::string arg = std::string("2147483650|") + UninstallKey;
    auto valueLines = [&] {
        std::vector<std::string> lines = {"CreteRegValue " + arg + "|DisplayName",
                                          "CreteRegValue " + arg + "|UninstallString"};
        for (const char* name : DetailValues) lines.push_back("CreteRegValue " + arg + "|" + name);
        return lines;
    };
    auto entry = [](const char* Name) { return ReadRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, Name); };
    TUninstallDetails details{
        "2.2.93", "Orvand Software",           "C:\\Program Files\\Orvand\\orvand.exe", "C:\\Program Files\\Orvand\\",
        70000,    "http://www.orvand.example/"};
    TInstaller installer;
    installer.WriteUninstallEntry("Orvand", "C:\\Program Files\\Orvand\\install.exe", "-remove", details);
    std::vector<std::string> expected = valueLines();
    expected.insert(expected.begin(), "CreteRegKey " + arg);
    EXPECT_EQ(Journal(installer), expected);
    EXPECT_EQ(entry("DisplayName"), "Orvand");
    EXPECT_EQ(entry("UninstallString"), "\"C:\\Program Files\\Orvand\\install.exe\" -remove");
    EXPECT_EQ(entry("QuietUninstallString"), "\"C:\\Program Files\\Orvand\\install.exe\" -remove -silent");
    for (const auto& [name, text] : {std::pair{"DisplayVersion", "2.2.93"}, std::pair{"Publisher", "Orvand Software"},
                                     std::pair{"DisplayIcon", "C:\\Program Files\\Orvand\\orvand.exe"},
                                     std::pair{"InstallLocation", "C:\\Program Files\\Orvand\\"},
                                     std::pair{"URLInfoAbout", "http://www.orvand.example/"}}) {
        DWORD type = 0;
        EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, UninstallKey, name, &type), std::string(text) + '\0') << name;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << name;
    }
    // The list of programs reads these as numbers.
    for (const auto& [name, number] :
         {std::pair{"EstimatedSize", "70000"}, std::pair{"NoModify", "1"}, std::pair{"NoRepair", "1"}})
        EXPECT_EQ(NumberText(HKEY_LOCAL_MACHINE, UninstallKey, name), number) << name;

    // The key is there now: only the values; no blank after a path without arguments.
    installer.TakePendingJournal();
    details.EstimatedSizeKiB = 3;
    installer.WriteUninstallEntry("Orvand 2", "C:\\Orvand\\install.exe", "", details);
    EXPECT_EQ(Journal(installer), valueLines());
    EXPECT_EQ(entry("DisplayName"), "Orvand 2");
    EXPECT_EQ(entry("UninstallString"), "C:\\Orvand\\install.exe");
    // The quiet command removes all the same: "-silent" alone would install.
    EXPECT_EQ(entry("QuietUninstallString"), "C:\\Orvand\\install.exe -remove -silent");
    EXPECT_EQ(NumberText(HKEY_LOCAL_MACHINE, UninstallKey, "EstimatedSize"), "3");

    // A path that is quoted already is not quoted twice.
    installer.WriteUninstallEntry("Orvand", "\"C:\\Program Files\\Orvand\\install.exe\"", "-remove", details);
    EXPECT_EQ(entry("UninstallString"), "\"C:\\Program Files\\Orvand\\install.exe\" -remove");

    // Each journalled value goes with its line, whatever its type.
    TUninstaller uninstaller("C:\\");
    for (const std::string& line : valueLines()) uninstaller.UndoCreateRegValue(line.substr(line.find(' ') + 1));
    for (const char* name : DetailValues)
        EXPECT_EQ(StringValue(HKEY_LOCAL_MACHINE, UninstallKey, name), "(missing)") << name;
}

TEST(WriteAutostartEntry, StartsTheProductHiddenAndNeverJournalsTheRunKey) {
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, RunKey));
    ValueGuard guard(HKEY_CURRENT_USER, RunKey, "Orvand");
    TInstaller installer;
    installer.WriteAutostartEntry("C:\\Program Files\\Orvand\\orvand.exe");
    installer.WriteAutostartEntry("C:\\Orvand\\orvand.exe");
    const std::string line = std::string("CreteRegValue 2147483649|") + RunKey + "|Orvand";
    EXPECT_EQ(Journal(installer), (std::vector<std::string>{line, line}));
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, RunKey, "Orvand"), "C:\\Orvand\\orvand.exe -hidden");
    TInstaller blank;
    blank.WriteAutostartEntry("C:\\Program Files\\Orvand\\orvand.exe");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, RunKey, "Orvand"),
              "\"C:\\Program Files\\Orvand\\orvand.exe\" -hidden");
}

TEST(AddMenuExtension, JournalsTheKeyEveryTimeAndWritesFourBytesOfContexts) {
    const std::string text = "&Copy to " + Unique("OrvandTest");
    const std::string key = MenuExtKey + text;
    KeyGuard guard(HKEY_CURRENT_USER, key);
    TInstaller installer;
    installer.AddMenuExtension(text, "C:\\Program Files\\Orvand\\data\\script.htm", 16);
    DWORD type = 0;
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, key, "Contexts", &type), std::string("\x10\0\0\0", 4));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, key, "", &type),
              std::string("C:\\Program Files\\Orvand\\data\\script.htm") + '\0');
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

    // The key exists now and is journalled all the same; the values are replaced.
    installer.AddMenuExtension(text, "D:\\s.htm", -2);
    const std::string line = "CreteRegKey 2147483649|" + key;
    EXPECT_EQ(Journal(installer), (std::vector<std::string>{line, line}));
    EXPECT_EQ(StringValue(HKEY_CURRENT_USER, key, "Contexts"), "\xFE\xFF\xFF\xFF");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, ""), "D:\\s.htm");

    const std::string parent = Unique("OrvandTest-volatile");
    VolatileKey volatileKey(MenuExtKey + parent);
    TInstaller failing;
    EXPECT_THAT([&] { failing.AddMenuExtension(parent + "\\Child", "x", 16); },
                ThrowsMessage<EInstallException>("Couldn't open registry key \"" + std::string(MenuExtKey) + parent +
                                                 "\\Child\""));
    EXPECT_EQ(failing.PendingJournal(), "");
}

TEST(CreateShortcut, MakesTheFolderFirstAndTheLinkPointsAtTheTarget) {
    ComScope com;
    TempFolder temp;
    const std::string product = temp.Path() + "Orvand Test\\";
    ASSERT_TRUE(CreateDirectoryA(product.c_str(), nullptr));
    WriteFileText(product + "orvand.exe", "p");
    WriteFileText(product + "install.exe", "i");

    const std::string sub = Unique("OrvandTest");
    const std::string programs = SpecialFolder(CSIDL_PROGRAMS);
    const std::string folder = programs + sub + "\\";
    ASSERT_FALSE(FolderExists(folder));
    // Straight into the desktop folder, which exists, below.
    const std::string desktopLink = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + sub + ".lnk";
    TRemoveAtEnd cleanup{folder, desktopLink};

    TInstaller installer;
    installer.CreateShortcut(CSIDL_PROGRAMS, product + "orvand.exe", "", "Orvand.lnk", sub);
    installer.CreateShortcut(CSIDL_PROGRAMS, product + "install.exe", "-remove", "Uninstall.lnk", sub);
    EXPECT_EQ(Journal(installer),
              (std::vector<std::string>{"CreateFolder " + folder, "CreateFile " + folder + "Orvand.lnk",
                                        "CreateFile " + folder + "Uninstall.lnk"}));
    // Target, arguments and working folder.
    EXPECT_EQ(ReadShortcut(folder + "Orvand.lnk"), product + "orvand.exe||" + product);
    EXPECT_EQ(ReadShortcut(folder + "Uninstall.lnk"), product + "install.exe|-remove|" + product);

    // Only the link is journalled.
    TInstaller desktop;
    desktop.CreateShortcut(CSIDL_DESKTOPDIRECTORY, product + "orvand.exe", "", sub + ".lnk", "");
    EXPECT_EQ(Journal(desktop), std::vector<std::string>{"CreateFile " + desktopLink});
    EXPECT_EQ(ReadShortcut(desktopLink), product + "orvand.exe||" + product);
}

TEST(CreateShortcut, FailuresRaiseAndJournalNothing) {
    TempFolder temp;
    WriteFileText(temp.Path() + "orvand.exe", "p");
    const std::string blocker = Unique("OrvandTest-blocker");
    const std::string programs = SpecialFolder(CSIDL_PROGRAMS);
    WriteFileText(programs + blocker, "a file where the folder should go");
    TRemoveAtEnd removeBlocker{programs + blocker};
    {
        ComScope com;
        TInstaller installer;
        EXPECT_THAT(
            [&] { installer.CreateShortcut(CSIDL_PROGRAMS, temp.Path() + "orvand.exe", "", "Orvand.lnk", blocker); },
            ThrowsMessage<EInstallException>("Couldn't create folder \"" + programs + blocker + "\\\""));
        EXPECT_EQ(installer.PendingJournal(), "");
    }
    // Without COM on the thread the shell link cannot be made: the platform's error, as EInstallException.
    const std::string sub = Unique("OrvandTest-nocom");
    TInstaller installer;
    std::thread([&] {
        EXPECT_THROW(installer.CreateShortcut(CSIDL_PROGRAMS, temp.Path() + "orvand.exe", "", "Orvand.lnk", sub),
                     EInstallException);
    }).join();
    EXPECT_EQ(installer.PendingJournal(), "");
    EXPECT_FALSE(FolderExists(programs + sub));
}

namespace {

bool BridgeProgIdKnown() {
    CLSID cls;
    return SUCCEEDED(CLSIDFromProgID(L"Orvand.Bridge", &cls));
}

// Fixture libraries copied into a scratch folder; the bridge's registration goes at the end.
class RegisterComLibrary : public ::testing::Test {
protected:
    std::string Copy(const char* Fixture) { return CopyFixture(Fixture, Temp.Path() + Fixture); }
    TempFolder Temp;
    KeyGuard ClassGuard{HKEY_CLASSES_ROOT, BridgeClassKey}, ProgIdGuard{HKEY_CLASSES_ROOT, "Orvand.Bridge"};
    TInstaller Installer;
};

}  // namespace

TEST_F(RegisterComLibrary, ALibraryThatDoesNotRegisterIsNeitherJournalledNorLeftLoaded) {
    for (const std::string& path : {Copy("bridge_fail.ocx"), Copy("noentry.dll"), Temp.Path() + "missing.ocx"}) {
        EXPECT_THAT([&] { Installer.RegisterComLibrary(path); },
                    ThrowsMessage<EInstallException>("Couldn't register \"" + path + "\" as COM server"));
        EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr) << "left loaded: " << path;
    }
    EXPECT_EQ(Installer.PendingJournal(), "");
    EXPECT_FALSE(BridgeProgIdKnown());
}

TEST_F(RegisterComLibrary, RegistersTheBridgeAndJournalsItOnlyOnSuccess) {
    const std::string bridge = Copy("bridge.ocx");
    ASSERT_TRUE(FileExists(bridge));
    {
        // S_FALSE is no failure: registered, and journalled like S_OK below.
        EnvGuard sFalse("ORVAND_BRIDGE_S_FALSE", "1");
        EXPECT_NO_THROW(Installer.RegisterComLibrary(bridge));
    }
    Installer.RegisterComLibrary(bridge);
    EXPECT_EQ(Journal(Installer), (std::vector<std::string>{"RegisterServer " + bridge, "RegisterServer " + bridge}));
    EXPECT_EQ(GetModuleHandleA(bridge.c_str()), nullptr) << "left loaded";
    EXPECT_TRUE(BridgeProgIdKnown());
    EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, std::string(BridgeClassKey) + "\\InprocServer32", ""), bridge);
    // The class works: COM loads the library and makes an object.
    HRESULT created = E_FAIL;
    OnComThread([&] {
        CLSID cls;
        IUnknown* object = nullptr;
        if (SUCCEEDED(CLSIDFromProgID(L"Orvand.Bridge", &cls)))
            created =
                CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&object));
        if (object) object->Release();
    });
    EXPECT_EQ(created, S_OK);

    // The journal line undoes it.
    TUninstaller(Temp.Path()).UnregisterServer(bridge);
    EXPECT_FALSE(BridgeProgIdKnown());
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, BridgeClassKey));
}
