#include "app/Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <stdexcept>
#include <vector>

#include "app/Application.h"
#include "support/CodePages.h"
#include "support/SystemLibrary.h"

namespace {

const char* const PanelClass = "TPanel";
const char* const CheckStatesProp = "OrvandCheckStates";
const char* const OldProcProp = "OrvandOldProc";
const int CheckBoxSize = 13;
const int CheckTextGap = 4;

std::vector<char>* CheckStates(HWND List) { return static_cast<std::vector<char>*>(GetPropA(List, CheckStatesProp)); }

// GDI reads 8-bit text in the system's code page, not in the program's (UTF-8 under its
// manifest): every text setup draws or measures itself goes through UTF-16.
int DrawProgramText(HDC DC, const std::string& Text, RECT& Rect, UINT Format) {
    std::wstring wide = AnsiToWide(Text);
    return DrawTextW(DC, wide.c_str(), static_cast<int>(wide.size()), &Rect, Format);
}

// An item's text, however long: names come from the network.
std::string ItemText(HWND List, UINT Index) {
    LRESULT length = SendMessageA(List, LB_GETTEXTLEN, Index, 0);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT n = SendMessageA(List, LB_GETTEXT, Index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? std::min<size_t>(static_cast<size_t>(n), text.size() - 1) : 0);
    return text;
}

void DrawCheckListItem(const DRAWITEMSTRUCT& Item) {
    if (Item.itemID == static_cast<UINT>(-1)) return;
    HDC dc = Item.hDC;
    RECT r = Item.rcItem;
    bool selected = Item.itemState & ODS_SELECTED;
    FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    int box = MulDiv(CheckBoxSize, GetDeviceCaps(dc, LOGPIXELSY), 96);
    RECT check{r.left + 2, r.top + (r.bottom - r.top - box) / 2, 0, 0};
    check.right = check.left + box;
    check.bottom = check.top + box;
    UINT state = DFCS_BUTTONCHECK | DFCS_FLAT;
    if (CheckListChecked(Item.hwndItem, static_cast<int>(Item.itemID))) state |= DFCS_CHECKED;
    DrawFrameControl(dc, &check, DFC_BUTTON, state);
    RECT t = r;
    t.left = check.right + CheckTextGap;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    DrawProgramText(dc, ItemText(Item.hwndItem, Item.itemID), t, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (Item.itemState & ODS_FOCUS) DrawFocusRect(dc, &r);
}

void ToggleItem(HWND List, int Index) {
    auto* states = CheckStates(List);
    if (!states || Index < 0 || Index >= static_cast<int>(states->size())) return;
    (*states)[Index] = !(*states)[Index];
    RECT r;
    if (SendMessageA(List, LB_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&r)) != LB_ERR)
        InvalidateRect(List, &r, FALSE);
}

LRESULT CALLBACK CheckListProc(HWND List, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto old = reinterpret_cast<WNDPROC>(GetPropA(List, OldProcProp));
    return Guarded([&]() -> LRESULT {
        switch (Msg) {
            case CLB_GETCHECK:
                return CheckListChecked(List, static_cast<int>(WParam)) ? 1 : 0;
            case CLB_SETCHECK:
                if (CheckListChecked(List, static_cast<int>(WParam)) != (LParam != 0))
                    ToggleItem(List, static_cast<int>(WParam));
                return 0;
            case WM_LBUTTONDOWN: {
                // A click on the box ticks it; elsewhere the item is only selected.
                LRESULT hit = SendMessageA(List, LB_ITEMFROMPOINT, 0, LParam);
                int dpi = 96;
                if (TWindowDC dc(List); dc) dpi = GetDeviceCaps(dc.Get(), LOGPIXELSY);
                LRESULT result = CallWindowProcA(old, List, Msg, WParam, LParam);
                if (!HIWORD(hit) && static_cast<short>(LOWORD(LParam)) < MulDiv(CheckBoxSize + 4, dpi, 96))
                    ToggleItem(List, LOWORD(hit));
                return result;
            }
            case WM_CHAR:
                if (WParam == ' ') {
                    ToggleItem(List, static_cast<int>(SendMessageA(List, LB_GETCARETINDEX, 0, 0)));
                    return 0;
                }
                break;
            case WM_NCDESTROY:
                delete CheckStates(List);
                RemovePropA(List, CheckStatesProp);
                RemovePropA(List, OldProcProp);
                SetWindowLongPtrA(List, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
                break;
        }
        return CallWindowProcA(old, List, Msg, WParam, LParam);
    });
}

// Pages hand what their controls report to the form, as if the controls were the form's own.
LRESULT CALLBACK PanelProc(HWND Panel, UINT Msg, WPARAM WParam, LPARAM LParam) {
    return Guarded([&]() -> LRESULT {
        switch (Msg) {
            case WM_DRAWITEM: {
                auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(LParam);
                if (item->CtlType == ODT_LISTBOX && CheckStates(item->hwndItem)) {
                    DrawCheckListItem(*item);
                    return TRUE;
                }
                break;
            }
            case WM_COMMAND:
            case WM_NOTIFY:
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLOREDIT:
            case WM_CTLCOLORBTN:
            case WM_CTLCOLORLISTBOX:
            case WM_CLOSE:  // a multi-line edit asks its parent to close on Esc
                return SendMessageA(GetParent(Panel), Msg, WParam, LParam);
        }
        return DefWindowProcA(Panel, Msg, WParam, LParam);
    });
}

HFONT MakeFont(int Height, bool Bold) {
    return CreateFontA(Height, 0, 0, 0, Bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       "MS Sans Serif");
}

// The welcome picture (drawn larger than its 96-DPI size) shrunk to Width x Height.
HBITMAP ScaledPicture(int Width, int Height) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, "WELCOME", MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!data) return nullptr;
    int w = 0, h = 0;
    std::vector<uint8_t> pixels = DecodePicture(std::string(data, SizeofResource(module, found)), w, h);
    pixels = ResamplePicture(pixels, w, h, Width, Height);
    if (pixels.empty()) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), Width, -Height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP picture = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!picture) return nullptr;
    const size_t stride = (static_cast<size_t>(Width) * 3 + 3) & ~size_t{3};
    for (int y = 0; y < Height; ++y)
        std::copy_n(pixels.begin() + static_cast<ptrdiff_t>(y) * Width * 3, Width * 3,
                    static_cast<uint8_t*>(bits) + y * stride);
    return picture;
}

