// Windows first: its CreateFile macro renames the journal constant consistently.
#include "Components/SetupUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstdio>

#include "Components/JournalFormat.h"
#include "support/Logging.h"
#include "wintest_util.h"

using namespace wintest;
using namespace ::testing;

namespace {

std::string Line(const char* Action, const std::string& Argument) { return FormatJournalLine(Action, Argument); }
std::string Banner() { return FormatJournalBanner("Setup started at 08.12.2026 10:26:45"); }

void MakeFolder(const std::string& Path) { ASSERT_TRUE(CreateDirectoryA(Path.c_str(), nullptr)) << Path; }

// Replays Text as Install's journal; the journal goes whatever its lines did.
void Replay(const std::string& Install, const std::string& Text) {
    WriteFileText(Install + "install.log", Text);
    EXPECT_NO_THROW(TUninstaller(Install).Uninstall());
    EXPECT_FALSE(FileExists(Install + "install.log")) << "journal left behind";
}

// A test key under HKCU\Software, removed again at the end.
class TestKey {
public:
    TestKey() {
        static int counter = 0;
        FPath = "Software\\OrvandTest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        RegDeleteTreeA(HKEY_CURRENT_USER, FPath.c_str());
    }
    ~TestKey() { RegDeleteTreeA(HKEY_CURRENT_USER, FPath.c_str()); }
    const std::string& Path() const { return FPath; }
    // "2147483649|<path>\Sub" as the journal writes it.
    std::string Arg(const std::string& Sub = {}) const { return "2147483649|" + Full(Sub); }
    std::string Full(const std::string& Sub) const { return Sub.empty() ? FPath : FPath + "\\" + Sub; }
    void SetValue(const std::string& Sub, const char* Name, const std::string& Data) const {
        wintest::SetValue(HKEY_CURRENT_USER, Full(Sub), Name, Data + '\0');
    }
    bool HasKey(const std::string& Sub) const { return KeyExists(HKEY_CURRENT_USER, Full(Sub)); }
    bool HasValue(const std::string& Sub, const std::string& Name) const {
        return wintest::HasValue(HKEY_CURRENT_USER, Full(Sub), Name);
    }

private:
    std::string FPath;
};

// Copies a test library under a new name, so that each copy is a module of its own.
std::string CopyLibrary(const char* Name, const std::string& Target) {
    std::string source = TestProgramFolder() + Name;
    EXPECT_TRUE(CopyFileA(source.c_str(), Target.c_str(), FALSE)) << source;
    return Target;
}

// Points the test libraries' call record at a file for the life of the object.
class UnregisterLog {
public:
    explicit UnregisterLog(const std::string& File) : FFile(File), FGuard("ORVAND_UNREG_LOG", File.c_str()) {}
    std::vector<std::string> Calls() const { return SplitCrLf(ReadFileText(FFile)); }

private:
    std::string FFile;
    EnvGuard FGuard;
};

// Drive Letter: of the prefix, standing for Folder while the object lives.
class MappedDrive {
public:
    MappedDrive(char Letter, const std::string& Folder) : FRoot(std::string(1, Letter) + ":\\") {
        std::string c = UnixPath("C:\\");  // ".../dosdevices/c:/"
        FLink = c.substr(0, c.size() - 3) + char(Letter + 'a' - 'A') + ":";
        Run("Z:\\bin\\ln", "-sfn \"" + UnixPath(Folder) + "\" \"" + FLink + "\"", true);
    }
    ~MappedDrive() { Run("Z:\\bin\\rm", "-f \"" + FLink + "\"", false); }
    const std::string& Root() const { return FRoot; }

private:
    // Native programs give no handle to wait on: the drive's coming or going is.
    void Run(const std::string& Program, const std::string& Arguments, bool Present) {
        StartProgram(Program, Arguments).Detach();
        EXPECT_TRUE(
            WaitUntil([&] { return (GetFileAttributesA(FRoot.c_str()) != INVALID_FILE_ATTRIBUTES) == Present; }, 10000))
            << Program << " " << Arguments << " did not take effect";
    }
    std::string FRoot, FLink;
};

}  // namespace

