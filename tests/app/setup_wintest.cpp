// The wizard's characters and finish pages, in this process: no installation gets that far
// without the configuration, so their handlers are driven here directly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "app/DesktopLaunch.h"
#include "app/_setup.h"
#include "app/Utils.h"
#include "support/Exceptions.h"
#include "support/Logging.h"
#include "install_fixture.h"

using namespace wintest;
using ::testing::HasSubstr;

namespace {

// Answers the first message box of this process with OK: its caption and text, empty when none came.
std::future<std::vector<std::string>> AnswerBox() {
    return std::async(std::launch::async, [] {
        HWND box = WaitMessageBox(GetCurrentProcessId(), 10000);
        if (!box) return std::vector<std::string>{};
        std::vector<std::string> shown = {WindowText(box), MessageBoxText(box)};
        PressMessageBoxButton(box, IDOK);
        return shown;
    });
}

// Shown on its page: the form itself stays hidden here.
bool Shown(HWND Window) { return (GetWindowLongA(Window, GWL_STYLE) & WS_VISIBLE) != 0; }

}  // namespace

TEST(SetupForm, NothingPresentAndNothingTickedKeepsTheCharactersPage) {
    TSetupForm form;
    form.ShowPanel(form.CharactersPanel);
    form.FCharacterCount = 0;
    CheckListAdd(form.CharactersListBox, "Vela", nullptr);
    CheckListAdd(form.CharactersListBox, "Aster", nullptr);
    auto answer = AnswerBox();
    form.CharactersNextButtonClick();
    EXPECT_EQ(answer.get(),
              (std::vector<std::string>{"Error", "At least one of Orvand Character should be installed"}));
    EXPECT_TRUE(Shown(form.CharactersPanel));
    EXPECT_EQ(form.FCharacterCount, 0);
}

TEST(SetupForm, ACharacterAlreadyPresentPassesTheCheckWithNothingTicked) {
    TSetupForm form;
    form.ShowPanel(form.CharactersPanel);
    form.FCharacterCount = 1;
    CheckListAdd(form.CharactersListBox, "Vela", nullptr);
    form.CharactersNextButtonClick();
    EXPECT_TRUE(Shown(form.DonePanel));
}

TEST(SetupForm, TheFinishPageOffersEitherTheProductOrTheRestart) {
    TSetupForm form;
    for (bool reboot : {false, true}) {
        SCOPED_TRACE(reboot ? "restart needed" : "no restart");
        form.FRebootNeeded = reboot;
        form.ShowDonePage();
        EXPECT_TRUE(Shown(form.DonePanel));
        for (auto [box, offered] : {std::pair{form.RunCheckBox, !reboot}, {form.RebootCheckBox, reboot}}) {
            EXPECT_EQ(Shown(box), offered);
            EXPECT_EQ(IsChecked(box), offered);
        }
    }
}

// Finish ends the application, so it runs in a child process of its own; the
// restart goes to recording stand-ins for the system calls, never to Windows.
TEST(SetupFormDeathTest, FinishWithTheRestartBoxRestartsAndStartsNothing) {
    TScenario scene;
    const std::string& temp = scene.Temp.Path();
    const std::string& runLog = scene.RunLog;
    CopyFixture("orvand.exe", temp + "orvand.exe");
    EXPECT_EXIT(
        {
            static std::string calls;
            // An older platform: no privilege to take, straight to the restart.
            RebootCalls.PlatformId = [] { return static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS); };
            RebootCalls.ExitWindowsEx = [](UINT Flags) {
                calls += "ExitWindowsEx " + std::to_string(Flags) + ";";
                return TRUE;
            };
            TSetupForm form;
            SetWindowTextA(form.LocationEdit, temp.c_str());
            form.FRebootNeeded = true;
            form.ShowDonePage();
            // A product box left ticked by hand must not start the product either.
            SetCheckState(form.RunCheckBox, true);
            form.FinishButtonClick();
            Sleep(1000);
            std::fprintf(stderr, "%s terminated=%d product=%d\n", calls.c_str(), Application.Terminated() ? 1 : 0,
                         FileExists(runLog) ? 1 : 0);
            std::exit(7);
        },
        ::testing::ExitedWithCode(7), "ExitWindowsEx 18; terminated=1 product=0");
}

// Setup runs elevated: the desktop's shell starts the product, with the product's
// folder as its current folder. Where no shell answers setup does not start it with
// its own rights: the log says so, and the Run value starts it at the next logon.
TEST(StartAsDesktopUser, TheDesktopShellStartsTheProductElseNobodyDoes) {
    TScenario scene;
    const std::string& temp = scene.Temp.Path();
    const std::string& runLog = scene.RunLog;
    const std::string product = CopyFixture("orvand.exe", temp + "orvand.exe");
    auto endProduct = [&] {
        HWND window = WaitProductWindow(20000);
        if (window) PostMessageA(window, 0x520, 0, 0);
        WaitUntil([] { return FindRunningInstance() == nullptr; }, 10000, 50);
        DeleteFileA(runLog.c_str());
        return window != nullptr;
    };
    auto* const saved = DesktopShellExecute;
    static std::string asked;
    DesktopShellExecute = [](const std::string& Program, const std::string& Folder) {
        asked = Program + "|" + Folder;
        return true;
    };
    EXPECT_EQ(StartAsDesktopUser(product), TLaunchPath::DesktopShell);
    EXPECT_EQ(asked, product + "|" + temp);
    Sleep(1000);
    EXPECT_FALSE(FileExists(runLog)) << "setup started the product as well";

    DesktopShellExecute = [](const std::string&, const std::string&) { return false; };
    OpenSharedLog(temp + "setup.log");
    EXPECT_EQ(StartAsDesktopUser(product), TLaunchPath::None);
    ReleaseLog();
    HWND started = WaitProductWindow(3000);
    if (started) PostMessageA(started, 0x520, 0, 0);
    EXPECT_EQ(started, nullptr) << "setup started the product with its own rights";
    EXPECT_THAT(ReadFileText(temp + "setup.log"), HasSubstr(product + ", so it was not started"));
    DesktopShellExecute = saved;

    // The desktop of this system: where it takes the request, its process starts the product.
    ComScope com;
    if (DesktopShellExecuteThroughExplorer(product, temp)) {
        EXPECT_TRUE(endProduct()) << "the desktop took the request but started nothing";
    } else {
        Sleep(1000);
        EXPECT_FALSE(FileExists(runLog)) << "the desktop refused the request but started the product";
        RecordProperty("desktop", "no desktop shell answers here");
    }
}
