// The wizard's pages of the packed install.exe, driven from outside as a user would:
// the window, the licence, closing, the destination, the components page, a damaged
// package, an engine failure, the folder browser, and every page at a higher DPI.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "E2eUtil.h"
#include "app/Controls.h"

using namespace e2e;
using namespace wintest;
using namespace ::testing;

namespace {

const COLORREF Green = RGB(0, 128, 0);
const COLORREF Red = RGB(255, 0, 0);

// Titles of the windows of a process that have a taskbar button: visible top-level
// windows that are unowned and no tool windows, or that ask for a button.
std::vector<std::string> TaskbarTitles(DWORD ProcessId) {
    std::vector<std::string> titles;
    for (HWND window : ProcessWindows(ProcessId)) {
        LONG ex = GetWindowLongA(window, GWL_EXSTYLE);
        bool unowned = GetWindow(window, GW_OWNER) == nullptr;
        if ((ex & WS_EX_APPWINDOW) || (unowned && !(ex & WS_EX_TOOLWINDOW))) titles.push_back(WindowText(window));
    }
    return titles;
}

void ExpectRefused(TSetupRun& Run, const std::string& Typed, const std::string& Shown, bool PressEnter = false) {
    SCOPED_TRACE("typed \"" + Typed + "\"");
    Run.TypeText("LocationEdit", Typed);
    if (PressEnter)
        Run.PressKey(VK_RETURN);  // in the folder box: the page's Next
    else
        Run.Click("LocationNextButton");
    Run.Answer(ShownBox(Run, "Error", "Could not create distination folder", TBoxIcon::Error, {IDOK}), IDOK);
    WaitUntil([&] { return Run.FocusName() == "LocationEdit"; }, 5000);
    EXPECT_EQ(Run.VisiblePage(), "LocationPanel");
    EXPECT_EQ(Run.FocusName(), "LocationEdit");
    EXPECT_EQ(Run.Text("LocationEdit"), Shown);
}

// The three speech boxes, CmpCheckBox2 to 4, as "1" for ticked and "0" for clear.
std::string Ticks(const TSetupRun& Run) {
    std::string ticks;
    for (const char* box : {"CmpCheckBox2", "CmpCheckBox3", "CmpCheckBox4"}) ticks += Run.Checked(box) ? '1' : '0';
    return ticks;
}

// The components' status labels, CmpLabel1 to 4, show Texts, painted in Color and not in the other one.
void ExpectStatuses(TSetupRun& Run, const std::vector<std::string>& Texts, COLORREF Color) {
    for (size_t i = 0; i < Texts.size(); ++i) {
        const std::string label = "CmpLabel" + std::to_string(i + 1);
        SCOPED_TRACE(label);
        EXPECT_EQ(Run.Text(label), Texts[i]);
        std::set<COLORREF> colors = Run.PaintedColors(label);
        EXPECT_TRUE(colors.count(Color)) << "not painted in its colour";
        EXPECT_FALSE(colors.count(Color == Green ? Red : Green)) << "shows the other colour";
    }
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

    run.ClickToPage("LicenseNextButton", "LocationPanel");
    EXPECT_EQ(run.FocusName(), "LocationEdit");
    EXPECT_EQ(run.Text("LocationEdit"), std::string(BuildProgramFiles) + "Orvand\\");
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
}

TEST(Wizard, EveryWayToCloseAsksFirstAndYesEndsQuietly) {
    TempFolder temp;
    std::string destination = temp.Path() + "dest\\";
    TSetupRun run(CopySample(temp.Path()));
    ASSERT_TRUE(run.WaitForm());
    ASSERT_TRUE(run.WaitPage("FirstPanel"));

    run.PressKey(VK_ESCAPE);
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "FirstPanel");
    run.Click("FirstCancelButton");
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "FirstPanel");

    run.ClickToPage("FirstNexButton", "LicensePanel");
    run.CloseBox();
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "LicensePanel");
    run.Click("AgreeCheckBox");
    run.ClickToPage("LicenseNextButton", "LocationPanel");
    run.AltF4();
    AnswerCloseQuestion(run, IDNO);
    // Esc in the folder box is the page's Cancel too.
    run.PressKey(VK_ESCAPE);
    AnswerCloseQuestion(run, IDNO);
    EXPECT_EQ(run.VisiblePage(), "LocationPanel");
    EXPECT_TRUE(run.Running());

    run.TypeText("LocationEdit", destination);
    run.ClickToPage("LocationNextButton", "ComponentsPanel");
    run.Click("ComponentsCancelButton");
    AnswerCloseQuestion(run, IDYES);
    // What the location page made stays for the uninstaller.
    EXPECT_TRUE(FileExists(destination + "install.log"));
    EXPECT_TRUE(FolderExists(destination + "temp"));
}

