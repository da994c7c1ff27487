// The wizard's characters and finish pages, in this process: no installation gets that far
// without the configuration, so their handlers are driven here directly.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/_setup.h"
#include "wintest_util.h"

using namespace wintest;

namespace {

// Answers the first message box of this process with OK and keeps its text.
class BoxAnswerer {
public:
    BoxAnswerer()
        : FThread([this] {
              HWND box = WaitMessageBox(GetCurrentProcessId(), 10000);
              if (!box) return;
              FText = MessageBoxText(box);
              FTitle = WindowText(box);
              PressMessageBoxButton(box, IDOK);
          }) {}
    ~BoxAnswerer() { Join(); }
    void Join() {
        if (FThread.joinable()) FThread.join();
    }
    std::string Text() {
        Join();
        return FText;
    }
    std::string Title() {
        Join();
        return FTitle;
    }

private:
    std::string FText, FTitle;
    std::thread FThread;
};

// Shown on its page: the form itself stays hidden here.
bool Shown(HWND Window) { return (GetWindowLongA(Window, GWL_STYLE) & WS_VISIBLE) != 0; }

}  // namespace

TEST(SetupForm, NothingPresentAndNothingTickedKeepsTheCharactersPage) {
    TSetupForm form;
    form.ShowPanel(form.CharactersPanel);
    form.FCharacterCount = 0;
    CheckListAdd(form.CharactersListBox, "Vela", nullptr);
    CheckListAdd(form.CharactersListBox, "Aster", nullptr);
    {
        BoxAnswerer answer;
        form.CharactersNextButtonClick();
        EXPECT_EQ(answer.Title(), "Error");
        EXPECT_EQ(answer.Text(), "At least one of Orvand Character should be installed");
    }
    EXPECT_TRUE(Shown(form.CharactersPanel));
    EXPECT_EQ(form.FCharacterCount, 0);

    // One ticked: on to the finish page.
    SendMessageA(form.CharactersListBox, CLB_SETCHECK, 1, 1);
    form.CharactersNextButtonClick();
    EXPECT_FALSE(Shown(form.CharactersPanel));
    EXPECT_TRUE(Shown(form.DonePanel));
    EXPECT_GE(form.FCharacterCount, 1);
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
    form.FRebootNeeded = false;
    form.ShowDonePage();
    EXPECT_TRUE(Shown(form.DonePanel));
    EXPECT_TRUE(Shown(form.RunCheckBox));
    EXPECT_TRUE(IsChecked(form.RunCheckBox));
    EXPECT_FALSE(Shown(form.RebootCheckBox));
    EXPECT_FALSE(IsChecked(form.RebootCheckBox));

    form.FRebootNeeded = true;
    form.ShowDonePage();
    EXPECT_FALSE(Shown(form.RunCheckBox));
    EXPECT_FALSE(IsChecked(form.RunCheckBox));
    EXPECT_TRUE(Shown(form.RebootCheckBox));
    EXPECT_TRUE(IsChecked(form.RebootCheckBox));
}
