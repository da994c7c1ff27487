// Installation runs of the packed install.exe through its wizard: installers shipped,
// fetched or present, characters fetched, Cancel during a transfer, a second run into
// the same folder, DLLs planted beside setup, names outside the system's code page, and
// the removal that takes it all back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <map>

#include "E2eUtil.h"
#include "support/CodePages.h"
#include "support/TextUtils.h"

using namespace e2e;
using namespace wintest;
using namespace ::testing;

namespace {

const char* const AgentClassKey = "CLSID\\{D45FD31B-5C6E-11D1-9EC1-00C04FD7081F}";

// The running processes: id -> (parent id, program file name).
std::map<DWORD, std::pair<DWORD, std::string>> Processes() {
    std::map<DWORD, std::pair<DWORD, std::string>> processes;
    TKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
        processes[entry.th32ProcessID] = {entry.th32ParentProcessID, entry.szExeFile};
    return processes;
}

// The file name of the program that started process Id, or "".
std::string ParentProgramName(DWORD Id) {
    const auto processes = Processes();
    auto self = processes.find(Id);
    auto parent = self == processes.end() ? processes.end() : processes.find(self->second.first);
    return parent == processes.end() ? "" : parent->second.second;
}

// Whether a process of that program file name runs.
bool ProgramRunning(const char* Name) {
    for (const auto& [id, process] : Processes())
        if (_stricmp(process.second.c_str(), Name) == 0) return true;
    return false;
}

// Whether a program loads version.dll planted beside it whatever its own code does:
// Wine's user32 imports it, so the loader takes the planted one before the program's
// first instruction. A stand-in that never touches version.dll shows it.
bool SystemLoadsPlantedVersionDll(const std::string& Folder) {
    CreateDirectoryA(Folder.c_str(), nullptr);
    CopyFixture("planted\\version.dll", Folder + "version.dll");
    TProcess process = StartProgram(CopyFixture("orvand.exe", Folder + "orvand.exe"), "");
    EXPECT_NE(WaitProductWindow(20000), nullptr) << "the stand-in product did not start";
    process.Terminate();
    return FileExists(Folder + "version.dll.loaded");
}

// The first run installs the Agent runtime alone and two characters.
void FirstRunInstallsTheAgentAndTwoCharacters(const std::string& Setup, const TScenario& Scene,
                                              const TDistributor& Distributor) {
    const std::string& target = Scene.Target;
    TSetupRun run = StartAtComponents(Setup, target);
    EXPECT_EQ(run.Text("CmpLabel1"), "Missed (Remote)");
    run.Click("CmpCheckBox2");  // no speech: the Agent runtime alone
    run.Click("ComponentsNextButton");
    ExpectRebootNotice(run);
    ASSERT_TRUE(run.WaitPage("CharactersPanel", 60000));
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
    EXPECT_EQ(run.Text("InstallLabel"), "Running: MSagent.exe");
    // Vela travels in the package; Nimbus and Hanako come from the fresh copy. "Zoë" is
    // read from a Latin-1 configuration; each is drawn whole (LayoutProblems above).
    EXPECT_EQ(run.Items("CharactersListBox"),
              (std::vector<std::string>{"Bramble", "Zo\xC3\xAB", "Captain Tock", "Pip", "Marlow", "Juniper", "Oskar",
                                        "Wren", "Nimbus", "花子"}));
    run.Click("CharactersCancelButton");
    AnswerCloseQuestion(run, IDNO);
    run.TickItem("CharactersListBox", 0);
    run.TickItem("CharactersListBox", 1);
    EXPECT_TRUE(run.ItemChecked("CharactersListBox", 1));
    EXPECT_FALSE(run.ItemChecked("CharactersListBox", 2));
    run.ClickToPage("CharactersNextButton", "DonePanel");
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
    EXPECT_EQ(run.Text("InstallLabel"), "Downloading: " + Distributor.Url() + "Zoe.acs");
    ExpectFinishOffers(run, true);

    ExpectJournal(target,
                  Concat({{"CreateFolder " + target, "CreateFolder " + target + "temp\\",
                           "CreateFile " + target + "temp\\setup.xml", "CreateFile " + target + "temp\\MSagent.exe"},
                          ExtractedLines(target, true, true),
                          RegisteredLines(target, true),
                          {"CreateFile " + target + "data\\Bramble.acs", "CreateFile " + target + "data\\Zoe.acs"}}));
    ExpectRegistered(target, true);
    EXPECT_EQ(ReadFileText(target + "data\\Zoe.acs"), TDistributor::CharacterBytes("Zoe.acs"));
    EXPECT_EQ(Distributor.Server.Paths(),
              (std::vector<std::string>{"/ok/setup.xml", "/ok/MSagent.exe", "/ok/Bramble.acs", "/ok/Zoe.acs"}));
    EXPECT_EQ(Scene.Runs(), "MSagent.exe \r\n");

    run.Click("RebootCheckBox");
    run.Click("FinishButton");
    ExpectQuietExit(run);
}

// The second run into the same folder keeps the user's brains when asked to, offers
// only the characters not installed yet, and with the box cleared starts no product.
void SecondRunKeepsTheBrainsAndStartsNothing(const std::string& Setup, const std::string& Target) {
    TSetupRun run = StartAtComponents(Setup, Target);
    EXPECT_EQ(run.Text("CmpLabel1"), "Installed (Remote)");
    run.Click("CmpCheckBox2");
    run.Click("ComponentsNextButton");
    run.Answer(ShownBox(run, "Confirm", BrainsText, TBoxIcon::Question, {IDYES, IDNO}, 60000), IDNO);
    ASSERT_TRUE(run.WaitPage("CharactersPanel", 60000));
    EXPECT_EQ(run.Items("CharactersListBox"), (std::vector<std::string>{"Captain Tock", "Pip", "Marlow", "Juniper",
                                                                        "Oskar", "Wren", "Nimbus", "花子"}));
    run.ClickToPage("CharactersNextButton", "DonePanel");
    ExpectFinishOffers(run, false);
    FinishWithoutTheProduct(run);
    // With the box cleared the product stays unstarted (started, it shows within seconds).
    HWND product = WaitProductWindow(5000);
    EXPECT_EQ(product, nullptr) << "the product started";
    if (product) PostMessageA(product, WM_USER + 0x120, 0, 0);
}

}  // namespace

