// The wizard of the packed install.exe, driven from outside as a user would.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "Components/SetupUtils.h"
#include "E2eUtil.h"
#include "app/Controls.h"
#include "app/SetupLayout.h"
#include "config/md5.h"
#include "install_fixture.h"
#include "snapshot.h"
#include "support/PathUtils.h"

using namespace e2e;
using namespace wintest;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

const char* const CloseQuestion = "Are you sure you want to quit Orvand setup?";
const char* const RebootNotice =
    "During the installation process the program may ask to reboot. \r\n"
    "Please, DO NOT REBOOT until you see \"ORVAND SETUP COMPLETED SUCCESSFULLY\"";
const char* const Brains = "{3F2A8C41-7B6E-4D19-9A05-C2E8B1D4F670}.db";
const char* const AgentClassKey = "CLSID\\{D45FD31B-5C6E-11D1-9EC1-00C04FD7081F}";
const char* const FolderRefused = "Could not create distination folder";
const COLORREF Green = RGB(0, 128, 0);
const COLORREF Red = RGB(255, 0, 0);

std::string Joined(const std::vector<std::string>& Lines) {
    std::string text;
    for (const std::string& line : Lines) text += line + "\n";
    return text;
}

// The file name of the program that started process Id, or "".
std::string ParentProgramName(DWORD Id) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return "";
    std::map<DWORD, std::pair<DWORD, std::string>> processes;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        processes[entry.th32ProcessID] = {entry.th32ParentProcessID, entry.szExeFile};
    CloseHandle(snapshot);
    auto self = processes.find(Id);
    if (self == processes.end()) return "";
    auto parent = processes.find(self->second.first);
    return parent == processes.end() ? "" : parent->second.second;
}

// Titles of the windows of a process that have a taskbar button: visible top-level
// windows that are unowned and no tool windows, or that ask for a button.
struct TTaskbarSearch {
    DWORD ProcessId;
    std::vector<std::string> Titles;
};

BOOL CALLBACK AddTaskbarTitle(HWND Window, LPARAM Param) {
    auto& search = *reinterpret_cast<TTaskbarSearch*>(Param);
    DWORD owner = 0;
    GetWindowThreadProcessId(Window, &owner);
    if (owner != search.ProcessId || !IsWindowVisible(Window)) return TRUE;
    LONG ex = GetWindowLongA(Window, GWL_EXSTYLE);
    bool unowned = GetWindow(Window, GW_OWNER) == nullptr;
    if ((ex & WS_EX_APPWINDOW) || (unowned && !(ex & WS_EX_TOOLWINDOW))) search.Titles.push_back(WindowText(Window));
    return TRUE;
}

std::vector<std::string> TaskbarTitles(DWORD ProcessId) {
    TTaskbarSearch search{ProcessId, {}};
    EnumWindows(AddTaskbarTitle, reinterpret_cast<LPARAM>(&search));
    return search.Titles;
}

// Answers the close question; checks that it is the close question.
void AnswerCloseQuestion(TSetupRun& Run, int Answer) {
    auto box = Run.WaitBox();
    ASSERT_TRUE(box) << "no close question";
    EXPECT_EQ(box->Title, "Confirm");
    EXPECT_EQ(box->Text, CloseQuestion);
    EXPECT_EQ(box->Icon, TBoxIcon::Question) << BoxIconName(box->Icon);
    EXPECT_EQ(box->Buttons, (std::vector<int>{IDYES, IDNO}));
    Run.Answer(*box, Answer);
}

void ExpectRefused(TSetupRun& Run, const std::string& Typed, const std::string& Shown, bool PressEnter = false) {
    Run.TypeText("LocationEdit", Typed);
    if (PressEnter)
        Run.PressKey(VK_RETURN);  // in the folder box: the page's Next
    else
        Run.Click("LocationNextButton");
    auto box = Run.WaitBox();
    ASSERT_TRUE(box) << "\"" << Typed << "\" was not refused";
    EXPECT_EQ(box->Title, "Error");
    EXPECT_EQ(box->Text, FolderRefused);
    EXPECT_EQ(box->Icon, TBoxIcon::Error) << BoxIconName(box->Icon);
    EXPECT_EQ(box->Buttons, std::vector<int>{IDOK});
    Run.Answer(*box, IDOK);
    WaitUntil([&] { return Run.FocusName() == "LocationEdit"; }, 5000);
    EXPECT_EQ(Run.VisiblePage(), "LocationPanel");
    EXPECT_EQ(Run.FocusName(), "LocationEdit") << "after \"" << Typed << "\"";
    EXPECT_EQ(Run.Text("LocationEdit"), Shown);
}

// The three speech boxes, CmpCheckBox2 to 4, as "1" for ticked and "0" for clear.
std::string Ticks(const TSetupRun& Run) {
    std::string ticks;
    for (const char* box : {"CmpCheckBox2", "CmpCheckBox3", "CmpCheckBox4"}) ticks += Run.Checked(box) ? '1' : '0';
    return ticks;
}

bool HasColor(const std::set<COLORREF>& Colors, COLORREF Color) { return Colors.count(Color) != 0; }

struct StatusExpectation {
    const char* Label;
    const char* Text;
    COLORREF Color;
};

void ExpectStatuses(TSetupRun& Run, std::initializer_list<StatusExpectation> Expected) {
    for (const auto& e : Expected) {
        EXPECT_EQ(Run.Text(e.Label), e.Text) << e.Label;
        std::set<COLORREF> colors = Run.PaintedColors(e.Label);
        EXPECT_TRUE(HasColor(colors, e.Color)) << e.Label << " is not painted in its colour";
        EXPECT_FALSE(HasColor(colors, e.Color == Green ? Red : Green)) << e.Label << " shows the other colour";
    }
}

// The stand-in components as a scenario needs them, all removed again afterwards.
struct Components {
    explicit Components(bool Installed) { SetAllComponents(Installed); }
    ~Components() { SetAllComponents(false); }
};

// In this program's own registry view.
std::string RegistryText(HKEY Root, const std::string& Key, const char* Value) { return ViewText(Root, Key, Value, 0); }

const std::string MenuKey = std::string(MenuExtKey) + "&Copy to Orvand";
const char* const BridgeKey = "CLSID\\{7F3C2A91-5B4E-4D6A-9C1F-2E8B0D4A6C35}\\InprocServer32";

// Whatever a scenario installed into Target is taken back by its own uninstaller.
struct UninstallAtEnd {
    explicit UninstallAtEnd(std::string Target) : Target(std::move(Target)) {}
    ~UninstallAtEnd() { Now(); }
    void Now() {
        if (Target.empty() || !FileExists(Target + "install.exe")) return;
        TSetupRun remove(Target + "install.exe", "-remove");
        if (auto box = remove.WaitBox()) remove.Answer(*box, IDYES);
        EXPECT_EQ(remove.WaitExit(60000), 0u);
        Target.clear();
    }
    std::string Target;
};

// A scenario's scratch folder, the target below it, and the stand-ins' log of their starts;
// made after the components are set up, whose own runs it would log.
struct TScenario {
    TempFolder Temp;
    const std::string Target = Temp.Path() + "Orvand\\";
    const std::string RunLog = Temp.Path() + "runs.log";
    EnvGuard LogRuns{"ORVAND_FIXTURE_RUNLOG", RunLog.c_str()};
};

std::vector<std::string> Journal(const std::string& Target) { return SplitCrLf(ReadFileText(Target + "install.log")); }

const char* const Banner = "########## Setup started at ";

// What extraction writes into Target: the sample's files in package order, then Shipped (in temp\).
std::vector<std::string> ExtractedLines(const std::string& Target, bool FirstTime, bool BrainsWritten,
                                        const std::vector<std::string>& Shipped = {}) {
    std::vector<std::string> lines;
    for (const char* name : {"install.exe", "orvand.exe", "bridge.ocx", "orvand.chm"})
        lines.push_back("CreateFile " + Target + name);
    if (FirstTime) lines.push_back("CreateFolder " + Target + "data\\");
    for (const char* name : {"Vela.acs", "orvand.dic", Brains, "script.htm"})
        if (BrainsWritten || std::string(name) != Brains) lines.push_back("CreateFile " + Target + "data\\" + name);
    for (const std::string& name : Shipped) lines.push_back("CreateFile " + Target + "temp\\" + name);
    return lines;
}

// The uninstall entry's values, in the order they are written.
const char* const UninstallValues[] = {"DisplayName", "UninstallString", "DisplayVersion",      "Publisher",
                                       "DisplayIcon", "InstallLocation", "EstimatedSize",       "NoModify",
                                       "NoRepair",    "URLInfoAbout",    "QuietUninstallString"};