TEST(Uninstall, ReplaysEveryRunNewestFirst) {
    TempFolder temp;
    std::string install = temp.Path() + "Orvand\\", x = install + "X\\";
    MakeTree(install, {{"X\\a.txt", "a"}, {"X\\b.txt", "b"}});
    // Forwards, removing X would fail while it still holds the files.
    std::string first = CopyLibrary("unreg_ok.dll", install + "first.ocx");
    std::string second = CopyLibrary("unreg_ok.dll", install + "second.ocx");
    UnregisterLog calls(temp.Path() + "calls.txt");
    Replay(install, Banner() + Line(Journal::CreateFolder, x) + Line(Journal::CreateFile, x + "a.txt") +
                        Line(Journal::CreateFile, x + "b.txt") + Line(Journal::CreateFile, first) +
                        Line(Journal::RegisterServer, first) + Banner() + Line(Journal::CreateFile, second) +
                        Line(Journal::RegisterServer, second));
    EXPECT_FALSE(FolderExists(x));
    // Each library was unregistered while its file still existed, the later run first.
    EXPECT_EQ(calls.Calls(), (std::vector<std::string>{second, first}));
    EXPECT_FALSE(FileExists(first));
    EXPECT_FALSE(FileExists(second));
    EXPECT_EQ(GetModuleHandleA(first.c_str()), nullptr) << "library left loaded";
}

TEST(Uninstall, SkipsEveryLineThatIsNotExactlyAnAction) {
    TempFolder temp;
    TestKey key;
    key.SetValue("Kept", "", "1");
    key.SetValue("", "Kept", "1");
    std::string f = temp.Path() + "keep.txt";
    WriteFileText(f, "x");
    Replay(temp.Path(), Line("createfile", f) + Line("CreateFil", f) + Line("CreatFile", f) + Line("CreateFiles", f) +
                            Line("CREATEFILE", f) + " CreateFile " + f + "\r\n" + "CreateFile\r\n" + "\r\n" +
                            "CreateFile\t" + f + "\r\n" + Line(Journal::CreateRegValue, key.Arg() + "Kept") +
                            Line(Journal::CreateRegKey, "2147483649" + key.Path() + "\\Kept") +
                            Line(Journal::CreateRegKey, "HKCU|" + key.Path() + "\\Kept") +
                            Line(Journal::CreateRegKey, "2147483649|") + Line(Journal::CreateRegKey, "2147483649|\\"));
    EXPECT_TRUE(FileExists(f));
    EXPECT_TRUE(key.HasKey("Kept"));
    EXPECT_TRUE(key.HasValue("", "Kept"));
}

TEST(Uninstall, RegistryKeysGoWithTheirTreesAndValuesByTheirFullName) {
    TempFolder temp;
    const std::string menu = std::string(MenuExtKey) + "&Copy to Orvand", run = RunKey, entry = UninstallKey;
    KeyGuard menuGuard(HKEY_CURRENT_USER, menu), entryGuard(HKEY_LOCAL_MACHINE, entry);
    ValueGuard orvand(HKEY_CURRENT_USER, run, "Orvand"), other(HKEY_CURRENT_USER, run, "Other");
    auto set = [](HKEY Root, const std::string& Key, const char* Name) { SetValue(Root, Key, Name, "x"); };
    set(HKEY_CURRENT_USER, menu + "\\sub\\deeper", "x");
    for (const char* name : {"DisplayName", "with|bar", "", "Keep"}) set(HKEY_LOCAL_MACHINE, entry, name);
    set(HKEY_CURRENT_USER, run, "Orvand");
    set(HKEY_CURRENT_USER, run, "Other");
    // The root as a negative number still means HKEY_LOCAL_MACHINE: its low 32 bits.
    Replay(temp.Path(), Line(Journal::CreateRegKey, "2147483649|" + menu) +
                            Line(Journal::CreateRegValue, "2147483649|" + run + "|Orvand") +
                            Line(Journal::CreateRegValue, "-2147483646|" + entry + "|with|bar") +
                            Line(Journal::CreateRegValue, "2147483650|" + entry + "|") +
                            Line(Journal::CreateRegValue, "2147483650|" + entry + "|DisplayName"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, menu));
    EXPECT_FALSE(HasValue(HKEY_CURRENT_USER, run, "Orvand"));
    EXPECT_TRUE(HasValue(HKEY_CURRENT_USER, run, "Other"));
    for (const char* name : {"DisplayName", "with|bar", ""})
        EXPECT_FALSE(HasValue(HKEY_LOCAL_MACHINE, entry, name)) << name;
    EXPECT_TRUE(HasValue(HKEY_LOCAL_MACHINE, entry, "Keep"));
    Replay(temp.Path(), Line(Journal::CreateRegValue, "2147483649|" + menu + "|Keep"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, menu)) << "opening a key to delete a value must not create it";
}