TEST(Wizard, DllsPlantedBesideSetupUnderSystemNamesAreNeverLoaded) {
    TComponents all(true);
    TempFolder temp;
    // A bridge.ocx that imports bridgeaid.dll, which ships beside it; a copy lies beside setup too.
    std::string setup = PackSample(temp.Path() + "install.exe", "",
                                   {FixtureLine(".\\", "bridge.ocx", "bridge_aided.ocx"),
                                    FixtureLine(".\\", "bridgeaid.dll", "planted\\bridgeaid.dll")});
    const std::string target = temp.Path() + "dest\\";
    const char* const planted[] = {"version.dll", "wininet.dll", "uxtheme.dll", "bridgeaid.dll"};
    for (const char* name : planted) CopyFixture(std::string("planted\\") + name, temp.Path() + name);
    // Wine prefers its own builtin DLLs; Windows would take the files beside the program,
    // and so does Wine when told to for these programs.
    KeyGuard guard(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults");
    for (const char* program : {"install.exe", "orvand.exe"}) {
        const std::string overrides = std::string("Software\\Wine\\AppDefaults\\") + program + "\\DllOverrides";
        for (const char* name : {"version", "wininet", "uxtheme"})
            ASSERT_NO_FATAL_FAILURE(SetValue(HKEY_CURRENT_USER, overrides, name, std::string("native,builtin", 15)));
    }
    const bool versionBySystem = SystemLoadsPlantedVersionDll(temp.Path() + "baseline\\");
    auto expectNoneLoaded = [&] {
        for (const std::string name : planted)
            EXPECT_FALSE(FileExists(temp.Path() + name + ".loaded") && (name != "version.dll" || !versionBySystem))
                << name << " beside setup was loaded";
    };
    UninstallAtEnd cleanup(target);
    TSetupRun run = StartAtComponents(setup, target);
    // Read through the system's version.dll: the planted one knows no version.
    EXPECT_EQ(WindowText(run.Form()), "Orvand Setup  - Version 2.2.93");
    expectNoneLoaded();
    // Wine's own urlmon, which its MSXML loads, imports wininet, and Wine's loader looks for
    // that beside the program, as for version.dll; Windows keeps to the system folder.
    ASSERT_TRUE(DeleteFileA((temp.Path() + "wininet.dll").c_str()));
    run.ClickToPage("ComponentsNextButton", "CharactersPanel");
    run.ClickToPage("CharactersNextButton", "DonePanel");
    FinishWithoutTheProduct(run);
    expectNoneLoaded();
    // bridge.ocx took its bridgeaid.dll from its own folder, registered and again unregistered.
    EXPECT_TRUE(FileExists(target + "bridgeaid.dll.loaded"));
    cleanup.Now();
    EXPECT_EQ(ViewText(HKEY_CLASSES_ROOT, BridgeKey, nullptr), "(none)");
}

TEST(Wizard, AFirstRunWithTheInstallersShippedShowsTheNoticeAndEndsOnTheRestartBox) {
    TComponents none(false);
    TScenario scene;
    std::vector<std::string> installers;
    for (const char* name : ComponentInstallers) installers.push_back(FixtureLine(".\\temp\\", name));
    const std::vector<std::string> names(std::begin(ComponentInstallers), std::end(ComponentInstallers));
    // No distributors: nothing may be downloaded.
    std::string setup = PackSample(scene.Temp.Path() + "install.exe", SampleConfiguration({}), installers);
    UninstallAtEnd cleanup(scene.Target);
    {
        TSetupRun run = StartAtComponents(setup, scene.Target);
        run.Click("ComponentsNextButton");
        ExpectRebootNotice(run);
        ASSERT_TRUE(run.WaitPage("CharactersPanel", 120000));
        EXPECT_EQ(run.Text("InstallLabel"), "Running: lhttseng.exe");
        EXPECT_EQ(run.Items("CharactersListBox").size(), std::size(RemoteCharacters));
        // Vela came with the package: the check passes with nothing ticked.
        run.ClickToPage("CharactersNextButton", "DonePanel");
        EXPECT_EQ(Joined(LayoutProblems(run)), "");
        ExpectFinishOffers(run, true);
        ExpectJournal(scene.Target, Concat({{"CreateFolder " + scene.Target, "CreateFolder " + scene.Target + "temp\\",
                                             "CreateFile " + scene.Target + "temp\\setup.xml"},
                                            ExtractedLines(scene.Target, true, true, names),
                                            RegisteredLines(scene.Target, true)}));
        ExpectRegistered(scene.Target, true, names);

        run.Click("RebootCheckBox");
        EXPECT_FALSE(run.Checked("RebootCheckBox"));
        run.Click("FinishButton");
        ExpectQuietExit(run);
    }
    // Each installer ran once, in list order, without arguments.
    EXPECT_EQ(scene.Runs(), "MSagent.exe \r\nspchapi.exe \r\ntv_enua.exe \r\nlhttseng.exe \r\n");
    EXPECT_TRUE(FileExists(scene.Target + "install.exe"));
    cleanup.Now();
    ExpectRegistered(scene.Target, false);
}

// For every user (install.exe -allusers): the same pages, the shortcuts and Run value in the computer's places.
TEST(Wizard, WithEverythingPresentNoNoticeAndEscOnTheFinishPageStartsTheProduct) {
    TComponents all(true);
    TScenario scene;
    UninstallAtEnd cleanup(scene.Target);
    TSetupRun run = StartAtComponents(PackSample(scene.Temp.Path() + "install.exe", SampleConfiguration({})),
                                      scene.Target, "-allusers");
    run.Click("ComponentsNextButton");
    bool boxShown = false;
    WaitUntil([&] { return (boxShown |= run.BoxShowing()) || run.VisiblePage() == "CharactersPanel"; }, 60000, 50);
    ASSERT_FALSE(boxShown) << "a box during a run without installers";
    ASSERT_EQ(run.VisiblePage(), "CharactersPanel");
    EXPECT_EQ(run.Text("InstallLabel"), "Extracting: setup.xml");
    run.ClickToPage("CharactersNextButton", "DonePanel");
    ExpectFinishOffers(run, false);
    ASSERT_FALSE(run.Checked("RebootCheckBox"));
    ExpectRegistered(scene.Target, true, {}, true);

    // Esc presses Finish here: no close question, the product starts.
    run.PressKey(VK_ESCAPE);
    ExpectQuietExit(run);
    HWND product = WaitProductWindow(10000);
    ASSERT_NE(product, nullptr) << "the product did not start";
    // The desktop's shell started it, so it has neither setup's elevation nor its
    // environment, where the run log is named; a shell that had it logs no arguments.
    DWORD productId = 0;
    GetWindowThreadProcessId(product, &productId);
    EXPECT_EQ(LowerAscii(ParentProgramName(productId)), "explorer.exe");
    EXPECT_THAT(scene.Runs(), ::testing::AnyOf("", "orvand.exe \r\n")) << "started with arguments";
    PostMessageA(product, WM_USER + 0x120, 0, 0);
    WaitUntil([] { return !FindWindowA("TMainOrvandForm", "Orvand"); }, 10000, 50);
}

TEST(Wizard, AnAgentInstallerThatInstallsNothingStopsSetupBeforeAnyRegistration) {
    TempFolder temp;
    TComponents none(false);
    std::string setup = PackSample(temp.Path() + "install.exe", "", {FixtureLine(".\\temp\\", "MSagent.exe")});
    std::string target = temp.Path() + "Orvand\\";
    EnvGuard noRegister("ORVAND_FIXTURE_NOREGISTER", "MSagent.exe");
    TSetupRun run = StartAtComponents(setup, target);
    noRegister.Set(nullptr);
    run.Click("CmpCheckBox2");  // no speech components: the Agent runtime alone
    run.Click("ComponentsNextButton");
    ExpectRebootNotice(run);
    run.Answer(
        ShownBox(run, "Error",
                 "Microsoft Agent Runtime is required, but not found on your computer. Please install Orvand again.",
                 TBoxIcon::Error, {IDOK}, 60000),
        IDOK);
    ExpectQuietExit(run);
    // Extracted, but nothing registered yet.
    EXPECT_TRUE(FileExists(target + "orvand.exe"));
    std::string journal = ReadFileText(target + "install.log");
    EXPECT_THAT(journal, Not(HasSubstr(".lnk")));
    EXPECT_THAT(journal, Not(HasSubstr("CreteReg")));
    ExpectRegistered(target, false);
}

TEST(Wizard, AFirstInstallationFetchesTheAgentAndCharactersASecondAppendsAndRemoveRestoresThePrefix) {
    TComponents none(false);
    TDistributor distributor;
    // The first distributor is down; the second serves everything.
    const std::vector<std::string> urls = {distributor.Server.ClosedUrl(), distributor.Url()};
    // The distributor's copy of the configuration is fresher than the packaged one: it offers two
    // characters more, one of them with a Japanese name, and one whose file would land outside data\.
    std::string fresh = SampleConfiguration(urls);
    fresh.insert(fresh.find("</agentCharacters>"),
                 "<character name=\"Nimbus\" fileName=\"Nimbus.acs\"/>"
                 "<character name=\"&#x82B1;&#x5B50;\" fileName=\"Hanako.acs\"/>"
                 "<character name=\"Sneak\" fileName=\"..\\Sneak.acs\"/>");
    distributor.Server.Put("setup.xml", fresh);
    TScenario scene(SpecialFolder(CSIDL_PROGRAM_FILES) + "Orvand E2E " + std::to_string(GetCurrentProcessId()) + "\\");
    const std::string& target = scene.Target;
    std::string setup = PackSample(scene.Temp.Path() + "install.exe", SampleConfiguration(urls));
    WarmUpWinInet();
    TPrefixWatch prefix(target);
    UninstallAtEnd cleanup(target);

    ASSERT_NO_FATAL_FAILURE(FirstRunInstallsTheAgentAndTwoCharacters(setup, scene, distributor));
    const std::vector<std::string> first = Journal(target);
    // The user's brains have grown since.
    WriteFileText(target + "data\\" + Brains, "grown brains");
    ASSERT_NO_FATAL_FAILURE(SecondRunKeepsTheBrainsAndStartsNothing(setup, target));
    EXPECT_EQ(ReadFileText(target + "data\\" + Brains), "grown brains");
    // The second run's journal is the first one's, then a banner and what it did itself.
    ExpectJournal(target,
                  Concat({{"CreateFile " + target + "temp\\setup.xml"},
                          ExtractedLines(target, false, false),
                          RegisteredLines(target, false)}),
                  first);

    // The installed copy takes it all back; the Agent runtime's own installer is not undone.
    cleanup.Now();
    ExpectRegistered(target, false);
    TComponents::Set("MSagent.exe", false);
    prefix.ExpectOnlyUninstallerLeft();
}

TEST(Wizard, CancelDuringADownloadIsAnsweredAtTheNextPumpAndTheInstallerStillToRunEndsSetup) {
    TComponents none(false);
    TScenario scene;
    TDistributor distributor;
    std::string setup = PackSample(scene.Temp.Path() + "install.exe", SampleConfiguration({distributor.Url("slow")}));
    const std::string hold = scene.Temp.Path() + "go on";
    EnvGuard holdInstaller("ORVAND_FIXTURE_HOLD", hold.c_str());
    TSetupRun run = StartAtComponents(setup, scene.Target);
    run.Click("CmpCheckBox2");
    run.Click("ComponentsNextButton");
    ExpectRebootNotice(run);
    // Yes while the Agent installer is still to run: it is started, and setup ends at its first look.
    CancelDuringTransfer(run, "Downloading: " + distributor.Url("slow") + "MSagent.exe", "Extracting: install.exe",
                         IDYES);
    ExpectQuietExit(run, 30000);
    EXPECT_EQ(scene.Runs(), "MSagent.exe \r\n");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, AgentClassKey)) << "setup waited for the installer";
    WriteFileText(hold, "");
    EXPECT_TRUE(WaitUntil([] { return KeyExists(HKEY_CLASSES_ROOT, AgentClassKey); }, 10000, 50))
        << "the installer did not go on by itself";
    // Ended, so that its folder can go.
    EXPECT_TRUE(WaitUntil([] { return !ProgramRunning("MSagent.exe"); }, 10000, 50)) << "the installer still runs";

    std::vector<std::string> journal = Journal(scene.Target);
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "CreateFile " + scene.Target + "data\\script.htm") << "extracted, nothing registered";
    EXPECT_TRUE(FileExists(scene.Target + "temp\\MSagent.exe"));
    ExpectRegistered(scene.Target, false);
}

