#include "app/_uninstall.h"

TFormUninstall::TFormUninstall() {
    CreateHandle("TFormUninstall", "Orvand Uninstaller", WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, 273, 104,
                 Application.Handle());
    FormCreate();
}

void TFormUninstall::FormCreate() {
    Hide();
    PostMessageA(Handle(), WM_UNINSTALL, 0, 0);
}

void TFormUninstall::WMUninstall() { Application.Halt(); }

LRESULT TFormUninstall::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg == WM_UNINSTALL) {
        WMUninstall();
        return 0;
    }
    return TForm::WndProc(Msg, WParam, LParam);
}