// Replayed as administrator, a journal others could have written undoes nothing else.
TEST(Uninstall, UndoesOnlyWhatSetupChangesAndLogsWhatItSkips) {
    TempFolder temp;
    TestKey key;
    key.SetValue("", "Orvand", "theirs");
    const std::string above = temp.Path() + "Apps\\", install = above + "Orvand\\", users = temp.Path() + "Users\\";
    for (const std::string& folder : {above, install, users, users + "empty\\", install + "data\\"}) MakeFolder(folder);
    WriteFileText(users + "letter.txt", "mine");
    const std::string planted = CopyLibrary("unreg_ok.dll", users + "planted.ocx");
    const std::string bridge = CopyLibrary("unreg_ok.dll", install + "bridge.ocx");
    const std::string shortcut = SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand uninstall test.lnk";
    WriteFileText(shortcut, "l");
    UnregisterLog calls(temp.Path() + "calls.txt");
    const std::vector<std::string> skipped = {Line(Journal::CreateFile, users + "letter.txt"),
                                              Line(Journal::CreateFile, install + "..\\..\\Users\\letter.txt"),
                                              Line(Journal::RegisterServer, planted),
                                              Line(Journal::CreateFolder, users + "empty\\"),
                                              Line(Journal::CreateRegKey, key.Arg()),
                                              Line(Journal::CreateRegValue, key.Arg() + "|Orvand")};
    std::string journal = Line(Journal::CreateFolder, above) + Line(Journal::CreateFolder, install) +
                          Line(Journal::CreateFolder, install + "data\\") + Line(Journal::CreateFile, shortcut) +
                          Line(Journal::CreateFile, bridge) + Line(Journal::RegisterServer, bridge);
    for (const std::string& line : skipped) journal += line;
    const std::string logFile = temp.Path() + "remove.log";
    OpenSharedLog(logFile);
    Replay(install, journal);
    ReleaseLog();
    EXPECT_EQ(calls.Calls(), std::vector<std::string>{bridge});
    EXPECT_FALSE(FileExists(bridge));
    EXPECT_FALSE(FileExists(shortcut));
    EXPECT_FALSE(FolderExists(install + "data\\"));
    EXPECT_EQ(ReadFileText(users + "letter.txt"), "mine");
    EXPECT_TRUE(FileExists(planted));
    EXPECT_TRUE(FolderExists(users + "empty\\"));
    EXPECT_TRUE(key.HasValue("", "Orvand"));
    const std::string log = ReadFileText(logFile);
    for (const std::string& line : skipped)
        EXPECT_THAT(log, HasSubstr("Skipped, outside what setup changes: " + line)) << line;
    DeleteFileA(shortcut.c_str());
}