TEST(Wizard, CancelWithNoInstallerToRunLetsTheRunRegisterAndEndsWithoutTheFinishPage) {
    TComponents all(true);
    TScenario scene;
    TDistributor distributor;
    std::string configuration = SampleConfiguration({distributor.Url("slow")});
    distributor.Server.Put("setup.xml", configuration);  // a refresh that takes its time
    std::string setup = PackSample(scene.Temp.Path() + "install.exe", configuration);
    UninstallAtEnd cleanup(scene.Target);
    TSetupRun run = StartAtComponents(setup, scene.Target);
    run.ClickNoWait("ComponentsNextButton");
    CancelDuringTransfer(run, "Retrieving setup config. Please Wait...", "Extracting: install.exe", IDYES);
    ExpectQuietExit(run, 30000);
    // The run went through to its end; the finish page's action did not follow.
    EXPECT_EQ(Journal(scene.Target).back(), "RegisterServer " + scene.Target + "bridge.ocx");
    ExpectRegistered(scene.Target, true);
    ExpectNothingStarted(scene.RunLog);
}

// Only characters that the package does not hold, none present (the page's check is
// SetupForm's): Cancel during the first one is asked at the next file, and the handler
// still fetches that one before setup ends, without the finish page.
TEST(Wizard, CancelDuringTheCharactersDownloadEndsSetupAfterTheLastOne) {
    TComponents all(true);
    TScenario scene;
    TDistributor distributor;
    const std::string slow = distributor.Url("slow");
    std::string setup = PackSample(scene.Temp.Path() + "install.exe",
                                   SetupXmlText({slow}, {{"Pip", "Pip.acs"}, {"Zoe", "Zoe.acs"}}, InstallerDigests()));
    UninstallAtEnd cleanup(scene.Target);
    TSetupRun run = StartAtComponents(setup, scene.Target);
    run.ClickToPage("ComponentsNextButton", "CharactersPanel");
    EXPECT_EQ(run.Items("CharactersListBox"), (std::vector<std::string>{"Pip", "Zoe"}));
    run.TickItem("CharactersListBox", 0);
    run.TickItem("CharactersListBox", 1);
    run.ClickNoWait("CharactersNextButton");
    CancelDuringTransfer(run, "Downloading: " + slow + "Pip.acs", "Downloading: " + slow + "Zoe.acs", IDYES);
    ExpectQuietExit(run, 30000);
    for (const char* name : {"Pip.acs", "Zoe.acs"})
        EXPECT_EQ(ReadFileText(scene.Target + "data\\" + name), TDistributor::CharacterBytes(name)) << name;
    std::vector<std::string> journal = Journal(scene.Target);
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(journal.end() - 2, journal.end()),
              (std::vector<std::string>{"CreateFile " + scene.Target + "data\\Pip.acs",
                                        "CreateFile " + scene.Target + "data\\Zoe.acs"}));
    ExpectNothingStarted(scene.RunLog, "the finish page's action followed");
}