// The window class and the styles of each kind of control; WindowStyle adds what
// the definition's flags ask for.
struct TControlStyle {
    TControlKind Kind;
    const char* Class;
    DWORD Style, ExStyle;
};

const TControlStyle ControlStyles[] = {
    {TControlKind::Panel, PanelClass, WS_CLIPCHILDREN, WS_EX_CONTROLPARENT},
    {TControlKind::Label, "STATIC", 0, 0},
    {TControlKind::Button, "BUTTON", WS_TABSTOP, 0},
    {TControlKind::CheckBox, "BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0},
    {TControlKind::Edit, "EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE},
    {TControlKind::Memo, "EDIT", WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY, WS_EX_CLIENTEDGE},
    {TControlKind::GroupBox, "BUTTON", BS_GROUPBOX, 0},
    {TControlKind::Image, "STATIC", SS_BITMAP, 0},
    {TControlKind::Rule, "STATIC", SS_ETCHEDHORZ, 0},
    {TControlKind::ProgressBar, PROGRESS_CLASSA, 0, 0},
    {TControlKind::CheckListBox, "LISTBOX",
     WS_TABSTOP | WS_VSCROLL | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
     WS_EX_CLIENTEDGE},
};

const TControlStyle& StyleOf(TControlKind Kind) {
    for (const TControlStyle& style : ControlStyles)
        if (style.Kind == Kind) return style;
    throw std::logic_error("No style for a kind of control");
}

DWORD WindowStyle(const TControlDef& Def) {
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | StyleOf(Def.Kind).Style;
    // Pages are shown by the form, one at a time.
    if (Def.Kind != TControlKind::Panel && !(Def.Flags & cfHidden)) style |= WS_VISIBLE;
    if (Def.Flags & cfDisabled) style |= WS_DISABLED;
    if (Def.Kind == TControlKind::Label)
        style |= (Def.Flags & cfCenter) ? SS_CENTER : (Def.Flags & cfWordWrap) ? SS_LEFT : SS_LEFTNOWORDWRAP;
    if (Def.Kind == TControlKind::Button) style |= (Def.Flags & cfDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
    return style;
}

}  // namespace

TControls::~TControls() = default;

int TControls::Scale(int Value) const { return MulDiv(Value, FDpi, 96); }

void TControls::Build(HWND Form, std::span<const TControlDef> Layout) {
    InitCommonControls6();
    RegisterWindowClass(PanelClass, PanelProc);
    FDpi = ScreenDpi();
    FNormal.Reset(MakeFont(-MulDiv(8, FDpi, 72), false));
    FBold.Reset(MakeFont(-MulDiv(8, FDpi, 72), true));
    FHeading13.Reset(MakeFont(-Scale(13), true));
    FTitle24.Reset(MakeFont(-Scale(24), false));
    for (const TControlDef& def : Layout) {
        HWND control = Create(Form, def);
        FByName.emplace(def.Name, control);
        FDefinitions.emplace(control, &def);
    }
    // A group box lies under the controls it holds, or it would paint over them.
    for (const TControlDef& def : Layout)
        if (def.Kind == TControlKind::GroupBox)
            SetWindowPos((*this)[def.Name], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

HFONT TControls::FontFor(const TControlDef& Def) const {
    if (Def.Flags & cfTitle24) return FTitle24.Get();
    if (Def.Flags & cfHeading13) return FHeading13.Get();
    if (Def.Flags & cfBold) return FBold.Get();
    return FNormal.Get();
}

HWND TControls::Create(HWND Form, const TControlDef& Def) {
    // Controls of a group box lie on its page, placed relative to the box.
    int left = Def.Left, top = Def.Top;
    HWND parent = Form;
    if (Def.Parent) {
        const TControlDef* owner = FindSetupControl(Def.Parent);
        if (owner->Kind == TControlKind::GroupBox) {
            left += owner->Left;
            top += owner->Top;
        }
        parent = (*this)[SetupControlPage(Def)->Name];
    }
    const TControlStyle& kind = StyleOf(Def.Kind);
    HWND control =
        CreateWindowExA(kind.ExStyle, kind.Class, Def.Text, WindowStyle(Def), Scale(left), Scale(top), Scale(Def.Width),
                        Scale(Def.Height), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(SetupControlId(Def))),
                        GetModuleHandleA(nullptr), nullptr);
    if (!control) throw std::runtime_error(std::string("Cannot create control ") + Def.Name);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(Def)), FALSE);
    switch (Def.Kind) {
        case TControlKind::CheckBox:
            if (Def.Flags & cfChecked) SetCheckState(control, true);
            break;
        case TControlKind::Label:
            if (Def.Width == 0 || Def.Height == 0) FitToText(control, Def);
            break;
        case TControlKind::Rule:
            FinishRule(control, Def);
            break;
        case TControlKind::Image:
            FinishImage(control, Def);
            break;
        case TControlKind::CheckListBox:
            FinishCheckList(control);
            break;
        default:
            break;
    }
    return control;
}

// The etched line gets an edge of its own: the rule keeps its designed outline all the same.
void TControls::FinishRule(HWND Control, const TControlDef& Def) {
    SetWindowPos(Control, nullptr, 0, 0, Scale(Def.Width), Scale(Def.Height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The welcome picture is a resource of the program; a test program has none.
void TControls::FinishImage(HWND Control, const TControlDef& Def) {
    FImage.Reset(ScaledPicture(Scale(Def.Width), Scale(Def.Height)));
    if (FImage) SendMessageA(Control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(FImage.Get()));
}

// The list keeps a check state per item and draws the boxes; items are tall enough for a box.
void TControls::FinishCheckList(HWND Control) {
    SetPropA(Control, CheckStatesProp, new std::vector<char>());
    SetPropA(
        Control, OldProcProp,
        reinterpret_cast<HANDLE>(SetWindowLongPtrA(Control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CheckListProc))));
    TEXTMETRICA tm{};
    if (TWindowDC dc(Control); dc) {
        TSelection font(dc.Get(), FNormal.Get());
        GetTextMetricsA(dc.Get(), &tm);
    }
    int height = tm.tmHeight + Scale(3);
    SendMessageA(Control, LB_SETITEMHEIGHT, 0, height < Scale(CheckBoxSize + 3) ? Scale(CheckBoxSize + 3) : height);
}

void TControls::FitToText(HWND Control, const TControlDef& Def) {
    std::string text = ControlText(Control);
    RECT r{0, 0, Def.Width ? Scale(Def.Width) : 0, 0};
    {
        TWindowDC dc(Control);
        if (!dc) return;
        TSelection font(dc.Get(), FontFor(Def));
        UINT format = DT_CALCRECT | ((Def.Flags & cfWordWrap) ? DT_WORDBREAK : DT_SINGLELINE);
        // An empty label keeps the height of one line.
        DrawProgramText(dc.Get(), text.empty() ? " " : text, r, format);
    }
    int width = Def.Width ? Scale(Def.Width) : (text.empty() ? 0 : r.right);
    int height = Def.Height ? Scale(Def.Height) : r.bottom;
    SetWindowPos(Control, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND TControls::operator[](std::string_view Name) const {
    auto it = FByName.find(Name);
    if (it == FByName.end()) throw std::logic_error("No control " + std::string(Name));
    return it->second;
}

const TControlDef* TControls::Definition(HWND Control) const {
    auto it = FDefinitions.find(Control);
    return it == FDefinitions.end() ? nullptr : it->second;
}

void TControls::SetText(HWND Control, const std::string& Text) {
    SetWindowTextA(Control, Text.c_str());
    const TControlDef* def = Definition(Control);
    if (def && def->Kind == TControlKind::Label && (def->Width == 0 || def->Height == 0)) FitToText(Control, *def);
}

void TControls::SetTextColor(HWND Control, COLORREF Color) {
    FColors[Control] = Color;
    InvalidateRect(Control, nullptr, TRUE);
}

HBRUSH TControls::ControlColor(HWND Control, HDC DC) const {
    const TControlDef* def = Definition(Control);
    if (def && def->Kind == TControlKind::Memo) {
        // The licence reads like a document, on the window colour, though it cannot be edited.
        SetBkColor(DC, GetSysColor(COLOR_WINDOW));
        ::SetTextColor(DC, GetSysColor(COLOR_WINDOWTEXT));
        return GetSysColorBrush(COLOR_WINDOW);
    }
    auto it = FColors.find(Control);
    if (it == FColors.end()) return nullptr;
    ::SetTextColor(DC, it->second);
    SetBkColor(DC, GetSysColor(COLOR_BTNFACE));
    return GetSysColorBrush(COLOR_BTNFACE);
}

std::string ControlText(HWND Control) {
    int length = GetWindowTextLengthA(Control);
    std::string text(length + 1, '\0');
    int n = GetWindowTextA(Control, text.data(), length + 1);
    text.resize(n > 0 ? n : 0);
    return text;
}

bool IsChecked(HWND Button) { return SendMessageA(Button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetCheckState(HWND Button, bool Checked) {
    SendMessageA(Button, BM_SETCHECK, Checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

int CheckListAdd(HWND List, const std::string& Text, void* Object) {
    auto index = static_cast<int>(SendMessageA(List, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Text.c_str())));
    if (index < 0) throw std::runtime_error("Cannot add " + Text);
    SendMessageA(List, LB_SETITEMDATA, index, reinterpret_cast<LPARAM>(Object));
    if (auto* states = CheckStates(List)) states->insert(states->begin() + index, 0);
    return index;
}

void CheckListClear(HWND List) {
    SendMessageA(List, LB_RESETCONTENT, 0, 0);
    if (auto* states = CheckStates(List)) states->clear();
}

int CheckListCount(HWND List) {
    LRESULT n = SendMessageA(List, LB_GETCOUNT, 0, 0);
    return n > 0 ? static_cast<int>(n) : 0;
}

bool CheckListChecked(HWND List, int Index) {
    auto* states = CheckStates(List);
    return states && Index >= 0 && Index < static_cast<int>(states->size()) && (*states)[Index];
}

void* CheckListObject(HWND List, int Index) {
    LRESULT data = SendMessageA(List, LB_GETITEMDATA, Index, 0);
    return data == LB_ERR ? nullptr : reinterpret_cast<void*>(data);
}
