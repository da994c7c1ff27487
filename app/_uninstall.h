#pragma once
// The hidden uninstall window.
#include "app/Application.h"

inline constexpr UINT WM_UNINSTALL = WM_USER + 516;  // 1540

class TFormUninstall : public TForm {
public:
    TFormUninstall();
    void FormCreate();

protected:
    LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) override;
    void WMUninstall();
};