// Where the shortcuts and the Run value go: the user's, or (AllUsers) the computer's.
std::string Desktop(bool AllUsers) {
    return SpecialFolder(AllUsers ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOPDIRECTORY);
}
std::string Programs(bool AllUsers) {
    return SpecialFolder(AllUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS) + "Orvand\\";
}
HKEY RunRoot(bool AllUsers) { return AllUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// What the shortcuts and registrations write; keys and folders that exist already get no line.
std::vector<std::string> RegisteredLines(const std::string& Target, bool FirstTime, bool AllUsers = false) {
    std::string programs = Programs(AllUsers);
    std::string uninstall = "2147483650|" + std::string(UninstallKey);
    std::vector<std::string> lines = {"CreateFile " + Desktop(AllUsers) + "Orvand.lnk"};
    if (FirstTime) lines.push_back("CreateFolder " + programs);
    lines.push_back("CreateFile " + programs + "Orvand.lnk");
    lines.push_back("CreateFile " + programs + "Uninstall.lnk");
    if (FirstTime) lines.push_back("CreteRegKey " + uninstall);
    for (const char* value : UninstallValues) lines.push_back("CreteRegValue " + uninstall + "|" + value);
    for (const std::string& line :
         {"CreteRegValue " + std::string(AllUsers ? "2147483650|" : "2147483649|") + RunKey + "|Orvand",
          "CreteRegKey 2147483649|" + MenuKey, "RegisterServer " + Target + "bridge.ocx"})
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> Parts) {
    std::vector<std::string> all;
    for (const auto& part : Parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

void ExpectRebootNotice(TSetupRun& Run) {
    auto notice = Run.WaitBox();
    ASSERT_TRUE(notice) << "no reboot notice";
    EXPECT_EQ(notice->Title, "Information");
    EXPECT_EQ(notice->Icon, TBoxIcon::Information) << BoxIconName(notice->Icon);
    EXPECT_EQ(notice->Text, RebootNotice);
    EXPECT_EQ(notice->Buttons, std::vector<int>{IDOK});
    EXPECT_EQ(Run.VisiblePage(), "ComponentsPanel") << "the notice comes before the install page";
    Run.Answer(*notice, IDOK);
}

// Read without the program's help: it may be busy.
bool WaitText(TSetupRun& Run, const char* Control, const std::string& Text, DWORD Milliseconds = 30000) {
    return WaitUntil([&] { return Run.Caption(Control) == Text; }, Milliseconds);
}

// After the end of a run: no stand-in program wrote to RunLog. A program would
// start within moments of the end, and nothing shows that it will not.
void ExpectNothingStarted(const std::string& RunLog, const char* What = "something was started") {
    Sleep(500);
    EXPECT_FALSE(FileExists(RunLog)) << What;
}

// Whether a process of that program file name runs.
bool ProgramRunning(const char* Name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = _stricmp(entry.szExeFile, Name) == 0;
    CloseHandle(snapshot);
    return found;
}

// Clicks the install page's Cancel while the run blocks in a transfer: the close question
// comes at the next point where the run lets messages in, the first file's extraction.
void CancelDuringTransfer(TSetupRun& Run, const std::string& Status, int Answer) {
    ASSERT_TRUE(WaitText(Run, "InstallLabel", Status)) << Run.Text("InstallLabel");
    Sleep(400);  // past the look at the messages that follows the status text, which shows nowhere
    Run.Click("InstallCancelButton");
    auto box = Run.WaitBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Text, CloseQuestion);
    EXPECT_EQ(Run.Text("InstallLabel"), "Extracting: install.exe");
    Run.Answer(*box, Answer);
}

// A shortcut as "target|arguments|working folder", read back through the shell.
std::string Shortcut(const std::string& File) {
    ComScope com;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return "(no shell link object)";
    std::string text = "(unreadable)";
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        std::wstring wide = Utf16(File);
        char path[MAX_PATH] = "", arguments[1024] = "", folder[MAX_PATH] = "";
        if (SUCCEEDED(persist->Load(wide.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
            SUCCEEDED(link->GetArguments(arguments, sizeof(arguments))) &&
            SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH)))
            text = std::string(path) + "|" + arguments + "|" + folder;
        persist->Release();
    }
    link->Release();
    return text;
}

// KiB of the files a first extraction writes into Target, Shipped installers (in temp\) included.
DWORD ExtractedKiB(const std::string& Target, const std::vector<std::string>& Shipped) {
    uint64_t bytes = 0;
    for (const std::string& line : ExtractedLines(Target, true, true, Shipped)) {
        if (line.rfind("CreateFile ", 0) != 0) continue;
        WIN32_FILE_ATTRIBUTE_DATA data{};
        EXPECT_TRUE(GetFileAttributesExA(line.substr(11).c_str(), GetFileExInfoStandard, &data)) << line;
        bytes += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    return static_cast<DWORD>((bytes + 1023) / 1024);
}

// A number value in this program's registry view, or "(none)".
std::string RegistryNumber(HKEY Root, const std::string& Key, const char* Value) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(Root, Key, Value, &type, &data)) return "(none)";
    if (type != REG_DWORD || data.size() != sizeof(DWORD)) return "(not a number)";
    DWORD number;
    memcpy(&number, data.data(), sizeof(number));
    return std::to_string(number);
}

// The changes a finished first run leaves, present or (after the uninstaller) all gone;
// AllUsers: the shortcuts and the Run value for every user, none in the user's own places.
void ExpectRegistered(const std::string& Target, bool Present, const std::vector<std::string>& Shipped = {},
                      bool AllUsers = false) {
    std::string programs = Programs(AllUsers);
    EXPECT_EQ(FileExists(Desktop(AllUsers) + "Orvand.lnk"), Present);
    EXPECT_EQ(FileExists(programs + "Orvand.lnk"), Present);
    EXPECT_EQ(FileExists(programs + "Uninstall.lnk"), Present);
    EXPECT_FALSE(FileExists(Desktop(!AllUsers) + "Orvand.lnk"));
    EXPECT_FALSE(FolderExists(Programs(!AllUsers)));
    EXPECT_EQ(ViewText(RunRoot(!AllUsers), RunKey, "Orvand", ProductView), "(none)");
    auto expect = [&](const std::string& Text) { return Present ? Text : std::string("(none)"); };
    // A program path with blanks is quoted in a command line.
    auto program = [&](const std::string& Name) {
        return Target.find(' ') == std::string::npos ? Target + Name : "\"" + Target + Name + "\"";
    };
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName"), expect("Orvand"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString"),
              expect(program("install.exe") + " -remove"));
    // The rest of the entry, for the system's list of programs.
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "QuietUninstallString"),
              expect(program("install.exe") + " -remove -silent"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayVersion"), expect("2.2.93"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "Publisher"), expect("Orvand Software"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayIcon"), expect(Target + "orvand.exe"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "InstallLocation"), expect(Target));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "URLInfoAbout"), expect("http://www.orvand.example/"));
    EXPECT_EQ(RegistryNumber(HKEY_LOCAL_MACHINE, UninstallKey, "EstimatedSize"),
              Present ? std::to_string(ExtractedKiB(Target, Shipped)) : "(none)");
    for (const char* flag : {"NoModify", "NoRepair"})
        EXPECT_EQ(RegistryNumber(HKEY_LOCAL_MACHINE, UninstallKey, flag), expect("1")) << flag;
    EXPECT_EQ(RegistryText(RunRoot(AllUsers), RunKey, "Orvand"), expect(program("orvand.exe") + " -hidden"));
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, MenuKey, nullptr), expect(Target + "data\\script.htm"));
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, BridgeKey, nullptr) != "(none)", Present);
    // Where 64-bit Windows keeps them: the uninstall entry and the class in this build's
    // registry view (a 64-bit "reg query" finds the shipped program's under Wow6432Node),
    // nothing in the other view, and the Run value where a 64-bit Explorer reads it.
    const std::string wow6432Entry = "SOFTWARE\\Wow6432Node\\" + std::string(UninstallKey).substr(9);
    EXPECT_EQ(ViewText(HKEY_LOCAL_MACHINE, wow6432Entry, "DisplayName", KEY_WOW64_64KEY),
              ShippedBuild ? expect("Orvand") : "(none)");
    EXPECT_EQ(ViewText(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName", OtherView), "(none)");
    EXPECT_EQ(ViewText(HKEY_CLASSES_ROOT, BridgeKey, nullptr, ProductView) != "(none)", Present);
    EXPECT_EQ(ViewText(HKEY_CLASSES_ROOT, BridgeKey, nullptr, OtherView), "(none)");
    // The computer's Run key is redirected like the uninstall entry, and a 64-bit Explorer reads both views.
    const std::string wow6432Run = "Software\\Wow6432Node\\" + std::string(RunKey).substr(9);
    EXPECT_EQ(ViewText(RunRoot(AllUsers), AllUsers && ShippedBuild ? wow6432Run : RunKey, "Orvand", KEY_WOW64_64KEY),
              expect(program("orvand.exe") + " -hidden"));
    if (!Present) return;
    // What each shortcut starts, with what, and where; the browser entry's contexts.
    EXPECT_EQ(Shortcut(Desktop(AllUsers) + "Orvand.lnk"), Target + "orvand.exe||" + Target);
    EXPECT_EQ(Shortcut(programs + "Orvand.lnk"), Target + "orvand.exe||" + Target);
    EXPECT_EQ(Shortcut(programs + "Uninstall.lnk"), Target + "install.exe|-remove|" + Target);
    DWORD type = 0;
    std::vector<BYTE> contexts;
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, MenuKey, "Contexts", &type, &contexts));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(contexts, (std::vector<BYTE>{0x10, 0, 0, 0}));
}

}  // namespace

