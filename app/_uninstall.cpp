#include "app/_uninstall.h"

#include "Components/SetupUtils.h"
#include "app/Utils.h"

namespace {

const int UninstallButtonId = 1;

HWND CreateButton(HWND Parent, const char* Caption, int Id, int Left, int Top, DWORD ExtraStyle) {
    const int dpi = ScreenDpi();
    HWND button =
        CreateWindowExA(0, "BUTTON", Caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ExtraStyle, MulDiv(Left, dpi, 96),
                        MulDiv(Top, dpi, 96), MulDiv(72, dpi, 96), MulDiv(21, dpi, 96), Parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    return button;
}

// The framework's plain message dialog carries the application's title, or the program's name.
std::string MessageCaption() {
    std::string title = Application.Title();
    if (!title.empty()) return title;
    std::string name = GetProgramFileName();
    name = name.substr(name.find_last_of("\\/:") + 1);
    size_t dot = name.find_last_of('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

TFormUninstall::TFormUninstall() {
    CreateHandle("TFormUninstall", "Orvand Uninstaller", WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, 273, 104,
                 Application.Handle());
    UninstallButton = CreateButton(Handle(), "Uninstall", UninstallButtonId, 112, 8, BS_DEFPUSHBUTTON);
    CancelButton = CreateButton(Handle(), "Cancel", IDCANCEL, 193, 8, BS_PUSHBUTTON);
    FormCreate();
}

TFormUninstall::~TFormUninstall() = default;

void TFormUninstall::FormCreate() {
    Hide();
    PostMessageA(Handle(), WM_UNINSTALL, 0, 0);
}

void TFormUninstall::WMUninstall() {
    int answer = MessageBoxA(Handle(), "Are you sure you want to remove Orvand from your computer", "Confirm",
                             MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1 | MB_SETFOREGROUND);
    if (answer == IDYES) {
        // Whatever the engine raises ends the program like every other path, without a message.
        try {
            UninstallButtonClick();
        } catch (...) {
        }
    }
    Application.Halt();
}

void TFormUninstall::UninstallButtonClick() {
    if (!CloseRunningInstance()) {
        ShowMessageBox("Uninstaller find started Orvand application. Plase close it and tray again.", MessageCaption(),
                       MB_OK);
        Close();
        return;
    }
    TUninstaller uninstaller;
    uninstaller.Uninstall();
}

LRESULT TFormUninstall::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
        case WM_UNINSTALL:
            WMUninstall();
            return 0;
        case WM_COMMAND:
            if (LOWORD(WParam) == UninstallButtonId && HIWORD(WParam) == BN_CLICKED) {
                UninstallButtonClick();
                return 0;
            }
            if (LOWORD(WParam) == IDCANCEL) {
                Close();
                return 0;
            }
            break;
    }
    return TForm::WndProc(Msg, WParam, LParam);
}
