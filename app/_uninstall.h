#pragma once
// The hidden uninstall window.
#include "app/Application.h"

inline constexpr UINT WM_UNINSTALL = WM_USER + 516;  // 1540

class TFormUninstall : public TForm {
public:
    TFormUninstall();
    ~TFormUninstall() override;
    void FormCreate();
    void UninstallButtonClick();

    HWND UninstallButton = nullptr;
    HWND CancelButton = nullptr;

protected:
    LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) override;
    void WMUninstall();
};
