// The wizard of the packed install.exe, driven from outside as a user would.
#include <gtest/gtest.h>

#include <shlobj.h>

#include "E2eUtil.h"

using namespace e2e;
using namespace wintest;

namespace {

const char* const CloseQuestion = "Are you sure you want to quit Orvand setup?";
const char* const FolderRefused = "Could not create distination folder";
const COLORREF Green = RGB(0, 128, 0);
const COLORREF Red = RGB(255, 0, 0);

std::string Joined(const std::vector<std::string>& Lines) {
    std::string text;
    for (const std::string& line : Lines) text += line + "\n";
    return text;
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
    Sleep(200);
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

std::string RegistryText(HKEY Root, const std::string& Key, const char* Value) {
    char buffer[1024];
    DWORD size = sizeof(buffer);
    if (RegGetValueA(Root, Key.c_str(), Value, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return "(none)";
    return buffer;
}

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

// The changes a finished run leaves, present or (after the uninstaller) all gone.
void ExpectRegistered(const std::string& Target, bool Present) {
    std::string programs = SpecialFolder(CSIDL_PROGRAMS) + "Orvand\\";
    EXPECT_EQ(FileExists(SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk"), Present);
    EXPECT_EQ(FileExists(programs + "Orvand.lnk"), Present);
    EXPECT_EQ(FileExists(programs + "Uninstall.lnk"), Present);
    auto expect = [&](const std::string& Text) { return Present ? Text : std::string("(none)"); };
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName"), expect("Orvand"));
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString"), expect(Target + "install.exe -remove"));
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, RunKey, "Orvand"), expect(Target + "orvand.exe -hidden"));
    EXPECT_EQ(RegistryText(HKEY_CURRENT_USER, MenuKey, nullptr), expect(Target + "data\\script.htm"));
    EXPECT_EQ(RegistryText(HKEY_CLASSES_ROOT, BridgeKey, nullptr) != "(none)", Present);
}

}  // namespace

TEST(Wizard, CaptionTitleLicenceAndTheAcceptBox) {
    TempFolder temp;
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(run.WaitForm());
    EXPECT_EQ(WindowText(run.Form()), "Orvand Setup  - Version 2.2.93");
    EXPECT_EQ(run.ApplicationTitle(), "Orvand Setup ");
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
        EXPECT_NE(licence.find(section), std::string::npos) << "no section" << section;
    EXPECT_FALSE(run.Checked("AgreeCheckBox"));
    EXPECT_FALSE(run.Enabled("LicenseNextButton"));
    // Enter does nothing while Next is disabled.
    run.PressKey(VK_RETURN);
    Sleep(500);
    EXPECT_EQ(run.VisiblePage(), "LicensePanel");

    run.Click("AgreeCheckBox");
    EXPECT_TRUE(run.Checked("AgreeCheckBox"));
    EXPECT_TRUE(run.Enabled("LicenseNextButton"));
    run.Click("AgreeCheckBox");
    EXPECT_FALSE(run.Checked("AgreeCheckBox"));
    EXPECT_TRUE(run.Enabled("LicenseNextButton")) << "clearing the box disabled Next again";

    run.Click("LicenseNextButton");
    ASSERT_TRUE(run.WaitPage("LocationPanel"));
    EXPECT_EQ(run.FocusName(), "LocationEdit");
    EXPECT_EQ(run.Text("LocationEdit"), "C:\\Program Files\\Orvand\\");
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
    EXPECT_EQ(journal[0].rfind("########## Setup started at ", 0), 0u) << journal[0];
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

TEST(Wizard, ADamagedPackageShowsOnlyItsMessage) {
    TempFolder temp;
    std::string setup = CopySample(temp.Path());
    {
        // One byte of the product's data changed.
        HANDLE file = CreateFileA(setup.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER size;
        GetFileSizeEx(file, &size);
        SetFilePointer(file, static_cast<LONG>(size.QuadPart - 4000), nullptr, FILE_BEGIN);
        char byte = 0;
        DWORD n = 0;
        ReadFile(file, &byte, 1, &n, nullptr);
        byte ^= 0x20;
        SetFilePointer(file, -1, nullptr, FILE_CURRENT);
        WriteFile(file, &byte, 1, &n, nullptr);
        CloseHandle(file);
    }
    TSetupRun run(setup);
    auto box = run.WaitBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->Title, "Error");
    EXPECT_EQ(box->Text, "The Orvand distributive was damaged");
    EXPECT_EQ(box->Icon, TBoxIcon::Error) << BoxIconName(box->Icon);
    EXPECT_EQ(box->Buttons, std::vector<int>{IDOK});
    EXPECT_EQ(FindProcessWindow(run.ProcessId(), "TSetupForm", true), nullptr);
    run.Answer(*box, IDOK);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(run.WaitForm(0), nullptr) << "the wizard window showed";
}

TEST(Wizard, AnEngineFailureEndsSetupWithItsMessageAndAFullStop) {
    TempFolder temp;
    std::string destination = temp.Path() + "dest\\";
    // A folder where the journal should go: the journal cannot be opened.
    ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((destination + "install.log").c_str(), nullptr));
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
    EXPECT_EQ(box->Text.find(".."), std::string::npos) << box->Text;
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
    for (int i = 0; i < 100 && !IsWindowEnabled(GetDlgItem(browser->Handle, IDOK)); ++i) Sleep(50);
    run.Answer(*browser, IDOK);
    EXPECT_EQ(run.Text("LocationEdit"), "C:\\Orvand\\");
    run.CloseBox();
    AnswerCloseQuestion(run, IDYES);
    EXPECT_EQ(run.WaitExit(), 0u);
}

TEST(Wizard, AFirstRunWithTheInstallersShippedShowsTheNoticeAndEndsOnTheRestartBox) {
    TempFolder temp;
    Components none(false);
    std::vector<std::string> installers;
    for (const char* name : ComponentInstallers)
        installers.push_back(std::string(".\\temp\\ ") + name + " \"" + Fixture(name) + "\"");
    std::string setup = PackSample(temp.Path(), installers);
    std::string target = temp.Path() + "Orvand\\";
    UninstallAtEnd cleanup(target);
    {
        TSetupRun run(setup);
        ASSERT_TRUE(WalkToComponents(run, target));
        run.Click("ComponentsNextButton");
        auto notice = run.WaitBox();
        ASSERT_TRUE(notice);
        EXPECT_EQ(notice->Title, "Information");
        EXPECT_EQ(notice->Icon, TBoxIcon::Information) << BoxIconName(notice->Icon);
        EXPECT_EQ(notice->Text,
                  "During the installation process the program may ask to reboot. \r\n"
                  "Please, DO NOT REBOOT until you see \"ORVAND SETUP COMPLETED SUCCESSFULLY\"");
        EXPECT_EQ(run.VisiblePage(), "ComponentsPanel") << "the notice comes before the install page";
        run.Answer(*notice, IDOK);
        ASSERT_TRUE(run.WaitPage("DonePanel", 120000));
        EXPECT_EQ(Joined(LayoutProblems(run)), "");
        EXPECT_TRUE(run.Visible("RebootCheckBox"));
        EXPECT_TRUE(run.Checked("RebootCheckBox"));
        EXPECT_FALSE(run.Visible("RunCheckBox"));
        EXPECT_FALSE(run.Checked("RunCheckBox"));
        EXPECT_EQ(run.Text("InstallLabel"), "Running: lhttseng.exe");

        std::vector<std::string> journal = SplitCrLf(ReadFileText(target + "install.log"));
        std::string programs = SpecialFolder(CSIDL_PROGRAMS) + "Orvand\\";
        std::vector<std::string> expected = {
            "CreateFolder " + target, "CreateFolder " + target + "temp\\",
            "CreateFile " + target + "install.exe", "CreateFile " + target + "orvand.exe",
            "CreateFile " + target + "bridge.ocx", "CreateFile " + target + "orvand.chm",
            "CreateFolder " + target + "data\\", "CreateFile " + target + "data\\Vela.acs",
            "CreateFile " + target + "data\\orvand.dic",
            "CreateFile " + target + "data\\{3F2A8C41-7B6E-4D19-9A05-C2E8B1D4F670}.db",
            "CreateFile " + target + "data\\script.htm", "CreateFile " + target + "temp\\MSagent.exe",
            "CreateFile " + target + "temp\\spchapi.exe", "CreateFile " + target + "temp\\tv_enua.exe",
            "CreateFile " + target + "temp\\lhttseng.exe",
            "CreateFile " + SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk",
            "CreateFolder " + programs, "CreateFile " + programs + "Orvand.lnk",
            "CreateFile " + programs + "Uninstall.lnk",
            "CreteRegKey 2147483650|" + std::string(UninstallKey),
            "CreteRegValue 2147483650|" + std::string(UninstallKey) + "|DisplayName",
            "CreteRegValue 2147483650|" + std::string(UninstallKey) + "|UninstallString",
            "CreteRegValue 2147483649|" + std::string(RunKey) + "|Orvand",
            "CreteRegKey 2147483649|" + std::string(MenuKey), "RegisterServer " + target + "bridge.ocx"};
        ASSERT_FALSE(journal.empty());
        journal.erase(journal.begin());  // the banner
        EXPECT_EQ(Joined(journal), Joined(expected));
        ExpectRegistered(target, true);
        // The installers ran and installed their components.
        for (const char* name : ComponentInstallers) EXPECT_TRUE(FileExists(target + "temp\\" + name)) << name;

        run.Click("RebootCheckBox");
        EXPECT_FALSE(run.Checked("RebootCheckBox"));
        run.Click("FinishButton");
        int boxes = 0;
        EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
        EXPECT_EQ(boxes, 0) << "Finish asked something";
    }
    EXPECT_TRUE(FileExists(target + "install.exe"));
    cleanup.Now();
    ExpectRegistered(target, false);
}

TEST(Wizard, WithEverythingPresentNoNoticeAndEscOnTheFinishPageStartsTheProduct) {
    TempFolder temp;
    Components all(true);
    std::string target = temp.Path() + "Orvand\\";
    std::string runLog = temp.Path() + "product.log";
    SetEnvironmentVariableA("ORVAND_FIXTURE_RUNLOG", runLog.c_str());
    UninstallAtEnd cleanup(target);
    TSetupRun run(CopySample(temp.Path()));
    SetEnvironmentVariableA("ORVAND_FIXTURE_RUNLOG", nullptr);
    ASSERT_TRUE(WalkToComponents(run, target));
    run.Click("ComponentsNextButton");
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000 && run.VisiblePage() != "DonePanel"; Sleep(50))
        ASSERT_FALSE(run.BoxShowing()) << "a box during a run without installers";
    ASSERT_EQ(run.VisiblePage(), "DonePanel");
    EXPECT_TRUE(run.Visible("RunCheckBox"));
    EXPECT_TRUE(run.Checked("RunCheckBox"));
    EXPECT_FALSE(run.Visible("RebootCheckBox"));
    ASSERT_FALSE(run.Checked("RebootCheckBox"));
    EXPECT_EQ(run.Text("InstallLabel"), "Extracting: setup.xml");

    // Esc presses Finish here: no close question, the product starts.
    run.PressKey(VK_ESCAPE);
    int boxes = 0;
    EXPECT_EQ(run.WaitExitCountingBoxes(20000, boxes), 0u);
    EXPECT_EQ(boxes, 0);
    HWND product = nullptr;
    for (int i = 0; i < 200 && !(product = FindWindowA("TMainOrvandForm", "Orvand")); ++i) Sleep(50);
    ASSERT_NE(product, nullptr) << "the product did not start";
    EXPECT_EQ(ReadFileText(runLog), "orvand.exe \r\n") << "started with arguments";
    PostMessageA(product, WM_USER + 0x120, 0, 0);
    for (int i = 0; i < 200 && FindWindowA("TMainOrvandForm", "Orvand"); ++i) Sleep(50);
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
    EXPECT_EQ(SplitCrLf(ReadFileText(target + "install.log")).size(), 3u) << "more than the location page's lines";
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
    EXPECT_EQ(journal.find(".lnk"), std::string::npos);
    EXPECT_EQ(journal.find("CreteReg"), std::string::npos);
    ExpectRegistered(target, false);
}