TEST(Wizard, CaptionTitleLicenceAndTheAcceptBox) {
    TempFolder temp;
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(run.WaitForm());
    EXPECT_EQ(WindowText(run.Form()), "Orvand Setup  - Version 2.2.93");
    EXPECT_EQ(run.ApplicationTitle(), "Orvand Setup ");
    // One taskbar button, to come back to setup during a long download.
    EXPECT_EQ(TaskbarTitles(run.ProcessId()), std::vector<std::string>{"Orvand Setup "});
    RECT client;
    GetClientRect(run.Form(), &client);
    EXPECT_EQ(client.right, 497);
    EXPECT_EQ(client.bottom, 305);
    // Fixed size, no minimise or maximise box.
    LONG style = GetWindowLongA(run.Form(), GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(style & WS_SYSMENU, 0);
    RECT frame;
    GetWindowRect(run.Form(), &frame);
    EXPECT_NEAR(frame.left + frame.right, GetSystemMetrics(SM_CXSCREEN), 1) << "not centred";
    EXPECT_NEAR(frame.top + frame.bottom, GetSystemMetrics(SM_CYSCREEN), 1) << "not centred";

    ASSERT_TRUE(run.WaitPage("FirstPanel"));
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
    // Enter presses the page's "Next >".
    run.PressKey(VK_RETURN);
    ASSERT_TRUE(run.WaitPage("LicensePanel"));
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
    std::string licence = run.Text("AgreeInfoMemo");
    for (const char* section : {"\r\n1. ", "\r\n2. ", "\r\n3. ", "\r\n4. ", "\r\n5. "})
        EXPECT_THAT(licence, HasSubstr(section)) << "no section" << section;
    EXPECT_FALSE(run.Checked("AgreeCheckBox"));
    EXPECT_FALSE(run.Enabled("LicenseNextButton"));
    // Enter does nothing while Next is disabled. From the check box: in the licence
    // text Enter is the text's own key and would show nothing. The mouse goes down on
    // the box, which takes the keyboard, and up off it, which leaves it unticked.
    PostMessageA(run.Control("AgreeCheckBox"), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    PostMessageA(run.Control("AgreeCheckBox"), WM_LBUTTONUP, 0, MAKELPARAM(-50, -50));
    WaitUntil([&] { return run.FocusName() == "AgreeCheckBox"; }, 2000);
    ASSERT_EQ(run.FocusName(), "AgreeCheckBox");
    run.PressKey(VK_RETURN);
    Sleep(500);  // time to do what it must not: nothing shows when nothing happened
    EXPECT_EQ(run.VisiblePage(), "LicensePanel");
    EXPECT_FALSE(run.Checked("AgreeCheckBox"));
    EXPECT_FALSE(run.Enabled("LicenseNextButton"));

    run.Click("AgreeCheckBox");
    EXPECT_TRUE(run.Checked("AgreeCheckBox"));
    EXPECT_TRUE(run.Enabled("LicenseNextButton"));
    run.Click("AgreeCheckBox");
    EXPECT_FALSE(run.Checked("AgreeCheckBox"));
    EXPECT_TRUE(run.Enabled("LicenseNextButton")) << "clearing the box disabled Next again";

    run.Click("LicenseNextButton");
    ASSERT_TRUE(run.WaitPage("LocationPanel"));
    EXPECT_EQ(run.FocusName(), "LocationEdit");
    EXPECT_EQ(run.Text("LocationEdit"), std::string(BuildProgramFiles) + "Orvand\\");
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
}

TEST(Wizard, EveryWayToCloseAsksFirstAndYesEndsQuietly) {
    TempFolder temp;
    std::string setup = CopySample(temp.Path());
    std::string destination = temp.Path() + "dest\\";
    TSetupRun run(setup);
    ASSERT_TRUE(run.WaitForm());
    ASSERT_TRUE(run.WaitPage("FirstPanel"));

    run.PressKey(VK_ESCAPE);
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "FirstPanel");
    run.Click("FirstCancelButton");
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "FirstPanel");

    run.Click("FirstNexButton");
    ASSERT_TRUE(run.WaitPage("LicensePanel"));
    run.CloseBox();
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "LicensePanel");
    run.Click("AgreeCheckBox");
    run.Click("LicenseNextButton");
    ASSERT_TRUE(run.WaitPage("LocationPanel"));
    run.AltF4();
    AnswerCloseQuestion(run, IDNO);
    // Esc in the folder box is the page's Cancel too.
    run.PressKey(VK_ESCAPE);
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "LocationPanel");
    EXPECT_TRUE(run.Running());

    run.TypeText("LocationEdit", destination);
    run.Click("LocationNextButton");
    ASSERT_TRUE(run.WaitPage("ComponentsPanel"));
    run.Click("ComponentsCancelButton");
    AnswerCloseQuestion(run, IDYES);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0) << "something was shown after Yes";
    // What the location page made stays for the uninstaller.
    EXPECT_TRUE(FileExists(destination + "install.log"));
    EXPECT_TRUE(FolderExists(destination + "temp"));
}

TEST(Wizard, DestinationsThatCannotBeMadeAreRefusedAndAGoodOneIsNormalised) {
    TempFolder temp;
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(WalkToLocation(run));
    ExpectRefused(run, "D:\\", "D:\\", true);
    ExpectRefused(run, "   ", "\\");
    ExpectRefused(run, "", "\\");
    // Relative to whatever folder setup runs in: refused as well.
    ExpectRefused(run, "Orvand", "Orvand\\");
    EXPECT_FALSE(FolderExists("Orvand"));

    std::string outer = temp.Path() + "orvand e2e";
    std::string target = outer + "\\nested dir\\";
    run.TypeText("LocationEdit", "  " + outer + "\\nested dir  ");
    run.Click("LocationNextButton");
    ASSERT_TRUE(run.WaitPage("ComponentsPanel"));
    EXPECT_EQ(run.Text("LocationEdit"), target);
    EXPECT_TRUE(FolderExists(target + "temp"));

    std::vector<std::string> journal = SplitCrLf(ReadFileText(target + "install.log"));
    ASSERT_EQ(journal.size(), 4u) << Joined(journal);
    EXPECT_THAT(journal[0], StartsWith("########## Setup started at "));
    EXPECT_EQ(journal[1], "CreateFolder " + outer + "\\");
    EXPECT_EQ(journal[2], "CreateFolder " + target);
    EXPECT_EQ(journal[3], "CreateFolder " + target + "temp\\");
    // A click that reaches the hidden page's Next (a double click, say) does not run it again.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(run.Control("LocationNextButton"), BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
    EXPECT_EQ(SplitCrLf(ReadFileText(target + "install.log")).size(), 4u);
    run.Click("ComponentsCancelButton");
    AnswerCloseQuestion(run, IDYES);
    EXPECT_EQ(run.WaitExit(), 0u);
}

TEST(Wizard, MissingComponentsAreRedAndTheSpeechBoxesDependOnTheRuntime) {
    TempFolder temp;
    Components none(false);
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(WalkToComponents(run, temp.Path() + "dest"));
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
    ExpectStatuses(run, {{"CmpLabel1", "Missed (Remote)", Red},
                         {"CmpLabel2", "Missed (Remote)", Red},
                         {"CmpLabel3", "Missed (Remote)", Red},
                         {"CmpLabel4", "Missed (Remote)", Red}});
    EXPECT_EQ(Ticks(run), "111");

    // Without the runtime no engine stays chosen without it.
    run.Click("CmpCheckBox2");
    EXPECT_EQ(Ticks(run), "000");
    run.Click("CmpCheckBox4");
    EXPECT_EQ(Ticks(run), "101");
    run.Click("CmpCheckBox4");
    EXPECT_EQ(Ticks(run), "100") << "clearing an engine must leave the runtime";
    run.Click("CmpCheckBox2");
    run.Click("CmpCheckBox3");
    EXPECT_EQ(Ticks(run), "110");
    run.CloseBox();
    AnswerCloseQuestion(run, IDYES);
    EXPECT_EQ(run.WaitExit(), 0u);
}

TEST(Wizard, InstalledComponentsAreGreenShippedOnesLocalAndTheBoxesIndependent) {
    TempFolder temp;
    Components all(true);
    std::string setup = PackSample(temp.Path(), {".\\temp\\ spchapi.exe \"" + Fixture("spchapi.exe") + "\""});
    TSetupRun run(setup);
    ASSERT_TRUE(WalkToComponents(run, temp.Path() + "dest"));
    ExpectStatuses(run, {{"CmpLabel1", "Installed (Remote)", Green},
                         {"CmpLabel2", "Installed (Local)", Green},
                         {"CmpLabel3", "Installed (Remote)", Green},
                         {"CmpLabel4", "Installed (Remote)", Green}});
    EXPECT_EQ(Ticks(run), "000");
    // Still enabled: an installer may be run again.
    EXPECT_TRUE(run.Enabled("CmpCheckBox2"));
    run.Click("CmpCheckBox3");
    EXPECT_EQ(Ticks(run), "010");
    run.Click("CmpCheckBox2");
    run.Click("CmpCheckBox2");
    EXPECT_EQ(Ticks(run), "010");
    run.Click("ComponentsCancelButton");
    AnswerCloseQuestion(run, IDYES);
    EXPECT_EQ(run.WaitExit(), 0u);
}

// Whether a program loads version.dll planted beside it whatever its own code does:
// Wine's user32 imports it, so the loader takes the planted one before the program's
// first instruction. A stand-in that never touches version.dll shows it.
bool SystemLoadsPlantedVersionDll(const std::string& Folder) {
    CreateDirectoryA(Folder.c_str(), nullptr);
    const std::string program = Folder + "orvand.exe";
    EXPECT_TRUE(CopyFileA(FixturePath("orvand.exe").c_str(), program.c_str(), FALSE)) << "error " << GetLastError();
    EXPECT_TRUE(CopyFileA(FixturePath("planted\\version.dll").c_str(), (Folder + "version.dll").c_str(), FALSE))
        << "error " << GetLastError();
    PROCESS_INFORMATION process = StartProgram(program, "");
    HWND window = WaitProductWindow(20000);
    TerminateProcess(process.hProcess, 0);
    WaitExit(process, 20000);
    EXPECT_NE(window, nullptr) << "the stand-in product did not start";
    return FileExists(Folder + "version.dll.loaded");
}

TEST(Wizard, DllsPlantedBesideSetupUnderSystemNamesAreNeverLoaded) {
    Components all(true);
    TempFolder temp;
    // A bridge.ocx that imports bridgeaid.dll, which ships beside it; a copy lies beside setup too.
    std::string setup = PackSample(temp.Path(), {".\\ bridge.ocx \"" + Fixture("bridge_aided.ocx") + "\"",
                                                 ".\\ bridgeaid.dll \"" + Fixture("planted\\bridgeaid.dll") + "\""});
    const std::string target = temp.Path() + "dest\\";
    const char* const planted[] = {"version.dll", "wininet.dll", "uxtheme.dll", "bridgeaid.dll"};
    for (const char* name : planted)
        ASSERT_TRUE(
            CopyFileA(FixturePath(std::string("planted\\") + name).c_str(), (temp.Path() + name).c_str(), FALSE));
    // Wine prefers its own builtin DLLs; Windows would take the files beside the program,
    // and so does Wine when told to for these programs.
    KeyGuard guard(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults");
    for (const char* program : {"install.exe", "orvand.exe"}) {
        const std::string overrides = std::string("Software\\Wine\\AppDefaults\\") + program + "\\DllOverrides";
        for (const char* name : {"version", "wininet", "uxtheme"})
            ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, overrides.c_str(), name, REG_SZ, "native,builtin", 15),
                      ERROR_SUCCESS);
    }
    const bool versionBySystem = SystemLoadsPlantedVersionDll(temp.Path() + "baseline\\");
    auto expectNoneLoaded = [&] {
        for (const std::string name : planted) {
            if (name != "version.dll" || !versionBySystem) {
                EXPECT_FALSE(FileExists(temp.Path() + name + ".loaded")) << name << " beside setup was loaded";
            }
        }
    };
    TSetupRun run(setup);
    ASSERT_TRUE(run.WaitForm());
    expectNoneLoaded();
    // Read through the system's version.dll: the planted one knows no version.
    EXPECT_EQ(WindowText(run.Form()), "Orvand Setup  - Version 2.2.93");
    UninstallAtEnd cleanup(target);
    ASSERT_TRUE(WalkToComponents(run, target));
    expectNoneLoaded();
    // Wine's own urlmon, which its MSXML loads, imports wininet, and Wine's loader looks for
    // that beside the program, as for version.dll; Windows keeps to the system folder.
    ASSERT_TRUE(DeleteFileA((temp.Path() + "wininet.dll").c_str()));
    run.Click("ComponentsNextButton");
    ASSERT_TRUE(run.WaitPage("CharactersPanel", 60000));
    run.Click("CharactersNextButton");
    ASSERT_TRUE(run.WaitPage("DonePanel"));
    run.Click("RunCheckBox");
    run.Click("FinishButton");
    EXPECT_EQ(run.WaitExit(20000), 0u);
    expectNoneLoaded();
    // bridge.ocx took its bridgeaid.dll from its own folder, registered and again unregistered.
    EXPECT_TRUE(FileExists(target + "bridgeaid.dll.loaded"));
    cleanup.Now();
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, BridgeKey, nullptr), "(none)");
}

