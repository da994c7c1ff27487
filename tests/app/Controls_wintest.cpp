// The form's controls made from the layout: pages, label sizing, the list with check boxes.
#include "app/Controls.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

struct BuiltForm {
    BuiltForm() {
        Form = CreateWindowExA(0, "STATIC", "form", WS_POPUP | WS_VISIBLE, 0, 0, SetupClientWidth, SetupClientHeight,
                               nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        Controls.Build(Form, SetupFormLayout());
    }
    ~BuiltForm() { DestroyWindow(Form); }
    HWND Form;
    TControls Controls;
};

int Width(HWND Window) {
    RECT r;
    GetWindowRect(Window, &r);
    return r.right - r.left;
}

void ClickAt(HWND Window, int X, int Y) {
    SendMessageA(Window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(X, Y));
    SendMessageA(Window, WM_LBUTTONUP, 0, MAKELPARAM(X, Y));
}

}  // namespace

TEST(Controls, EveryLayoutControlIsMadeOnItsPageWithItsId) {
    BuiltForm f;
    for (const TControlDef& def : SetupFormLayout()) {
        HWND control = f.Controls[def.Name];
        ASSERT_NE(control, nullptr) << def.Name;
        EXPECT_EQ(GetDlgCtrlID(control), SetupControlId(def)) << def.Name;
        EXPECT_EQ(f.Controls.Definition(control), &def);
        HWND expectedParent = def.Parent ? f.Controls[SetupControlPage(def)->Name] : f.Form;
        EXPECT_EQ(GetParent(control), expectedParent) << def.Name;
        // Pages wait for the form to show them; hidden controls stay hidden.
        bool shown = GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE;
        EXPECT_EQ(shown, def.Kind != TControlKind::Panel && !(def.Flags & cfHidden)) << def.Name;
    }
    EXPECT_THROW(f.Controls["NoSuchControl"], std::logic_error);
    EXPECT_FALSE(IsWindowEnabled(f.Controls["LicenseNextButton"]));
    EXPECT_TRUE(IsChecked(f.Controls["RunCheckBox"]));
    EXPECT_FALSE(IsChecked(f.Controls["RebootCheckBox"]));
}

// What each kind of control must be for the keyboard and for the readers of its
// window (a screen reader, the end-to-end driver): its class, whether Tab stops
// on it, which button Enter presses, and the font its flags ask for.
TEST(Controls, EachKindHasItsWindowClassTabStopAndFont) {
    BuiltForm f;
    const std::map<TControlKind, std::string> classes = {
        {TControlKind::Panel, "TPanel"},        {TControlKind::Label, "Static"},
        {TControlKind::Button, "Button"},       {TControlKind::CheckBox, "Button"},
        {TControlKind::Edit, "Edit"},           {TControlKind::Memo, "Edit"},
        {TControlKind::GroupBox, "Button"},     {TControlKind::Image, "Static"},
        {TControlKind::Rule, "Static"},         {TControlKind::ProgressBar, "msctls_progress32"},
        {TControlKind::CheckListBox, "ListBox"}};
    const std::set<TControlKind> tabStops = {TControlKind::Button, TControlKind::CheckBox, TControlKind::Edit,
                                             TControlKind::Memo, TControlKind::CheckListBox};
    const std::set<TControlKind> showsText = {TControlKind::Label,       TControlKind::Button, TControlKind::CheckBox,
                                              TControlKind::GroupBox,    TControlKind::Edit,   TControlKind::Memo,
                                              TControlKind::CheckListBox};
    std::set<TControlKind> seen;
    for (const TControlDef& def : SetupFormLayout()) {
        HWND control = f.Controls[def.Name];
        seen.insert(def.Kind);
        char name[64] = "";
        GetClassNameA(control, name, sizeof(name));
        EXPECT_EQ(_stricmp(name, classes.at(def.Kind).c_str()), 0) << def.Name << " is a " << name;
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        EXPECT_EQ((style & WS_TABSTOP) != 0, tabStops.count(def.Kind) != 0) << def.Name;
        EXPECT_EQ((style & WS_DISABLED) != 0, (def.Flags & cfDisabled) != 0) << def.Name;
        if (def.Kind == TControlKind::Button) {
            EXPECT_EQ(style & BS_TYPEMASK, (def.Flags & cfDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) << def.Name;
        }
        if (def.Kind == TControlKind::CheckBox) {
            EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX) << def.Name;
        }
        if (def.Kind == TControlKind::Memo) {
            EXPECT_TRUE(style & ES_READONLY) << def.Name;
        }
        if (def.Kind == TControlKind::Label && (def.Flags & cfCenter)) {
            EXPECT_EQ(style & SS_TYPEMASK, SS_CENTER) << def.Name;
        }
        // Pages, the picture, the rule and the progress bar show no text: no font to check.
        if (!showsText.count(def.Kind)) continue;
        LOGFONTA font{};
        auto handle = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
        ASSERT_TRUE(handle && GetObjectA(handle, sizeof(font), &font)) << def.Name << " has no font";
        const bool bold = (def.Flags & (cfBold | cfHeading13)) && !(def.Flags & cfTitle24);
        EXPECT_EQ(font.lfWeight, bold ? FW_BOLD : FW_NORMAL) << def.Name;
        EXPECT_STREQ(font.lfFaceName, "MS Sans Serif") << def.Name;
    }
    EXPECT_EQ(seen.size(), classes.size()) << "the layout leaves a kind of control untried";
    // The two headline fonts by size, larger for the title.
    LOGFONTA title{}, heading{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(f.Controls["Label13"], WM_GETFONT, 0, 0)), sizeof(title), &title);
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(f.Controls["AgreeLabel"], WM_GETFONT, 0, 0)), sizeof(heading),
               &heading);
    EXPECT_LT(title.lfHeight, heading.lfHeight);
}