TEST(UnregisterServer, RaisesOneMessagePerFailureAndUnloadsTheLibrary) {
    TempFolder temp;
    TUninstaller uninstaller(temp.Path());
    auto expectRefused = [&](const std::string& Path, const std::string& Message) {
        EXPECT_THAT([&] { uninstaller.UnregisterServer(Path); }, ThrowsMessage<EUninstallException>(Message));
    };
    std::string missing = temp.Path() + "missing.ocx";
    expectRefused(missing, "Couldn't unregister COM server \"" + missing + "\"");
    std::string plain = CopyLibrary("verinfo_none.dll", temp.Path() + "plain.dll");
    expectRefused(plain, "Can't find procedure DllUnregisterServer in library " + plain);
    std::string failing = CopyLibrary("unreg_fail.dll", temp.Path() + "failing.ocx");
    expectRefused(failing, "Some items not found on DllUnregisterServer in library " + failing);
    std::string ok = CopyLibrary("unreg_ok.dll", temp.Path() + "ok.ocx");
    EXPECT_NO_THROW(uninstaller.UnregisterServer(ok));
    for (const std::string& path : {plain, failing, ok}) EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr) << path;
}

TEST(Uninstall, ALineThatFailsIsDroppedAndTheReplayGoesOn) {
    TempFolder temp;
    std::string before = temp.Path() + "before.txt", after = temp.Path() + "after.txt";
    WriteFileText(before, "x");
    WriteFileText(after, "x");
    std::string failing = CopyLibrary("unreg_fail.dll", temp.Path() + "failing.ocx");
    UnregisterLog calls(temp.Path() + "calls.txt");
    Replay(temp.Path(), Line(Journal::CreateFile, before) + Line(Journal::RegisterServer, temp.Path() + "gone.ocx") +
                            Line(Journal::RegisterServer, failing) +
                            Line(Journal::CreateFile, temp.Path() + "gone.txt") +
                            Line(Journal::CreateFolder, temp.Path() + "gone\\") + Line(Journal::CreateFile, after));
    EXPECT_EQ(calls.Calls(), std::vector<std::string>{failing});
    EXPECT_FALSE(FileExists(before));
    EXPECT_FALSE(FileExists(after));
}