// One byte of the product's data changed; Resealed: the trailing digest made again
// to match, as by someone who swaps in a package of their own beside the program.
void Damage(const std::string& Setup, bool Resealed) {
    std::string bytes = ReadFileText(Setup);
    bytes[bytes.size() - 4000] ^= 0x20;
    if (Resealed) {
        TMD5Context context;
        MD5Init(context);
        MD5Update(context, bytes.data(), static_cast<uint32_t>(bytes.size() - 16));
        TMD5Digest digest = MD5Final(context);
        bytes.replace(bytes.size() - 16, 16, reinterpret_cast<const char*>(digest.data()), 16);
    }
    WriteFileText(Setup, bytes);
}

// Setup on a damaged package shows its message alone and ends quietly; its file is held meanwhile.
void ExpectOnlyTheDamagedBox(bool Resealed) {
    TempFolder temp;
    std::string setup = CopySample(temp.Path());
    Damage(setup, Resealed);
    TSetupRun run(setup);
    auto box = run.WaitBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Title, "Error");
    EXPECT_EQ(box->Text, "The Orvand distributive was damaged");
    EXPECT_EQ(box->Icon, TBoxIcon::Error) << BoxIconName(box->Icon);
    EXPECT_EQ(box->Buttons, std::vector<int>{IDOK});
    EXPECT_EQ(FindProcessWindow(run.ProcessId(), "TSetupForm", true), nullptr);
    // Held from its first statement: nobody renames, deletes or rewrites the file under setup.
    EXPECT_FALSE(MoveFileA(setup.c_str(), (setup + ".aside").c_str()));
    EXPECT_FALSE(DeleteFileA(setup.c_str()));
    HANDLE writer = CreateFileA(setup.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    run.Answer(*box, IDOK);
    // Watched until the end: the wizard must not show on the way out either.
    bool formShowed = false;
    DWORD code = STILL_ACTIVE;
    for (DWORD start = GetTickCount(); code == STILL_ACTIVE && GetTickCount() - start < 20000;) {
        formShowed = formShowed || FindProcessWindow(run.ProcessId(), "TSetupForm", true);
        EXPECT_FALSE(run.BoxShowing()) << "a second box";
        code = run.WaitExit(20);
    }
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(formShowed) << "the wizard window showed";
}

TEST(Wizard, ADamagedPackageShowsOnlyItsMessage) {
    ExpectOnlyTheDamagedBox(false);
    // Resealed, it still is not the package the program was packed with: its pin tells.
    ExpectOnlyTheDamagedBox(true);
}

// Signed after packing by a vendor's tool (fixtures/): the wizard opens as on the unsigned one.
TEST(Wizard, ASignedSetupProgramOpensTheWizard) {
    TempFolder temp;
    std::string setup = temp.Path() + "install.exe";
    ASSERT_TRUE(CopyFileA(FixturePath("sample\\install-signed.exe").c_str(), setup.c_str(), FALSE));
    TSetupRun run(setup);
    ASSERT_TRUE(run.WaitForm()) << "no wizard";
    EXPECT_FALSE(run.BoxShowing());
    EXPECT_EQ(WindowText(run.Form()), "Orvand Setup  - Version 2.2.93");
    ASSERT_TRUE(run.WaitPage("FirstPanel"));
    run.Click("FirstCancelButton");
    AnswerCloseQuestion(run, IDYES);
    EXPECT_EQ(run.WaitExit(20000), 0u);
}

TEST(Wizard, AnEngineFailureEndsSetupWithItsMessageAndAFullStop) {
    TempFolder temp;
    std::string destination = temp.Path() + "dest\\";
    // An earlier installation whose journal another program holds against writers: it cannot be opened.
    ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
    WriteFileText(destination + "install.log", "CreateFolder " + destination + "\r\n");
    HANDLE reader = CreateFileA((destination + "install.log").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    struct TClose {
        HANDLE Handle;
        ~TClose() { CloseHandle(Handle); }
    } close{reader};
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(WalkToLocation(run));
    run.TypeText("LocationEdit", destination);
    run.Click("LocationNextButton");
    auto box = run.WaitBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Title, "Orvand Setup ");
    EXPECT_EQ(box->Icon, TBoxIcon::Error) << BoxIconName(box->Icon);
    EXPECT_EQ(box->Buttons, std::vector<int>{IDOK});
    ASSERT_FALSE(box->Text.empty());
    EXPECT_EQ(box->Text.back(), '.');
    EXPECT_THAT(box->Text, Not(HasSubstr("..")));
    run.Answer(*box, IDOK);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
}

TEST(Wizard, TheFolderBrowserStartsAtTheDrivesAndAppendsTheProductFolder) {
    TempFolder temp;
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(WalkToLocation(run));
    std::string proposed = run.Text("LocationEdit");
    run.Click("BrowseFolderButton");
    auto browser = run.WaitBox();
    ASSERT_TRUE(browser) << "no folder browser";
    EXPECT_EQ(browser->Text, "Select the folder to install Orvand in:");
    EXPECT_EQ(GetWindow(browser->Handle, GW_OWNER), run.Form());
    run.Answer(*browser, IDCANCEL);
    EXPECT_EQ(run.Text("LocationEdit"), proposed);

    // Picked with the keyboard: the first drive below the root.
    run.Click("BrowseFolderButton");
    browser = run.WaitBox();
    ASSERT_TRUE(browser);
    HWND tree = FindWindowExA(browser->Handle, nullptr, "SysTreeView32", nullptr);
    ASSERT_NE(tree, nullptr);
    PostMessageA(tree, WM_KEYDOWN, VK_DOWN, 1);
    WaitUntil([&] { return IsWindowEnabled(GetDlgItem(browser->Handle, IDOK)) != FALSE; }, 5000);
    run.Answer(*browser, IDOK);
    EXPECT_EQ(run.Text("LocationEdit"), "C:\\Orvand\\");
    run.CloseBox();
    AnswerCloseQuestion(run, IDYES);
    EXPECT_EQ(run.WaitExit(), 0u);
}

TEST(Wizard, AFirstRunWithTheInstallersShippedShowsTheNoticeAndEndsOnTheRestartBox) {
    Components none(false);
    TScenario scene;
    std::vector<std::string> installers, names;
    for (const char* name : ComponentInstallers) {
        installers.push_back(std::string(".\\temp\\ ") + name + " \"" + Fixture(name) + "\"");
        names.push_back(name);
    }
    // No distributors: nothing may be downloaded.
    std::string setup = PackSample(scene.Temp.Path(), installers, SampleConfiguration({}));
    UninstallAtEnd cleanup(scene.Target);
    {
        TSetupRun run(setup);
        ASSERT_TRUE(WalkToComponents(run, scene.Target));
        run.Click("ComponentsNextButton");
        ExpectRebootNotice(run);
        ASSERT_TRUE(run.WaitPage("CharactersPanel", 120000));
        EXPECT_EQ(run.Text("InstallLabel"), "Running: lhttseng.exe");
        EXPECT_EQ(run.Items("CharactersListBox").size(), std::size(RemoteCharacters));
        // Vela came with the package: the check passes with nothing ticked.
        run.Click("CharactersNextButton");
        ASSERT_TRUE(run.WaitPage("DonePanel"));
        EXPECT_EQ(Joined(LayoutProblems(run)), "");
        EXPECT_TRUE(run.Visible("RebootCheckBox"));
        EXPECT_TRUE(run.Checked("RebootCheckBox"));
        EXPECT_FALSE(run.Visible("RunCheckBox"));
        EXPECT_FALSE(run.Checked("RunCheckBox"));

        std::vector<std::string> journal = Journal(scene.Target);
        ASSERT_FALSE(journal.empty());
        EXPECT_THAT(journal[0], StartsWith(Banner));
        journal.erase(journal.begin());
        std::vector<std::string> expected =
            Concat({{"CreateFolder " + scene.Target, "CreateFolder " + scene.Target + "temp\\",
                     "CreateFile " + scene.Target + "temp\\setup.xml"},
                    ExtractedLines(scene.Target, true, true, names),
                    RegisteredLines(scene.Target, true)});
        EXPECT_EQ(Joined(journal), Joined(expected));
        ExpectRegistered(scene.Target, true, names);

        run.Click("RebootCheckBox");
        EXPECT_FALSE(run.Checked("RebootCheckBox"));
        run.Click("FinishButton");
        int boxes = 0;
        EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
        EXPECT_EQ(boxes, 0) << "Finish asked something";
    }
    // Each installer ran once, in list order, without arguments.
    EXPECT_EQ(ReadFileText(scene.RunLog), "MSagent.exe \r\nspchapi.exe \r\ntv_enua.exe \r\nlhttseng.exe \r\n");
    EXPECT_TRUE(FileExists(scene.Target + "install.exe"));
    cleanup.Now();
    ExpectRegistered(scene.Target, false);
}