TEST(Controls, LabelsSizedToTheirTextFollowItsChanges) {
    BuiltForm f;
    HWND status = f.Controls["CmpLabel2"];
    f.Controls.SetText(status, "Installed (Remote)");
    int longer = Width(status);
    f.Controls.SetText(status, "Missed");
    int shorter = Width(status);
    EXPECT_GT(longer, shorter);
    EXPECT_GT(shorter, 0);
    EXPECT_EQ(ControlText(status), "Missed");
    // Fixed by design: the run's status line keeps its width whatever it shows.
    HWND line = f.Controls["InstallLabel"];
    int width = Width(line);
    f.Controls.SetText(line, "Running: spchapi.exe");
    EXPECT_EQ(Width(line), width);
}

TEST(Controls, StatusColoursAndTheLicenceBackgroundArePaintedByTheSet) {
    BuiltForm f;
    HDC dc = GetDC(f.Form);
    EXPECT_EQ(f.Controls.ControlColor(f.Controls["Label4"], dc), nullptr);
    f.Controls.SetTextColor(f.Controls["CmpLabel1"], RGB(0, 128, 0));
    EXPECT_NE(f.Controls.ControlColor(f.Controls["CmpLabel1"], dc), nullptr);
    EXPECT_EQ(GetTextColor(dc), RGB(0, 128, 0));
    EXPECT_EQ(f.Controls.ControlColor(f.Controls["AgreeInfoMemo"], dc), GetSysColorBrush(COLOR_WINDOW));
    ReleaseDC(f.Form, dc);
}

TEST(CheckList, ABoxClickOrSpaceTicksAnItemAndTheStateIsKeptPerItem) {
    BuiltForm f;
    HWND page = f.Controls["CharactersPanel"];
    ShowWindow(page, SW_SHOW);
    HWND list = f.Controls["CharactersListBox"];
    int objects[3] = {};
    EXPECT_EQ(CheckListAdd(list, "Vela", &objects[0]), 0);
    EXPECT_EQ(CheckListAdd(list, "Aster", &objects[1]), 1);
    EXPECT_EQ(CheckListAdd(list, "Lyra", &objects[2]), 2);
    EXPECT_EQ(CheckListCount(list), 3);
    EXPECT_EQ(CheckListObject(list, 1), &objects[1]);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(CheckListChecked(list, i));

    int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    ASSERT_GT(height, 0);
    ClickAt(list, 6, height + height / 2);  // the box of the second item
    EXPECT_TRUE(CheckListChecked(list, 1));
    EXPECT_EQ(SendMessageA(list, CLB_GETCHECK, 1, 0), 1);
    ClickAt(list, 120, height + height / 2);  // its text only selects
    EXPECT_TRUE(CheckListChecked(list, 1));
    EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), 1);
    SendMessageA(list, WM_CHAR, ' ', 0);
    EXPECT_FALSE(CheckListChecked(list, 1));
    SendMessageA(list, CLB_SETCHECK, 2, 1);
    EXPECT_TRUE(CheckListChecked(list, 2));
    EXPECT_FALSE(CheckListChecked(list, 0));
    EXPECT_FALSE(CheckListChecked(list, 7));

    CheckListClear(list);
    EXPECT_EQ(CheckListCount(list), 0);
    CheckListAdd(list, "Vela", nullptr);
    EXPECT_FALSE(CheckListChecked(list, 0)) << "a new item took an old tick";
}