TEST(Wizard, NamesTheSystemCodePageCannotSpellArriveWholeAndRemoveTakesThemAway) {
    // The prefix keeps code page 1252, which has neither "Ł" nor Cyrillic; setup
    // speaks UTF-8 through its manifest, and so does this driver.
    ASSERT_EQ(ViewText(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP"), "1252");
    ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
    TComponents all(true);
    TDistributor distributor;
    distributor.Server.Put("Lucja.acs", TDistributor::CharacterBytes("Lucja.acs"));
    TempFolder temp;
    // The user's desktop and Start menu live below a profile named outside 1252.
    const std::string profile = "C:\\users\\Łukasz\\";
    const std::string desktop = profile + "Desktop\\", programs = profile + "Start Menu\\Programs\\";
    const char* const ShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    // The shell copies what it resolves into the older key; both are put back.
    const char* const ResolvedFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    ValueGuard desktopValue(HKEY_CURRENT_USER, ShellFolders, "Desktop");
    ValueGuard programsValue(HKEY_CURRENT_USER, ShellFolders, "Programs");
    ValueGuard desktopResolved(HKEY_CURRENT_USER, ResolvedFolders, "Desktop");
    ValueGuard programsResolved(HKEY_CURRENT_USER, ResolvedFolders, "Programs");
    TRemoveAtEnd removeAtEnd{"C:\\users\\Łukasz\\", "C:\\Программы\\"};
    for (const auto& [name, folder] : {std::pair{"Desktop", desktop}, std::pair{"Programs", programs}}) {
        ASSERT_EQ(SHCreateDirectoryExW(nullptr, AnsiToWide(folder).c_str(), nullptr), ERROR_SUCCESS) << folder;
        const std::wstring value = AnsiToWide(folder.substr(0, folder.size() - 1));
        ASSERT_EQ(
            RegSetKeyValueW(HKEY_CURRENT_USER, AnsiToWide(ShellFolders).c_str(), AnsiToWide(name).c_str(),
                            REG_EXPAND_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
    }
    ASSERT_EQ(SpecialFolder(CSIDL_DESKTOPDIRECTORY), desktop);
    ASSERT_EQ(SpecialFolder(CSIDL_PROGRAMS), programs);

    const std::string target = "C:\\Программы\\Orvand\\";
    std::string xml = SetupXmlText({distributor.Url()}, {{"Łucja", "Lucja.acs"}}, InstallerDigests());
    xml.replace(xml.find("ISO-8859-1"), 10, "UTF-8");
    const std::string setup = PackSample(temp.Path() + "install.exe", xml);
    UninstallAtEnd cleanup(target);
    {
        TSetupRun run = StartAtComponents(setup, target);
        run.ClickToPage("ComponentsNextButton", "CharactersPanel");
        EXPECT_EQ(run.Items("CharactersListBox"), std::vector<std::string>{"Łucja"});
        EXPECT_EQ(Joined(LayoutProblems(run)), "");
        run.TickItem("CharactersListBox", 0);
        run.ClickToPage("CharactersNextButton", "DonePanel");
        FinishWithoutTheProduct(run);
    }
    // Where a Unicode program looks for them.
    for (const wchar_t* file : {L"C:\\users\\\u0141ukasz\\Desktop\\Orvand.lnk",
                                L"C:\\users\\\u0141ukasz\\Start Menu\\Programs\\Orvand\\Uninstall.lnk",
                                L"C:\\\u041F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u044B\\Orvand\\data\\Lucja.acs"})
        EXPECT_NE(GetFileAttributesW(file), INVALID_FILE_ATTRIBUTES) << std::wstring(file).size() << " characters long";
    ExpectRegistered(target, true);
    // The journal names them in UTF-8.
    ExpectJournal(target, Concat({{"CreateFolder C:\\Программы\\", "CreateFolder " + target,
                                   "CreateFolder " + target + "temp\\", "CreateFile " + target + "temp\\setup.xml"},
                                  ExtractedLines(target, true, true),
                                  RegisteredLines(target, true),
                                  {"CreateFile " + target + "data\\Lucja.acs"}}));

    cleanup.Now();
    ExpectRegistered(target, false);
    // The running uninstaller's own file stays, as everywhere; nothing else.
    for (const char* left : {"install.log", "orvand.exe", "data\\Lucja.acs", "temp\\setup.xml"})
        EXPECT_FALSE(FileExists(target + left)) << left;
    EXPECT_FALSE(FolderExists(programs + "Orvand\\"));

    // A line an older build wrote in the system code page still names its file, in a
    // folder that code page can spell: the uninstaller undoes nothing outside its own.
    const std::string older = temp.Path() + "Zo\u00EB\\";
    ASSERT_TRUE(CreateDirectoryW(AnsiToWide(older).c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(InstallExePath().c_str(), (older + "install.exe").c_str(), FALSE));
    const std::wstring legacyFile = AnsiToWide(older) + L"Zo\u00EB.txt";
    TFileHandle(CreateFileW(legacyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_NE(GetFileAttributesW(legacyFile.c_str()), INVALID_FILE_ATTRIBUTES);
    WriteFileText(older + "install.log", "CreateFile " + temp.Path() + "Zo\xEB\\Zo\xEB.txt\r\n");
    RunUninstaller(older + "install.exe", "-remove", IDYES);
    EXPECT_EQ(GetFileAttributesW(legacyFile.c_str()), INVALID_FILE_ATTRIBUTES) << "the legacy line was not undone";
}