// For every user (install.exe -allusers): the same pages, the shortcuts and Run value in the computer's places.
TEST(Wizard, WithEverythingPresentNoNoticeAndEscOnTheFinishPageStartsTheProduct) {
    TempFolder temp;
    Components all(true);
    std::string target = temp.Path() + "Orvand\\";
    std::string runLog = temp.Path() + "product.log";
    SetEnvironmentVariableA("ORVAND_FIXTURE_RUNLOG", runLog.c_str());
    UninstallAtEnd cleanup(target);
    TSetupRun run(PackSample(temp.Path(), {}, SampleConfiguration({})), "-allusers");
    SetEnvironmentVariableA("ORVAND_FIXTURE_RUNLOG", nullptr);
    ASSERT_TRUE(WalkToComponents(run, target));
    run.Click("ComponentsNextButton");
    bool boxShown = false;
    WaitUntil([&] { return (boxShown |= run.BoxShowing()) || run.VisiblePage() == "CharactersPanel"; }, 60000, 50);
    ASSERT_FALSE(boxShown) << "a box during a run without installers";
    ASSERT_EQ(run.VisiblePage(), "CharactersPanel");
    EXPECT_EQ(run.Text("InstallLabel"), "Extracting: setup.xml");
    run.Click("CharactersNextButton");
    ASSERT_TRUE(run.WaitPage("DonePanel"));
    EXPECT_TRUE(run.Visible("RunCheckBox"));
    EXPECT_TRUE(run.Checked("RunCheckBox"));
    EXPECT_FALSE(run.Visible("RebootCheckBox"));
    ASSERT_FALSE(run.Checked("RebootCheckBox"));
    ExpectRegistered(target, true, {}, true);

    // Esc presses Finish here: no close question, the product starts.
    run.PressKey(VK_ESCAPE);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    HWND product = nullptr;
    WaitUntil([&] { return (product = FindWindowA("TMainOrvandForm", "Orvand")) != nullptr; }, 10000, 50);
    ASSERT_NE(product, nullptr) << "the product did not start";
    // The desktop's shell started it, so it has neither setup's elevation nor its
    // environment, where the run log is named; a shell that had it logs no arguments.
    DWORD productId = 0;
    GetWindowThreadProcessId(product, &productId);
    EXPECT_EQ(LowerAscii(ParentProgramName(productId)), "explorer.exe");
    const std::string log = ReadFileText(runLog);
    EXPECT_TRUE(log.empty() || log == "orvand.exe \r\n") << "started with arguments: " << log;
    PostMessageA(product, WM_USER + 0x120, 0, 0);
    WaitUntil([] { return !FindWindowA("TMainOrvandForm", "Orvand"); }, 10000, 50);
}

TEST(Wizard, ARunningProductIsAskedToCloseAndYesEndsSetupBeforeAnythingIsExtracted) {
    TempFolder temp;
    Components all(true);
    std::string target = temp.Path() + "Orvand\\";
    // Ended whatever happens: a product left running would hold up later runs.
    struct Product {
        PROCESS_INFORMATION Process = StartProgram(Fixture("orvand.exe"), "-ignore-close");
        ~Product() {
            TerminateProcess(Process.hProcess, 0);
            CloseHandle(Process.hProcess);
        }
    } product;
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(WalkToComponents(run, target));
    run.Click("ComponentsNextButton");
    // The product ignores the request: after ten seconds setup asks, and again after No.
    for (int answer : {IDNO, IDYES}) {
        auto box = run.WaitBox(30000);
        ASSERT_TRUE(box) << "no question about the running product";
        EXPECT_EQ(box->Title, "Confirm");
        EXPECT_EQ(box->Text, "Running Orvand application detected. Terminate setup?");
        EXPECT_EQ(box->Icon, TBoxIcon::Question) << BoxIconName(box->Icon);
        EXPECT_EQ(run.VisiblePage(), "InstallPanel");
        EXPECT_EQ(run.Text("InstallLabel"), "Retrieving setup config. Please Wait...");
        run.Answer(*box, answer);
    }
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    EXPECT_FALSE(FileExists(target + "orvand.exe"));
    // The location page's lines and the configuration's, nothing more.
    std::vector<std::string> journal = Journal(target);
    EXPECT_EQ(journal.size(), 4u) << Joined(journal);
    EXPECT_EQ(journal.back(), "CreateFile " + target + "temp\\setup.xml");
}

TEST(Wizard, AnAgentInstallerThatInstallsNothingStopsSetupBeforeAnyRegistration) {
    TempFolder temp;
    Components none(false);
    std::string setup = PackSample(temp.Path(), {".\\temp\\ MSagent.exe \"" + Fixture("MSagent.exe") + "\""});
    std::string target = temp.Path() + "Orvand\\";
    SetEnvironmentVariableA("ORVAND_FIXTURE_NOREGISTER", "MSagent.exe");
    TSetupRun run(setup);
    SetEnvironmentVariableA("ORVAND_FIXTURE_NOREGISTER", nullptr);
    ASSERT_TRUE(WalkToComponents(run, target));
    run.Click("CmpCheckBox2");  // no speech components: the Agent runtime alone
    run.Click("ComponentsNextButton");
    auto notice = run.WaitBox();
    ASSERT_TRUE(notice);
    run.Answer(*notice, IDOK);
    auto box = run.WaitBox(60000);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Title, "Error");
    EXPECT_EQ(box->Text,
              "Microsoft Agent Runtime is required, but not found on your computer. Please install Orvand again.");
    EXPECT_EQ(box->Icon, TBoxIcon::Error) << BoxIconName(box->Icon);
    run.Answer(*box, IDOK);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    // Extracted, but nothing registered yet.
    EXPECT_TRUE(FileExists(target + "orvand.exe"));
    std::string journal = ReadFileText(target + "install.log");
    EXPECT_THAT(journal, Not(HasSubstr(".lnk")));
    EXPECT_THAT(journal, Not(HasSubstr("CreteReg")));
    ExpectRegistered(target, false);
}

namespace {

const char* const MenuContainer = "Software\\Microsoft\\Internet Explorer\\MenuExt";

// The prefix as a scenario found it, to tell afterwards what the scenario left.
class TPrefixWatch {
public:
    TPrefixWatch()
        : FMenuContainerMissing(!KeyExists(HKEY_CURRENT_USER, MenuContainer)),
          FScope(snapshot::PrefixScope()),
          FBefore(snapshot::TSnapshot::Take(FScope)) {}

    // After the uninstaller: only Target and the Files in it are left, and the browser's
    // menu container where there was none; then they go too. The running uninstaller
    // and Target are to go at the next restart.
    void ExpectOnlyLeft(const std::string& Target, const std::vector<std::string>& Files) {
        EXPECT_EQ(DropRestartDeletions(Target),
                  (std::vector<std::string>{Target + "install.exe", Target.substr(0, Target.size() - 1)}));
        std::vector<snapshot::TChange> left = snapshot::Compare(FBefore, snapshot::TSnapshot::Take(FScope));
        std::vector<std::string> expected = {"+ " + Target};
        for (const std::string& file : Files) expected.push_back("+ " + Target + file);
        if (FMenuContainerMissing) expected.push_back(std::string("+ HKCU\\") + MenuContainer);
        std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
            return _stricmp(a.c_str() + 2, b.c_str() + 2) < 0;
        });
        EXPECT_EQ(snapshot::Lines(left), expected) << snapshot::Describe(left);
        RemoveTree(Target);
        if (FMenuContainerMissing) RegDeleteKeyA(HKEY_CURRENT_USER, MenuContainer);
    }

private:
    bool FMenuContainerMissing;
    snapshot::TScope FScope;
    snapshot::TSnapshot FBefore;
};

// The distributor's copy of the configuration is fresher than the packaged one: it
// offers two characters more, one of them with a Japanese name, and one whose file
// would land outside data\.
void OfferFreshConfiguration(TDistributor& Distributor, const std::vector<std::string>& Urls) {
    std::string fresh = SampleConfiguration(Urls);
    fresh.insert(fresh.find("</agentCharacters>"),
                 "<character name=\"Nimbus\" fileName=\"Nimbus.acs\"/>"
                 "<character name=\"&#x82B1;&#x5B50;\" fileName=\"Hanako.acs\"/>"
                 "<character name=\"Sneak\" fileName=\"..\\Sneak.acs\"/>");
    Distributor.Server.Put("setup.xml", fresh);
}

// The first run installs the Agent runtime alone and two characters; its journal in Written.
void FirstRunInstallsTheAgentAndTwoCharacters(const std::string& Setup, const std::string& Target,
                                              const TDistributor& Distributor, const std::string& RunLog,
                                              std::vector<std::string>& Written) {
    EnvGuard logRuns("ORVAND_FIXTURE_RUNLOG", RunLog.c_str());
    TSetupRun run(Setup);
    ASSERT_TRUE(WalkToComponents(run, Target));
    EXPECT_EQ(run.Text("CmpLabel1"), "Missed (Remote)");
    run.Click("CmpCheckBox2");  // no speech: the Agent runtime alone
    EXPECT_EQ(Ticks(run), "000");
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
    run.Click("CharactersNextButton");
    ASSERT_TRUE(run.WaitPage("DonePanel", 60000));
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
    EXPECT_EQ(run.Text("InstallLabel"), "Downloading: " + Distributor.Url() + "Zoe.acs");
    EXPECT_TRUE(run.Visible("RebootCheckBox"));
    EXPECT_TRUE(run.Checked("RebootCheckBox"));
    EXPECT_FALSE(run.Visible("RunCheckBox"));

    Written = Journal(Target);
    ASSERT_FALSE(Written.empty());
    EXPECT_THAT(Written[0], StartsWith(Banner));
    std::vector<std::string> expected =
        Concat({{"CreateFolder " + Target, "CreateFolder " + Target + "temp\\",
                 "CreateFile " + Target + "temp\\setup.xml", "CreateFile " + Target + "temp\\MSagent.exe"},
                ExtractedLines(Target, true, true),
                RegisteredLines(Target, true),
                {"CreateFile " + Target + "data\\Bramble.acs", "CreateFile " + Target + "data\\Zoe.acs"}});
    EXPECT_EQ(Joined(std::vector<std::string>(Written.begin() + 1, Written.end())), Joined(expected));
    ExpectRegistered(Target, true);
    EXPECT_EQ(ReadFileText(Target + "data\\Zoe.acs"), TDistributor::CharacterBytes("Zoe.acs"));
    EXPECT_EQ(Distributor.Requests(),
              (std::vector<std::string>{"/ok/setup.xml", "/ok/MSagent.exe", "/ok/Bramble.acs", "/ok/Zoe.acs"}));
    EXPECT_EQ(ReadFileText(RunLog), "MSagent.exe \r\n");

    run.Click("RebootCheckBox");
    run.Click("FinishButton");
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
}

