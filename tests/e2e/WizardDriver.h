#pragma once
// Drives a running install.exe from another process, as a user would: finds
// the wizard's controls by their layout names, clicks, types, presses keys,
// answers message boxes, and reads texts, states and painted colours.
#include <windows.h>

#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "wintest_util.h"

namespace e2e {

// Something a user could not do, or that did not happen in time.
class EDriverError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

using wintest::WaitUntil;

enum class TBoxIcon { None, Error, Question, Warning, Information, Unknown };
const char* BoxIconName(TBoxIcon Icon);

struct TMessageBox {
    HWND Handle = nullptr;
    std::string Title, Text;
    TBoxIcon Icon = TBoxIcon::None;
    std::vector<int> Buttons;  // command ids: IDOK, IDYES, IDNO, ...
};

// Pixels of a part of the screen, top-down, 0x00RRGGBB.
struct TCapture {
    int Width = 0, Height = 0;
    std::vector<DWORD> Pixels;
    COLORREF At(int X, int Y) const;
    std::set<COLORREF> Colors() const;
    bool SaveBmp(const std::string& FileName) const;
};
TCapture CaptureScreen(const RECT& Area);

class TSetupRun {
public:
    // Starts the program; it is ended at destruction if it still runs.
    explicit TSetupRun(const std::string& Exe, const std::string& Arguments = "");

    wintest::TProcess& Process() { return FProcess; }
    DWORD ProcessId() const { return FProcess.Id(); }
    // The visible wizard window, waited for; nullptr when it never came.
    HWND WaitForm(DWORD Milliseconds = 30000);
    HWND Form() const { return FForm; }
    // The application window, which carries the title.
    std::string ApplicationTitle() const;

    // Controls by the names of the form layout.
    HWND Control(std::string_view Name) const;
    std::string Text(std::string_view Name) const;
    // The text the window system keeps for the control, read without the program's help (which a
    // busy program cannot give); for the controls whose text lives in their window.
    std::string Caption(std::string_view Name) const { return wintest::WindowText(Control(Name)); }
    bool Enabled(std::string_view Name) const;
    bool Visible(std::string_view Name) const;
    bool Checked(std::string_view Name) const;
    // Colours painted in the control, from the screen.
    std::set<COLORREF> PaintedColors(std::string_view Name) const;
    std::string VisiblePage() const;
    bool WaitPage(std::string_view Page, DWORD Milliseconds = 20000) const;
    // Whether the wizard's thread takes a message within Milliseconds: not while a run blocks in a transfer.
    bool Responding(DWORD Milliseconds = 100) const;
    // The control that has the keyboard, by layout name, or "".
    std::string FocusName() const;

    // Clicks a button or check box that is visible and enabled; returns once the
    // click is handled, a message box came up, or the program ended.
    void Click(std::string_view Name);
    // The same click, returning as soon as it is sent: for a handler that runs long and
    // lets the user in meanwhile (the installation run behind the components page's Next).
    void ClickNoWait(std::string_view Name) { SendClick(Name); }
    // Clicks Button and waits for Page; throws, naming the box or page shown instead, when a box or no Page comes.
    void ClickToPage(std::string_view Button, std::string_view Page, DWORD Milliseconds = 60000);
    void TypeText(std::string_view Name, const std::string& Text);
    // The texts of a list's items, and the check boxes of a list with check boxes.
    std::vector<std::string> Items(std::string_view Name) const;
    bool ItemChecked(std::string_view Name, int Index) const;
    // Clicks the check box of a list's item, as the mouse does.
    void TickItem(std::string_view Name, int Index);
    // A key press on the control that has the keyboard.
    void PressKey(UINT VirtualKey, bool Alt = false);
    void AltF4() { PressKey(VK_F4, true); }
    void CloseBox();

    std::optional<TMessageBox> WaitBox(DWORD Milliseconds = 20000) const;
    // Presses a button of the box and waits for the box to go.
    void Answer(const TMessageBox& Box, int CommandId);
    // A box other than those already answered shows now.
    bool BoxShowing() const;

    // Waits for the end of the program: its exit code, or STILL_ACTIVE.
    DWORD WaitExit(DWORD Milliseconds = 20000) { return FProcess.WaitExit(Milliseconds); }
    bool Running() const { return FProcess.Running(); }

    // The wizard window's outline on the screen, and the union with a box when one shows.
    RECT WindowArea(const TMessageBox* Box = nullptr) const;

private:
    // The control, when a user could click it now.
    HWND Clickable(std::string_view Name) const;
    ULONG_PTR SendClick(std::string_view Name);
    wintest::TProcess FProcess;
    HWND FForm = nullptr;
};

}  // namespace e2e
