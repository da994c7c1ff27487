#pragma once
// Child controls of a form, made from its layout: pages as borderless panels,
// the standard controls, fonts, label colours and a list with check boxes.
#include <windows.h>

#include <map>
#include <span>
#include <string>
#include <string_view>

#include "app/SetupLayout.h"
#include "support/UniqueResource.h"

class TControls {
public:
    TControls() = default;
    ~TControls();
    TControls(const TControls&) = delete;
    TControls& operator=(const TControls&) = delete;

    // Creates every control of Layout inside Form (whose client area it fills).
    void Build(HWND Form, std::span<const TControlDef> Layout);
    // The control of that name; throws for a name the layout does not hold.
    HWND operator[](std::string_view Name) const;
    const TControlDef* Definition(HWND Control) const;

    // A label's text; a label sized to its text is sized again.
    void SetText(HWND Control, const std::string& Text);
    void SetTextColor(HWND Control, COLORREF Color);
    // WM_CTLCOLORSTATIC and WM_CTLCOLOREDIT: a brush when this set paints the control itself, else nullptr.
    HBRUSH ControlColor(HWND Control, HDC DC) const;

private:
    HWND Create(HWND Form, const TControlDef& Def);
    // What a kind of control needs once its window is made.
    void FinishRule(HWND Control, const TControlDef& Def);
    void FinishImage(HWND Control, const TControlDef& Def);
    void FinishCheckList(HWND Control);
    void FitToText(HWND Control, const TControlDef& Def);
    HFONT FontFor(const TControlDef& Def) const;
    int Scale(int Value) const;

    int FDpi = 96;
    TGdiObject<HFONT> FNormal, FBold, FHeading13, FTitle24;
    TGdiObject<HBITMAP> FImage;
    std::map<std::string, HWND, std::less<>> FByName;
    std::map<HWND, const TControlDef*> FDefinitions;
    std::map<HWND, COLORREF> FColors;
};

std::string ControlText(HWND Control);
bool IsChecked(HWND Button);
// Sets the state without any notification.
void SetCheckState(HWND Button, bool Checked);

// The list with a check box per item (TControlKind::CheckListBox). The state
// is kept by the list and answered to CLB_GETCHECK, also to other processes.
inline constexpr UINT CLB_GETCHECK = WM_USER + 0x310;  // wParam: item; result 1 when ticked
inline constexpr UINT CLB_SETCHECK = WM_USER + 0x311;  // wParam: item, lParam: 0 or 1
int CheckListAdd(HWND List, const std::string& Text, void* Object);
void CheckListClear(HWND List);
int CheckListCount(HWND List);
bool CheckListChecked(HWND List, int Index);
void* CheckListObject(HWND List, int Index);