// The second run into the same folder keeps the user's brains when asked to, offers
// only the characters not installed yet, and with the box cleared starts no product.
void SecondRunKeepsTheBrainsAndStartsNothing(const std::string& Setup, const std::string& Target) {
    TSetupRun run(Setup);
    ASSERT_TRUE(WalkToComponents(run, Target));
    EXPECT_EQ(run.Text("CmpLabel1"), "Installed (Remote)");
    run.Click("CmpCheckBox2");
    run.Click("ComponentsNextButton");
    auto brains = run.WaitBox(60000);
    ASSERT_TRUE(brains);
    EXPECT_EQ(brains->Title, "Confirm");
    EXPECT_EQ(brains->Text,
              "The brains of your previous Orvand have been found in the target folder.\r\n"
              "Would you like to replace them with new brains?");
    EXPECT_EQ(brains->Buttons, (std::vector<int>{IDYES, IDNO}));
    run.Answer(*brains, IDNO);
    ASSERT_TRUE(run.WaitPage("CharactersPanel", 60000));
    EXPECT_EQ(run.Items("CharactersListBox"), (std::vector<std::string>{"Captain Tock", "Pip", "Marlow", "Juniper",
                                                                        "Oskar", "Wren", "Nimbus", "花子"}));
    run.Click("CharactersNextButton");
    ASSERT_TRUE(run.WaitPage("DonePanel"));
    EXPECT_TRUE(run.Visible("RunCheckBox"));
    EXPECT_TRUE(run.Checked("RunCheckBox"));
    EXPECT_FALSE(run.Visible("RebootCheckBox"));
    run.Click("RunCheckBox");
    run.Click("FinishButton");
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    // With the box cleared the product stays unstarted (started, it shows within seconds).
    HWND product = nullptr;
    WaitUntil([&] { return (product = FindWindowA("TMainOrvandForm", "Orvand")) != nullptr; }, 5000, 50);
    EXPECT_EQ(product, nullptr) << "the product started";
    if (product) PostMessageA(product, WM_USER + 0x120, 0, 0);
}

// The second run's journal is the first one's, then a banner and what it did itself.
void ExpectTheSecondRunAppendedToTheJournal(const std::string& Target, const std::vector<std::string>& FirstJournal) {
    std::vector<std::string> journal = Journal(Target);
    ASSERT_GT(journal.size(), FirstJournal.size());
    const auto appendedAt = journal.begin() + static_cast<ptrdiff_t>(FirstJournal.size());
    EXPECT_EQ(Joined(std::vector<std::string>(journal.begin(), appendedAt)), Joined(FirstJournal));
    EXPECT_THAT(*appendedAt, StartsWith(Banner));
    std::vector<std::string> appended = Concat({{"CreateFile " + Target + "temp\\setup.xml"},
                                                ExtractedLines(Target, false, false),
                                                RegisteredLines(Target, false)});
    EXPECT_EQ(Joined(std::vector<std::string>(appendedAt + 1, journal.end())), Joined(appended));
}

}  // namespace

TEST(Wizard, AFirstInstallationFetchesTheAgentAndCharactersASecondAppendsAndRemoveRestoresThePrefix) {
    TempFolder temp;
    Components none(false);
    TDistributor distributor;
    // The first distributor is down; the second serves everything.
    const std::vector<std::string> urls = {distributor.Server.ClosedUrl(), distributor.Url()};
    OfferFreshConfiguration(distributor, urls);
    std::string setup = PackSample(temp.Path(), {}, SampleConfiguration(urls));
    const std::string target =
        SpecialFolder(CSIDL_PROGRAM_FILES) + "Orvand E2E " + std::to_string(GetCurrentProcessId()) + "\\";
    WarmUpWinInet();
    TPrefixWatch prefix;
    UninstallAtEnd cleanup(target);

    std::vector<std::string> firstJournal;
    ASSERT_NO_FATAL_FAILURE(
        FirstRunInstallsTheAgentAndTwoCharacters(setup, target, distributor, temp.Path() + "runs.log", firstJournal));
    // The user's brains have grown since.
    WriteFileText(target + "data\\" + Brains, "grown brains");
    ASSERT_NO_FATAL_FAILURE(SecondRunKeepsTheBrainsAndStartsNothing(setup, target));
    EXPECT_EQ(ReadFileText(target + "data\\" + Brains), "grown brains");
    ExpectTheSecondRunAppendedToTheJournal(target, firstJournal);

    // The installed copy takes it all back; the Agent runtime's own installer is not undone.
    cleanup.Now();
    ExpectRegistered(target, false);
    SetComponent("MSagent.exe", false);
    prefix.ExpectOnlyLeft(target, {"install.exe"});
}

TEST(Wizard, CancelDuringADownloadIsAnsweredAtTheNextPumpAndTheInstallerStillToRunEndsSetup) {
    TempFolder temp;
    Components none(false);
    TDistributor distributor;
    std::string setup = PackSample(temp.Path(), {}, SampleConfiguration({distributor.Url("slow")}));
    std::string target = temp.Path() + "Orvand\\";
    std::string hold = temp.Path() + "go on", runLog = temp.Path() + "runs.log";
    EnvGuard holdInstaller("ORVAND_FIXTURE_HOLD", hold.c_str()), logRuns("ORVAND_FIXTURE_RUNLOG", runLog.c_str());
    TSetupRun run(setup);
    ASSERT_TRUE(WalkToComponents(run, target));
    run.Click("CmpCheckBox2");
    run.Click("ComponentsNextButton");
    ExpectRebootNotice(run);
    // Yes while the Agent installer is still to run: it is started, and setup ends at its first look.
    CancelDuringTransfer(run, "Downloading: " + distributor.Url("slow") + "MSagent.exe", IDYES);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(30000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(ReadFileText(runLog), "MSagent.exe \r\n");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, AgentClassKey)) << "setup waited for the installer";
    WriteFileText(hold, "");
    EXPECT_TRUE(WaitUntil([] { return KeyExists(HKEY_CLASSES_ROOT, AgentClassKey); }, 10000, 50))
        << "the installer did not go on by itself";
    // Ended, so that its folder can go.
    EXPECT_TRUE(WaitUntil([] { return !ProgramRunning("MSagent.exe"); }, 10000, 50)) << "the installer still runs";

    std::vector<std::string> journal = Journal(target);
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "CreateFile " + target + "data\\script.htm") << "extracted, nothing registered";
    EXPECT_TRUE(FileExists(target + "temp\\MSagent.exe"));
    ExpectRegistered(target, false);
}