TEST(Wizard, DestinationsThatCannotBeMadeAreRefusedAndAGoodOneIsNormalised) {
    TempFolder temp;
    TSetupRun run = StartAtLocation(CopySample(temp.Path()));
    ExpectRefused(run, "D:\\", "D:\\", true);
    ExpectRefused(run, "   ", "\\");
    ExpectRefused(run, "", "\\");
    // Relative to whatever folder setup runs in: refused as well.
    ExpectRefused(run, "Orvand", "Orvand\\");
    EXPECT_FALSE(FolderExists("Orvand"));

    std::string outer = temp.Path() + "orvand e2e";
    std::string target = outer + "\\nested dir\\";
    run.TypeText("LocationEdit", "  " + outer + "\\nested dir  ");
    run.ClickToPage("LocationNextButton", "ComponentsPanel");
    EXPECT_EQ(run.Text("LocationEdit"), target);
    EXPECT_TRUE(FolderExists(target + "temp"));
    const std::vector<std::string> made = {"CreateFolder " + outer + "\\", "CreateFolder " + target,
                                           "CreateFolder " + target + "temp\\"};
    ExpectJournal(target, made);
    // A click that reaches the hidden page's Next (a double click, say) does not run it again.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(run.Control("LocationNextButton"), BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored);
    ExpectJournal(target, made);
    run.Click("ComponentsCancelButton");
    AnswerCloseQuestion(run, IDYES);
}

TEST(Wizard, MissingComponentsAreRedAndTheSpeechBoxesDependOnTheRuntime) {
    TempFolder temp;
    TComponents none(false);
    TSetupRun run = StartAtComponents(CopySample(temp.Path()), temp.Path() + "dest");
    EXPECT_EQ(Joined(LayoutProblems(run)), "");
    ExpectStatuses(run, std::vector<std::string>(4, "Missed (Remote)"), Red);
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
}

TEST(Wizard, InstalledComponentsAreGreenShippedOnesLocalAndTheBoxesIndependent) {
    TempFolder temp;
    TComponents all(true);
    TSetupRun run = StartAtComponents(
        PackSample(temp.Path() + "install.exe", "", {FixtureLine(".\\temp\\", "spchapi.exe")}), temp.Path() + "dest");
    ExpectStatuses(run, {"Installed (Remote)", "Installed (Local)", "Installed (Remote)", "Installed (Remote)"}, Green);
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
}

// Setup on a damaged package shows its message alone and ends quietly; its file is held
// meanwhile. Resealed, it still is not the package the program was packed with: its pin tells.
TEST(Wizard, ADamagedPackageShowsOnlyItsMessage) {
    for (bool resealed : {false, true}) {
        SCOPED_TRACE(resealed ? "resealed" : "damaged");
        TempFolder temp;
        std::string setup = CopySample(temp.Path());
        Damage(setup, resealed);
        TSetupRun run(setup);
        const TMessageBox box = ShownBox(run, "Error", "The Orvand distributive was damaged", TBoxIcon::Error, {IDOK});
        EXPECT_EQ(FindProcessWindow(run.ProcessId(), "TSetupForm", true), nullptr);
        // Held from its first statement: nobody renames, deletes or rewrites the file under setup.
        EXPECT_FALSE(MoveFileA(setup.c_str(), (setup + ".aside").c_str()));
        EXPECT_FALSE(DeleteFileA(setup.c_str()));
        EXPECT_FALSE(TFileHandle(CreateFileA(setup.c_str(), GENERIC_WRITE, 7, nullptr, OPEN_EXISTING, 0, nullptr)));
        run.Answer(box, IDOK);
        // Watched until the end: neither the wizard nor a second box shows on the way out.
        bool formShowed = false, boxShowed = false;
        WaitUntil(
            [&] {
                formShowed |= FindProcessWindow(run.ProcessId(), "TSetupForm", true) != nullptr;
                boxShowed |= run.BoxShowing();
                return !run.Running();
            },
            20000);
        EXPECT_FALSE(formShowed) << "the wizard window showed";
        EXPECT_FALSE(boxShowed) << "a second box";
        EXPECT_EQ(run.WaitExit(0), 0u);
    }
}