TEST(Uninstall, EmptiesAFolderSetupCreatedButKeepsReadOnlyFilesAndTheirFolders) {
    TempFolder temp;
    std::string install = temp.Path() + "Orvand\\";
    // Added later by the product, never journalled.
    MakeTree(install, {{"data\\deep\\x.txt", "x"}, {"hidden.txt", "h"}, {"ro\\sub\\r.txt", "r"}});
    SetFileAttributesA((install + "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    std::string readOnly = install + "ro\\sub\\r.txt";
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    // Written without the trailing separator and in other letter case: still this folder.
    std::string spelled = temp.Path() + "ORVAND";
    Replay(install, Banner() + Line(Journal::CreateFolder, spelled));
    EXPECT_FALSE(FolderExists(install + "data"));
    EXPECT_FALSE(FileExists(install + "hidden.txt"));
    EXPECT_TRUE(FileExists(readOnly));
    EXPECT_TRUE(FolderExists(install + "ro\\sub"));
    EXPECT_TRUE(FolderExists(install));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Uninstall, AFileInUseStays) {
    TempFolder temp;
    std::string install = temp.Path() + "Orvand\\", busy = install + "busy.txt";
    MakeTree(install, {{"busy.txt", "b"}});
    {
        TFileHandle open(CreateFileA(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(open);
        Replay(install, Line(Journal::CreateFolder, install) + Line(Journal::CreateFile, busy));
    }
    EXPECT_TRUE(FileExists(busy));
}

TEST(Uninstall, AFolderSetupDidNotCreateKeepsWhatTheJournalDoesNotName) {
    TempFolder temp;
    // The user typed an existing folder that holds their own files.
    std::string install = temp.Path() + "Documents\\";
    MakeTree(install, {{"letter.doc", "mine"}, {"photos\\me.jpg", "mine"}, {"orvand.exe", "product"}});
    MakeTree(install, {{"temp\\setup.xml", "x"}});
    Replay(install, Banner() + Line(Journal::CreateFolder, install + "temp\\") +
                        Line(Journal::CreateFile, install + "temp\\setup.xml") +
                        Line(Journal::CreateFile, install + "orvand.exe") +
                        // A folder inside it that setup created does not count for the folder itself.
                        Line(Journal::CreateFolder, install + "data\\"));
    EXPECT_FALSE(FileExists(install + "orvand.exe"));
    EXPECT_FALSE(FolderExists(install + "temp"));
    EXPECT_EQ(ReadFileText(install + "letter.doc"), "mine");
    EXPECT_EQ(ReadFileText(install + "photos\\me.jpg"), "mine");
}

TEST(Uninstall, WithoutAJournalOrWithAnEmptyOneNothingIsEmptied) {
    TempFolder temp;
    WriteFileText(temp.Path() + "mine.txt", "m");
    TUninstaller(temp.Path()).Uninstall();
    EXPECT_TRUE(FileExists(temp.Path() + "mine.txt"));

    Replay(temp.Path(), "");
    EXPECT_TRUE(FileExists(temp.Path() + "mine.txt"));

    // A folder called install.log is no journal.
    MakeFolder(temp.Path() + "install.log");
    EXPECT_NO_THROW(TUninstaller(temp.Path()).Uninstall());
    EXPECT_TRUE(FolderExists(temp.Path() + "install.log"));
}

TEST(Uninstall, AJournalThatCannotBeReadRaisesAndRemovesNothing) {
    TempFolder temp;
    std::string install = temp.Path() + "Orvand\\", file = install + "orvand.exe";
    MakeTree(install, {{"orvand.exe", "p"}, {"extra.txt", "e"}});
    std::string journal = install + "install.log";
    WriteFileText(journal, Line(Journal::CreateFolder, install) + Line(Journal::CreateFile, file));
    // Another program (a running setup) holds the journal open for writing.
    TFileHandle writer(CreateFileA(journal.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    // The message goes to the log too, when it is on.
    auto log = std::static_pointer_cast<TLog>(GetLog());
    const std::string logFile = log->FileName();
    DeleteFileA(logFile.c_str());
    log->SetEnabled(true);
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    std::string message;
    try {
        TUninstaller(install).Uninstall();
    } catch (const EInstallException& e) {
        message = e.what();
    }
    GetLocalTime(&after);
    log.reset();
    ReleaseLog();
    writer.Reset();
    EXPECT_FALSE(message.empty()) << "no EInstallException";
    std::vector<std::string> logged = SplitCrLf(ReadFileText(logFile));
    DeleteFileA(logFile.c_str());
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_TRUE(IsStampedLine(logged[1], before, after, "[ERROR] " + message)) << logged[1] << "\n" << message;
    EXPECT_TRUE(FileExists(journal));
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(FileExists(install + "extra.txt"));
}

TEST(Uninstall, UnderCPrjTheJournalIsReplayedButTheFolderNotEmptied) {
    PrjFolder prj("orvand");
    const std::string& install = prj.Path();
    WriteFileText(install + "journalled.txt", "j");
    WriteFileText(install + "later.txt", "l");
    Replay(install, Line(Journal::CreateFolder, install) + Line(Journal::CreateFile, install + "journalled.txt"));
    EXPECT_FALSE(FileExists(install + "journalled.txt"));
    EXPECT_TRUE(FileExists(install + "later.txt"));
}

TEST(DeleteFolderTree, EmptiesEverythingBelowButNotTheFolderItself) {
    TempFolder temp;
    std::string folder = temp.Path() + "tree";
    MakeTree(folder + "\\", {{"a\\b\\f.txt", "f"}, {".dotfile", "d"}, {"noext", "n"}});
    // A link inside that someone made to a folder of the user's is not entered: what
    // it points to stays. (Wine cannot remove such a link as a folder; Windows can.)
    TempFolder users;
    WriteFileText(users.Path() + "letter.txt", "the user's");
    MakeUnixLink(folder + "\\link", users.Path());
    // Blanks around the name and no trailing separator, as the normalisation allows.
    TUninstaller(temp.Path()).DeleteFolderTree("  " + folder + " ");
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_FALSE(FolderExists(folder + "\\a"));
    EXPECT_FALSE(FileExists(folder + "\\.dotfile"));
    EXPECT_FALSE(FileExists(folder + "\\noext"));
    EXPECT_EQ(ReadFileText(users.Path() + "letter.txt"), "the user's");
}

TEST(DeleteFolderTree, ADrivesRootIsRefusedHoweverItIsSpelt) {
    TempFolder temp, drive;
    MakeTree(drive.Path(), {{"Windows\\win.ini", "w"}, {"boot.ini", "b"}});
    MappedDrive q('Q', drive.Path());
    for (std::string root : {q.Root(), std::string("q:"), std::string(" Q:\\ ")}) {
        TUninstaller(temp.Path()).DeleteFolderTree(root);
        EXPECT_TRUE(FileExists(q.Root() + "boot.ini")) << root;
        EXPECT_TRUE(FileExists(q.Root() + "Windows\\win.ini")) << root;
    }
}

TEST(Uninstall, AHostileJournalIsReplayedInBoundedTimeAndTouchesNoKeyItDoesNotName) {
    TempFolder temp;
    TestKey key;
    key.SetValue("Sub", "kept", "k");
    // An open key of the uninstalling process: a journal root that happens to
    // be its handle must not reach it.
    TRegKey open;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.Path().c_str(), 0, KEY_ALL_ACCESS, open.Out()), ERROR_SUCCESS);
    const std::string handle = std::to_string(reinterpret_cast<uintptr_t>(open.Get()));
    const std::string first = temp.Path() + "first.txt", hidden = temp.Path() + "after the zero.txt";
    WriteFileText(first, "1");
    WriteFileText(hidden, "2");

    std::string binary;
    for (int i = 1; i < 256; ++i)
        if (i != '\r' && i != '\n') binary += static_cast<char>(i);
    std::string journal = Line(Journal::CreateFile, first) + Line(Journal::CreateFile, std::string(1 << 20, 'a')) +
                          Line(Journal::CreateRegKey, "2147483649|" + std::string(1 << 20, 'k')) + binary + "\r\n" +
                          std::string(1 << 20, '\xff') + "\r\n";
    for (const std::string& arg : {"|" + key.Path(), "0|" + key.Path(), handle + "|Sub", "-0|" + key.Path(),
                                   "x2147483649|" + key.Path(), "99999999999999999999|" + key.Path()})
        journal += Line(Journal::CreateRegKey, arg);
    for (const std::string& arg :
         {"|" + key.Full("Sub") + "|kept", "0|" + key.Full("Sub") + "|kept", handle + "|Sub|kept"})
        journal += Line(Journal::CreateRegValue, arg);
    for (int i = 0; i < 100000; ++i)
        journal += i % 2 ? Line(Journal::CreateFile, temp.Path() + "missing\\" + std::to_string(i)) : binary + "\n";
    journal += std::string("\0", 1) + Line(Journal::CreateFile, hidden) + std::string(1000, '\0');
    WriteFileText(temp.Path() + "install.log", journal);

    DWORD start = GetTickCount();
    EXPECT_NO_THROW(TUninstaller(temp.Path()).Uninstall());
    DWORD took = GetTickCount() - start;
    open.Reset();
    EXPECT_LT(took, 30000u);
    std::printf("[ figures  ] hostile journal of %zu bytes replayed in %lu ms\n", journal.size(),
                static_cast<unsigned long>(took));
    EXPECT_FALSE(FileExists(first)) << "the replay did not reach the first line";
    EXPECT_TRUE(FileExists(hidden)) << "a line after the zero byte was replayed";
    EXPECT_TRUE(key.HasKey("Sub"));
    EXPECT_TRUE(key.HasValue("Sub", "kept"));
    EXPECT_FALSE(FileExists(temp.Path() + "install.log"));
}