TEST(Wizard, CancelWithNoInstallerToRunLetsTheRunRegisterAndEndsWithoutTheFinishPage) {
    Components all(true);
    TScenario scene;
    TDistributor distributor;
    std::string configuration = SampleConfiguration({distributor.Url("slow")});
    distributor.Server.Put("setup.xml", configuration);  // a refresh that takes its time
    std::string setup = PackSample(scene.Temp.Path(), {}, configuration);
    UninstallAtEnd cleanup(scene.Target);
    TSetupRun run(setup);
    ASSERT_TRUE(WalkToComponents(run, scene.Target));
    run.ClickNoWait("ComponentsNextButton");
    CancelDuringTransfer(run, "Retrieving setup config. Please Wait...", IDYES);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(30000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    // The run went through to its end; the finish page's action did not follow.
    EXPECT_EQ(Journal(scene.Target).back(), "RegisterServer " + scene.Target + "bridge.ocx");
    ExpectRegistered(scene.Target, true);
    ExpectNothingStarted(scene.RunLog);
}

TEST(Wizard, TheCharactersPageWantsOneAndCancelDuringTheirDownloadEndsSetupAfterTheLast) {
    Components all(true);
    TScenario scene;
    TDistributor distributor;
    // Only characters that the package does not hold: none is present.
    const std::string slow = distributor.Url("slow");
    std::string setup = PackSample(scene.Temp.Path(), {},
                                   SetupXmlText({slow}, {{"Pip", "Pip.acs"}, {"Zoe", "Zoe.acs"}}, InstallerDigests()));
    UninstallAtEnd cleanup(scene.Target);
    TSetupRun run(setup);
    ASSERT_TRUE(WalkToComponents(run, scene.Target));
    run.Click("ComponentsNextButton");
    ASSERT_TRUE(run.WaitPage("CharactersPanel", 60000));
    EXPECT_EQ(run.Items("CharactersListBox"), (std::vector<std::string>{"Pip", "Zoe"}));

    run.Click("CharactersNextButton");
    auto box = run.WaitBox();
    ASSERT_TRUE(box) << "nothing present, nothing chosen, and no box";
    EXPECT_EQ(box->Title, "Error");
    EXPECT_EQ(box->Text, "At least one of Orvand Character should be installed");
    EXPECT_EQ(box->Buttons, std::vector<int>{IDOK});
    run.Answer(*box, IDOK);
    Sleep(200);  // time to move on, which it must not
    EXPECT_EQ(run.VisiblePage(), "CharactersPanel");

    // Cancel during the first character: asked at the next file, and the
    // handler still fetches that one before setup ends, without the finish page.
    run.TickItem("CharactersListBox", 0);
    run.TickItem("CharactersListBox", 1);
    run.ClickNoWait("CharactersNextButton");
    ASSERT_TRUE(WaitText(run, "InstallLabel", "Downloading: " + slow + "Pip.acs")) << run.Text("InstallLabel");
    Sleep(400);  // past the look at the messages that follows the status text, which shows nowhere
    run.Click("InstallCancelButton");
    box = run.WaitBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Text, CloseQuestion);
    EXPECT_EQ(run.Text("InstallLabel"), "Downloading: " + slow + "Zoe.acs");
    run.Answer(*box, IDYES);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(30000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    for (const char* name : {"Pip.acs", "Zoe.acs"})
        EXPECT_EQ(ReadFileText(scene.Target + "data\\" + name), TDistributor::CharacterBytes(name)) << name;
    std::vector<std::string> journal = Journal(scene.Target);
    ASSERT_GE(journal.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(journal.end() - 2, journal.end()),
              (std::vector<std::string>{"CreateFile " + scene.Target + "data\\Pip.acs",
                                        "CreateFile " + scene.Target + "data\\Zoe.acs"}));
    ExpectNothingStarted(scene.RunLog, "the finish page's action followed");
}

TEST(Wizard, AnInstallerThatNoDistributorDeliversEndsSetupWithTheLastOnesMessageBeforeExtracting) {
    Components none(false);
    TScenario scene;
    wintest::THttpServer empty;  // answers 404 to everything
    std::string setup = PackSample(scene.Temp.Path(), {}, SampleConfiguration({empty.Url("ok"), empty.ClosedUrl()}));
    TSetupRun run(setup);
    ASSERT_TRUE(WalkToComponents(run, scene.Target));
    run.Click("CmpCheckBox2");  // no speech: the Agent runtime alone
    run.Click("ComponentsNextButton");
    ExpectRebootNotice(run);
    auto box = run.WaitBox(60000);
    ASSERT_TRUE(box) << run.Text("InstallLabel");
    EXPECT_EQ(box->Title, "Error");
    EXPECT_EQ(box->Text, "Could not connect to host") << "not the last distributor's message";
    EXPECT_EQ(run.Text("InstallLabel"), "Downloading: " + empty.ClosedUrl() + "MSagent.exe");
    run.Answer(*box, IDOK);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(30000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    EXPECT_FALSE(FileExists(scene.RunLog)) << "an installer ran";
    EXPECT_FALSE(FileExists(scene.Target + "temp\\MSagent.exe")) << "a part file stayed";
    std::vector<std::string> journal = Journal(scene.Target);
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back(), "CreateFile " + scene.Target + "temp\\setup.xml")
        << "more than the configuration was made";
    RemoveTree(scene.Target);
}

TEST(Wizard, NamesTheSystemCodePageCannotSpellArriveWholeAndRemoveTakesThemAway) {
    // The prefix keeps code page 1252, which has neither "Ł" nor Cyrillic; setup
    // speaks UTF-8 through its manifest, and so does this driver.
    ASSERT_EQ(ViewText(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Nls\\CodePage", "ACP", 0), "1252");
    ASSERT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
    Components all(true);
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
    struct RemoveAtEnd {
        std::vector<std::string> Folders;
        ~RemoveAtEnd() {
            for (const std::string& folder : Folders) RemoveTree(folder);
        }
    } removeAtEnd{{profile, "C:\\Программы\\"}};
    for (const auto& [name, folder] : {std::pair{"Desktop", desktop}, std::pair{"Programs", programs}}) {
        ASSERT_EQ(SHCreateDirectoryExW(nullptr, Utf16(folder).c_str(), nullptr), ERROR_SUCCESS) << folder;
        const std::wstring value = Utf16(folder.substr(0, folder.size() - 1));
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExA(HKEY_CURRENT_USER, ShellFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
        RegSetValueExW(key, Utf16(name).c_str(), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    ASSERT_EQ(SpecialFolder(CSIDL_DESKTOPDIRECTORY), desktop);
    ASSERT_EQ(SpecialFolder(CSIDL_PROGRAMS), programs);

    const std::string target = "C:\\Программы\\Orvand\\";
    std::string xml = SetupXmlText({distributor.Url()}, {{"Łucja", "Lucja.acs"}}, InstallerDigests());
    xml.replace(xml.find("ISO-8859-1"), 10, "UTF-8");
    const std::string setup = PackSample(temp.Path(), {}, xml);
    UninstallAtEnd cleanup(target);
    {
        TSetupRun run(setup);
        ASSERT_TRUE(WalkToComponents(run, target));
        run.Click("ComponentsNextButton");
        ASSERT_TRUE(run.WaitPage("CharactersPanel", 60000));
        EXPECT_EQ(run.Items("CharactersListBox"), std::vector<std::string>{"Łucja"});
        EXPECT_EQ(Joined(LayoutProblems(run)), "");
        run.TickItem("CharactersListBox", 0);
        run.Click("CharactersNextButton");
        if (!run.WaitPage("DonePanel", 60000)) {
            auto box = run.WaitBox(1000);
            FAIL() << "no finish page: " << (box ? box->Text : run.Text("InstallLabel"));
        }
        run.Click("RunCheckBox");
        run.Click("FinishButton");
        int boxes = 0;
        EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
        EXPECT_EQ(boxes, 0);
    }
    // Where a Unicode program looks for them.
    for (const wchar_t* file : {L"C:\\users\\\u0141ukasz\\Desktop\\Orvand.lnk",
                                L"C:\\users\\\u0141ukasz\\Start Menu\\Programs\\Orvand\\Uninstall.lnk",
                                L"C:\\\u041F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u044B\\Orvand\\data\\Lucja.acs"})
        EXPECT_NE(GetFileAttributesW(file), INVALID_FILE_ATTRIBUTES) << std::wstring(file).size() << " characters long";
    ExpectRegistered(target, true);
    // The journal names them in UTF-8.
    std::vector<std::string> journal = Journal(target);
    ASSERT_FALSE(journal.empty());
    std::vector<std::string> expected =
        Concat({{"CreateFolder C:\\Программы\\", "CreateFolder " + target, "CreateFolder " + target + "temp\\",
                 "CreateFile " + target + "temp\\setup.xml"},
                ExtractedLines(target, true, true),
                RegisteredLines(target, true),
                {"CreateFile " + target + "data\\Lucja.acs"}});
    EXPECT_EQ(Joined(std::vector<std::string>(journal.begin() + 1, journal.end())), Joined(expected));

    cleanup.Now();
    ExpectRegistered(target, false);
    // The running uninstaller's own file stays, as everywhere; nothing else.
    for (const char* left : {"install.log", "orvand.exe", "data\\Lucja.acs", "temp\\setup.xml"})
        EXPECT_FALSE(FileExists(target + left)) << left;
    EXPECT_FALSE(FolderExists(programs + "Orvand\\"));

    // A line an older build wrote in the system code page still names its file, in a
    // folder that code page can spell: the uninstaller undoes nothing outside its own.
    const std::string older = temp.Path() + "Zo\u00EB\\";
    ASSERT_TRUE(CreateDirectoryW(Utf16(older).c_str(), nullptr));
    ASSERT_TRUE(CopyFileA(EnvPath("ORVAND_BARE_EXE").c_str(), (older + "install.exe").c_str(), FALSE));
    const std::wstring legacyFile = Utf16(older) + L"Zo\u00EB.txt";
    CloseHandle(CreateFileW(legacyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_NE(GetFileAttributesW(legacyFile.c_str()), INVALID_FILE_ATTRIBUTES);
    WriteFileText(older + "install.log", "CreateFile " + temp.Path() + "Zo\xEB\\Zo\xEB.txt\r\n");
    EXPECT_EQ(RunUninstaller(older + "install.exe", "-remove", IDYES), 0u);
    EXPECT_EQ(GetFileAttributesW(legacyFile.c_str()), INVALID_FILE_ATTRIBUTES) << "the legacy line was not undone";
}

// The controls themselves in this program, which speaks UTF-8 as setup does (the Win32 tests speak the
// system's code page, as GDI does): a label sized to a path outside ASCII is as wide as the path drawn.
TEST(Controls, ALabelSizedToAPathOutsideAsciiIsAsWideAsThePathDrawn) {
    HWND form = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    TControls controls;
    controls.Build(form, SetupFormLayout());
    const std::string path = "C:\\Программы\\花子\\Orvand\\";
    controls.SetText(controls["CmpLabel2"], path);
    RECT r;
    GetWindowRect(controls["CmpLabel2"], &r);
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(r.right - r.left, CaptionWidth(*FindSetupControl("CmpLabel2"), path, GetDeviceCaps(screen, LOGPIXELSY)));
    ReleaseDC(nullptr, screen);
    DestroyWindow(form);
}

TEST(Wizard, AtHigherDpiEveryPageScalesWithoutALayoutProblem) {
    Components all(true);
    TScenario scene;
    TDistributor distributor;
    // A character to offer; the box that asks for one is shown too.
    const std::string setup =
        PackSample(scene.Temp.Path(), {}, SetupXmlText({distributor.Url()}, {{"Pip", "Pip.acs"}}, InstallerDigests()));
    for (DWORD dpi : {120u, 144u}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        // The prefix's display setting; each program reads it when it starts.
        ValueGuard logPixels(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels");
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr),
                  0);
        RegSetValueExA(key, "LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi), sizeof(dpi));
        RegCloseKey(key);
        // A folder of its own each time: the one removed before stays with its uninstaller, and
        // Wine reads it as changeable by anyone, which Windows would not.
        const std::string target = scene.Temp.Path() + "Orvand " + std::to_string(dpi) + "\\";
        UninstallAtEnd cleanup(target);
        TSetupRun run(setup);
        auto expectClean = [&](const char* Page) {
            ASSERT_TRUE(run.WaitPage(Page, 60000)) << Page;
            EXPECT_EQ(Joined(LayoutProblems(run)), "") << Page;
        };
        ASSERT_TRUE(run.WaitForm());
        RECT client;
        GetClientRect(run.Form(), &client);
        EXPECT_EQ(client.right, MulDiv(SetupClientWidth, dpi, 96)) << "the wizard does not scale";
        expectClean("FirstPanel");
        run.Click("FirstNexButton");
        expectClean("LicensePanel");
        run.Click("AgreeCheckBox");
        run.Click("LicenseNextButton");
        expectClean("LocationPanel");
        run.TypeText("LocationEdit", target);
        run.Click("LocationNextButton");
        expectClean("ComponentsPanel");
        run.Click("ComponentsNextButton");
        expectClean("CharactersPanel");
        run.Click("CharactersNextButton");
        auto none = run.WaitBox();
        ASSERT_TRUE(none);
        EXPECT_EQ(none->Text, "At least one of Orvand Character should be installed");
        run.Answer(*none, IDOK);
        run.TickItem("CharactersListBox", 0);
        run.Click("CharactersNextButton");
        expectClean("DonePanel");
        run.Click("RunCheckBox");
        run.Click("FinishButton");
        EXPECT_EQ(run.WaitExit(60000), 0u);
    }
}

namespace {

BOOL CALLBACK NoteVisibleWindow(HWND Window, LPARAM Param) {
    auto& search = *reinterpret_cast<TTaskbarSearch*>(Param);
    DWORD owner = 0;
    GetWindowThreadProcessId(Window, &owner);
    char name[64] = "";
    if (owner == search.ProcessId && IsWindowVisible(Window) && GetClassNameA(Window, name, sizeof(name)))
        search.Titles.push_back(WindowText(Window) + " (" + name + ")");
    return TRUE;
}

// Waits for the end of a silent run, watching that it never shows a window; its exit code.
DWORD WaitSilentExit(TSetupRun& Run, DWORD Milliseconds = 120000) {
    std::set<std::string> shown;
    DWORD code = STILL_ACTIVE;
    for (DWORD start = GetTickCount(); code == STILL_ACTIVE && GetTickCount() - start < Milliseconds;) {
        TTaskbarSearch search{Run.ProcessId(), {}};
        EnumWindows(NoteVisibleWindow, reinterpret_cast<LPARAM>(&search));
        shown.insert(search.Titles.begin(), search.Titles.end());
        code = Run.WaitExit(20);
    }
    EXPECT_EQ(Joined(std::vector<std::string>(shown.begin(), shown.end())), "") << "windows shown";
    return code;
}

// "-dir=" and "-log=" arguments; a folder without its last "\", which would escape the quotation mark.
std::string Quoted(const std::string& Option, std::string Path) {
    if (Path.size() > 3 && Path.back() == '\\') Path.pop_back();
    return "\"" + Option + Path + "\"";
}

// A whole line of the log, after its time: "...][KIND] TEXT".
std::string LogLine(const std::string& Kind, const std::string& Text) { return "][" + Kind + "] " + Text + "\r\n"; }

}  // namespace

// For every user (-allusers): the common desktop and Start menu, the computer's Run key.
TEST(Silent, InstallsForAllUsersIntoTheProposedFolderLikeTheWizardAndRemovesWithoutAWindow) {
    Components none(false);
    TScenario scene;
    TDistributor distributor;
    std::string setup = PackSample(scene.Temp.Path(), {}, SampleConfiguration({distributor.Url()}));
    const std::string target = std::string(BuildProgramFiles) + "Orvand\\";
    ASSERT_FALSE(FolderExists(target)) << "left by an earlier run";
    const std::string log = scene.Temp.Path() + "setup log.txt";
    WarmUpWinInet();
    // The shell caches where the desktop and Start menu are whenever it is asked: asked now, an earlier
    // scenario's moved folders are not taken for a change of this one.
    for (bool allUsers : {false, true}) {
        Desktop(allUsers);
        Programs(allUsers);
    }
    TPrefixWatch prefix;
    UninstallAtEnd cleanup(target);
    {
        TSetupRun run(setup, "-silent -allusers " + Quoted("-log=", log));
        // Every component the components page would tick was installed: a restart is due.
        EXPECT_EQ(WaitSilentExit(run), 3010u);
    }
    std::vector<std::string> names(std::begin(ComponentInstallers), std::end(ComponentInstallers));
    std::vector<std::string> fetched;
    for (const std::string& name : names) fetched.push_back("CreateFile " + target + "temp\\" + name);
    std::vector<std::string> journal = Journal(target);
    ASSERT_FALSE(journal.empty());
    EXPECT_THAT(journal[0], StartsWith(Banner));
    EXPECT_EQ(Joined(std::vector<std::string>(journal.begin() + 1, journal.end())),
              Joined(Concat({{"CreateFolder " + target, "CreateFolder " + target + "temp\\",
                              "CreateFile " + target + "temp\\setup.xml"},
                             fetched,
                             ExtractedLines(target, true, true),
                             RegisteredLines(target, true, true)})));
    ExpectRegistered(target, true, {}, true);
    // The installers ran in the wizard's order; no character was fetched, nothing else started.
    EXPECT_EQ(ReadFileText(scene.RunLog), "MSagent.exe \r\nspchapi.exe \r\ntv_enua.exe \r\nlhttseng.exe \r\n");
    EXPECT_EQ(distributor.Requests(), (std::vector<std::string>{"/ok/setup.xml", "/ok/MSagent.exe", "/ok/spchapi.exe",
                                                                "/ok/tv_enua.exe", "/ok/lhttseng.exe"}));
    EXPECT_EQ(FindWindowA("TMainOrvandForm", "Orvand"), nullptr) << "the product started";
    // The notice a box would have shown, in one line.
    const std::string text = ReadFileText(log);
    EXPECT_THAT(text, HasSubstr(LogLine("DEBUG",
                                        "Information: During the installation process the program may ask "
                                        "to reboot.  Please, DO NOT REBOOT until you see \"ORVAND SETUP "
                                        "COMPLETED SUCCESSFULLY\"")));
    EXPECT_THAT(text, HasSubstr(LogLine("DEBUG", "Installing into " + target + " for all users")));
    EXPECT_THAT(text, HasSubstr(LogLine("DEBUG", "Character not downloaded: Bramble")));
    EXPECT_THAT(text, HasSubstr(LogLine("DEBUG", "Exit code 3010")));

    // The system's quiet command, as a deployment tool runs it; without -log the log goes to the
    // user's temp folder, not into the folder removed.
    const std::string quiet = RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "QuietUninstallString");
    ASSERT_EQ(quiet, "\"" + target + "install.exe\" -remove -silent");
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    const std::string removalLog = std::string(temp) + "install-setup.log";
    DeleteFileA(removalLog.c_str());
    {
        TSetupRun remove(target + "install.exe", quiet.substr(target.size() + 14));
        EXPECT_EQ(WaitSilentExit(remove), 0u);
    }
    ExpectRegistered(target, false, {}, true);
    EXPECT_THAT(ReadFileText(removalLog), HasSubstr(LogLine("DEBUG", "Exit code 0")));
    DeleteFileA(removalLog.c_str());
    SetAllComponents(false);
    prefix.ExpectOnlyLeft(target, {"install.exe"});
}

// On the sample released as a vendor signs it, whose uninstaller keeps the vendor's signature.
TEST(Silent, EachOutcomeHasItsExitCodeAndItsMessageInTheLog) {
    Components all(true);
    TScenario scene;
    const std::string setup = scene.Temp.Path() + "install.exe";
    ASSERT_TRUE(CopyFileA(FixturePath("sample\\install-signed.exe").c_str(), setup.c_str(), FALSE));
    const std::string log = scene.Temp.Path() + "silent.log";
    UninstallAtEnd cleanup(scene.Target);
    // Refused before anything is made.
    {
        TSetupRun run(setup, "-silent -dir=Orvand " + Quoted("-log=", log));
        EXPECT_EQ(WaitSilentExit(run, 20000), 1639u);
        EXPECT_THAT(
            ReadFileText(log),
            HasSubstr(LogLine("ERROR", "-dir needs a full path such as C:\\Program Files\\Orvand, not \"Orvand\".")));
        EXPECT_FALSE(FolderExists(scene.Target));
    }
    // A package swapped in beside the program, its digest made again: refused. Without
    // -log nothing is written beside the program, in a folder others can change.
    {
        CreateDirectoryA((scene.Temp.Path() + "swapped").c_str(), nullptr);
        const std::string swapped = CopySample(scene.Temp.Path() + "swapped\\");
        Damage(swapped, true);
        TSetupRun run(swapped, "-silent " + Quoted("-dir=", scene.Target) + " " + Quoted("-log=", log));
        EXPECT_EQ(WaitSilentExit(run, 20000), 1603u);
        EXPECT_THAT(ReadFileText(log), HasSubstr(LogLine("ERROR", "The Orvand distributive was damaged")));
        TSetupRun unlogged(swapped, "-silent " + Quoted("-dir=", scene.Target));
        EXPECT_EQ(WaitSilentExit(unlogged, 20000), 1603u);
        EXPECT_FALSE(FileExists(scene.Temp.Path() + "swapped\\install-setup.log"));
        EXPECT_FALSE(FolderExists(scene.Target));
    }
    // Everything present: nothing to run, nothing to restart for; no product start either.
    // The log goes into the destination, once that is held and only administrators can change it.
    {
        TSetupRun run(setup, "-silent " + Quoted("-dir=", scene.Target));
        EXPECT_EQ(WaitSilentExit(run), 0u);
    }
    EXPECT_THAT(ReadFileText(scene.Target + "install-setup.log"), HasSubstr(LogLine("DEBUG", "Exit code 0")));
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
    struct Product {
        PROCESS_INFORMATION Process = StartProgram(Fixture("orvand.exe"), "-ignore-close -lifetime=60000");
        ~Product() {
            TerminateProcess(Process.hProcess, 0);
            WaitExit(Process, 10000);
            CloseHandle(Process.hProcess);
        }
    };
    {
        Product product;
        ASSERT_NE(WaitProductWindow(10000), nullptr);
        TSetupRun remove(scene.Target + "install.exe", "-remove -silent " + Quoted("-log=", log));
        EXPECT_EQ(WaitSilentExit(remove, 30000), 32u);
        EXPECT_THAT(
            ReadFileText(log),
            HasSubstr(LogLine("ERROR", "Uninstaller find started Orvand application. Plase close it and tray again.")));
        ExpectRegistered(scene.Target, true);
        // Setup asks a running product to close as well; it ends with the same code.
        TSetupRun again(setup, "-silent " + Quoted("-dir=", scene.Target) + " " + Quoted("-log=", log));
        EXPECT_EQ(WaitSilentExit(again, 60000), 32u);
        EXPECT_THAT(ReadFileText(log), HasSubstr(LogLine("DEBUG",
                                                         "Confirm: Running Orvand application detected. "
                                                         "Terminate setup? Answered: Yes")));
    }
    {
        TSetupRun remove(scene.Target + "install.exe", "-uninstall -silent " + Quoted("-log=", log));
        EXPECT_EQ(WaitSilentExit(remove), 0u);
    }
    ExpectRegistered(scene.Target, false);
    // Removed already: nothing to remove is no success.
    {
        TSetupRun remove(scene.Target + "install.exe", "-remove -silent " + Quoted("-log=", log));
        EXPECT_EQ(WaitSilentExit(remove, 20000), 1603u);
        EXPECT_THAT(ReadFileText(log), HasSubstr(LogLine("ERROR", "There is no installation in " + scene.Target +
                                                                      ": its install.log is missing.")));
    }
    RemoveTree(scene.Target);
}