TEST(Wizard, AnEngineFailureEndsSetupWithItsMessageAndAFullStop) {
    TempFolder temp;
    std::string destination = temp.Path() + "dest\\";
    // An earlier installation whose journal another program holds against writers: it cannot be opened.
    ASSERT_TRUE(CreateDirectoryA(destination.c_str(), nullptr));
    WriteFileText(destination + "install.log", "CreateFolder " + destination + "\r\n");
    TFileHandle reader(CreateFileA((destination + "install.log").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    TSetupRun run = StartAtLocation(CopySample(temp.Path()));
    run.TypeText("LocationEdit", destination);
    run.Click("LocationNextButton");
    // The engine's own message, with one full stop at its end.
    run.Answer(ShownBox(run, "Orvand Setup ", AllOf(EndsWith("."), Not(HasSubstr(".."))), TBoxIcon::Error, {IDOK}),
               IDOK);
    ExpectQuietExit(run);
}

TEST(Wizard, TheFolderBrowserStartsAtTheDrivesAndAppendsTheProductFolder) {
    TempFolder temp;
    TSetupRun run = StartAtLocation(CopySample(temp.Path()));
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
    TWindowDC screen(nullptr);
    EXPECT_EQ(r.right - r.left,
              CaptionWidth(*FindSetupControl("CmpLabel2"), path, GetDeviceCaps(screen.Get(), LOGPIXELSY)));
    DestroyWindow(form);
}

TEST(Wizard, AtHigherDpiEveryPageScalesWithoutALayoutProblem) {
    TComponents all(true);
    TScenario scene;
    TDistributor distributor;
    // A character to offer; the box that asks for one is shown too.
    const std::string setup = PackSample(scene.Temp.Path() + "install.exe",
                                         SetupXmlText({distributor.Url()}, {{"Pip", "Pip.acs"}}, InstallerDigests()));
    for (DWORD dpi : {120u, 144u}) {
        SCOPED_TRACE(std::to_string(dpi) + " DPI");
        // The prefix's display setting; each program reads it when it starts.
        ValueGuard logPixels(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels");
        ASSERT_NO_FATAL_FAILURE(SetValue(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels",
                                         std::string(reinterpret_cast<const char*>(&dpi), sizeof(dpi)), REG_DWORD));
        // A folder of its own each time: the one removed before stays with its uninstaller, and
        // Wine reads it as changeable by anyone, which Windows would not.
        const std::string target = scene.Temp.Path() + "Orvand " + std::to_string(dpi) + "\\";
        UninstallAtEnd cleanup(target);
        TSetupRun run(setup);
        auto next = [&](const char* Button, const char* Page) {
            run.ClickToPage(Button, Page);
            EXPECT_EQ(Joined(LayoutProblems(run)), "") << Page;
        };
        ASSERT_TRUE(run.WaitForm() && run.WaitPage("FirstPanel"));
        RECT client;
        GetClientRect(run.Form(), &client);
        EXPECT_EQ(client.right, MulDiv(SetupClientWidth, dpi, 96)) << "the wizard does not scale";
        EXPECT_EQ(Joined(LayoutProblems(run)), "") << "FirstPanel";
        next("FirstNexButton", "LicensePanel");
        run.Click("AgreeCheckBox");
        next("LicenseNextButton", "LocationPanel");
        run.TypeText("LocationEdit", target);
        next("LocationNextButton", "ComponentsPanel");
        next("ComponentsNextButton", "CharactersPanel");
        run.Click("CharactersNextButton");
        auto none = run.WaitBox();
        ASSERT_TRUE(none);
        EXPECT_EQ(none->Text, "At least one of Orvand Character should be installed");
        run.Answer(*none, IDOK);
        run.TickItem("CharactersListBox", 0);
        next("CharactersNextButton", "DonePanel");
        FinishWithoutTheProduct(run, 60000);
    }
}
