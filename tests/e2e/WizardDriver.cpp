#include "WizardDriver.h"

#include <cstring>
#include <fstream>

#include "app/SetupLayout.h"
#include "support/CodePages.h"

namespace e2e {

namespace {

const DWORD SendTimeout = 10000;

void DeleteMemoryDC(HDC DC) { DeleteDC(DC); }

// A 32-bit top-down bitmap to draw into, selected into a memory DC of its own.
class TDibSection {
public:
    TDibSection(int Width, int Height)
        : FBitmap(Create(FDC.Get(), Width, Height, &FBits)), FSelected(DC(), FBitmap.Get()) {}
    HDC DC() const { return FDC.Get(); }
    const DWORD* Bits() const { return static_cast<const DWORD*>(FBits); }

private:
    static HBITMAP Create(HDC DC, int Width, int Height, void** Bits) {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), Width, -Height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        return CreateDIBSection(DC, &bi, DIB_RGB_COLORS, Bits, nullptr, 0);
    }
    TUniqueResource<TCloseWith<HDC, DeleteMemoryDC>> FDC{CreateCompatibleDC(nullptr)};
    void* FBits = nullptr;
    TGdiObject<HBITMAP> FBitmap;
    TSelection FSelected;
};

std::set<ULONG_PTR> CompletedClicks;
ULONG_PTR NextClick = 1;

void CALLBACK ClickDone(HWND, UINT, ULONG_PTR Ticket, LRESULT) { CompletedClicks.insert(Ticket); }

LRESULT SendTo(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(Window, Msg, WParam, LParam, SMTO_NORMAL, SendTimeout, &result))
        throw EDriverError("the program does not answer");
    return static_cast<LRESULT>(result);
}

struct FindById {
    int Id;
    HWND Found;
};

BOOL CALLBACK FindByIdProc(HWND Window, LPARAM Data) {
    auto* find = reinterpret_cast<FindById*>(Data);
    if (GetDlgCtrlID(Window) != find->Id) return TRUE;
    find->Found = Window;
    return FALSE;
}

// The window of the form's thread that has the keyboard, or nullptr.
HWND FocusOf(HWND Form) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(GetWindowThreadProcessId(Form, nullptr), &info) ? info.hwndFocus : nullptr;
}

// The standard icons a message box may show, drawn here the way the box draws them.
TBoxIcon MatchIcon(HWND IconControl) {
    RECT r;
    GetWindowRect(IconControl, &r);
    TCapture shown = CaptureScreen(r);
    if (shown.Width == 0) return TBoxIcon::Unknown;
    const std::pair<TBoxIcon, LPCSTR> candidates[] = {{TBoxIcon::Error, IDI_HAND},
                                                      {TBoxIcon::Question, IDI_QUESTION},
                                                      {TBoxIcon::Warning, IDI_EXCLAMATION},
                                                      {TBoxIcon::Information, IDI_ASTERISK}};
    TBoxIcon best = TBoxIcon::Unknown;
    size_t bestDiff = shown.Pixels.size();
    for (const auto& [kind, id] : candidates) {
        TDibSection drawn(shown.Width, shown.Height);
        TGdiObject<HBRUSH> back(CreateSolidBrush(shown.At(0, 0)));
        RECT all{0, 0, shown.Width, shown.Height};
        FillRect(drawn.DC(), &all, back.Get());
        DrawIconEx(drawn.DC(), 0, 0, LoadIconA(nullptr, id), 0, 0, 0, nullptr, DI_NORMAL);
        GdiFlush();
        size_t diff = 0;
        for (size_t i = 0; i < shown.Pixels.size(); ++i)
            if ((drawn.Bits()[i] & 0xFFFFFF) != shown.Pixels[i]) ++diff;
        if (diff < bestDiff) {
            bestDiff = diff;
            best = kind;
        }
    }
    // Nearly every pixel must agree.
    return bestDiff * 20 < shown.Pixels.size() ? best : TBoxIcon::Unknown;
}

}  // namespace

const char* BoxIconName(TBoxIcon Icon) {
    const char* const names[] = {"none", "error", "question", "warning", "information", "unknown"};
    return names[static_cast<int>(Icon)];
}

COLORREF TCapture::At(int X, int Y) const {
    DWORD p = Pixels[static_cast<size_t>(Y) * Width + X];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

std::set<COLORREF> TCapture::Colors() const {
    std::set<COLORREF> colors;
    for (int y = 0; y < Height; ++y)
        for (int x = 0; x < Width; ++x) colors.insert(At(x, y));
    return colors;
}

bool TCapture::SaveBmp(const std::string& FileName) const {
    std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    int rowSize = (Width * 3 + 3) & ~3;
    DWORD dataSize = static_cast<DWORD>(rowSize) * Height;
    BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) + dataSize, 0,
                        0, sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)};
    BITMAPINFOHEADER ih{sizeof(BITMAPINFOHEADER), Width, Height, 1, 24, BI_RGB, dataSize, 3780, 3780, 0, 0};
    out.write(reinterpret_cast<const char*>(&fh), sizeof(fh));
    out.write(reinterpret_cast<const char*>(&ih), sizeof(ih));
    std::string row(rowSize, '\0');
    for (int y = Height - 1; y >= 0; --y) {
        // Blue, green, red: the low bytes of 0x00RRGGBB.
        for (int x = 0; x < Width; ++x) std::memcpy(&row[x * 3], &Pixels[static_cast<size_t>(y) * Width + x], 3);
        out.write(row.data(), rowSize);
    }
    return static_cast<bool>(out);
}

TCapture CaptureScreen(const RECT& Area) {
    TCapture capture;
    capture.Width = Area.right - Area.left;
    capture.Height = Area.bottom - Area.top;
    if (capture.Width <= 0 || capture.Height <= 0) return TCapture{};
    TWindowDC screen(nullptr);
    TDibSection copy(capture.Width, capture.Height);
    BitBlt(copy.DC(), 0, 0, capture.Width, capture.Height, screen.Get(), Area.left, Area.top, SRCCOPY);
    GdiFlush();
    capture.Pixels.assign(copy.Bits(), copy.Bits() + static_cast<size_t>(capture.Width) * capture.Height);
    for (DWORD& pixel : capture.Pixels) pixel &= 0xFFFFFF;
    return capture;
}

// Reads a message box: its title, text, icon and buttons.
static TMessageBox ReadMessageBox(HWND Box) {
    TMessageBox box;
    box.Handle = Box;
    box.Title = wintest::WindowText(Box);
    box.Text = wintest::MessageBoxText(Box);
    for (int id : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        HWND button = GetDlgItem(Box, id);
        if (button && IsWindowVisible(button)) box.Buttons.push_back(id);
    }
    for (HWND child = nullptr; (child = FindWindowExA(Box, child, "Static", nullptr));)
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
            box.Icon = MatchIcon(child);
            break;
        }
    return box;
}

TSetupRun::TSetupRun(const std::string& Exe, const std::string& Arguments)
    : FProcess(wintest::StartProgram(Exe, Arguments)) {}

HWND TSetupRun::WaitForm(DWORD Milliseconds) {
    FForm = wintest::WaitProcessWindow(FProcess.Id(), "TSetupForm", Milliseconds);
    return FForm;
}

std::string TSetupRun::ApplicationTitle() const {
    HWND app = wintest::FindProcessWindow(FProcess.Id(), "TApplication", false);
    return app ? wintest::WindowText(app) : std::string();
}

HWND TSetupRun::Control(std::string_view Name) const {
    const TControlDef* def = FindSetupControl(Name);
    if (!def) throw EDriverError("the form has no control " + std::string(Name));
    if (!FForm) throw EDriverError("no wizard window");
    FindById find{SetupControlId(*def), nullptr};
    EnumChildWindows(FForm, FindByIdProc, reinterpret_cast<LPARAM>(&find));
    if (!find.Found) throw EDriverError("control " + std::string(Name) + " not found in the window");
    return find.Found;
}

std::string TSetupRun::Text(std::string_view Name) const {
    HWND control = Control(Name);
    auto length = SendTo(control, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    auto n = SendTo(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
}

bool TSetupRun::Enabled(std::string_view Name) const { return IsWindowEnabled(Control(Name)) != FALSE; }

bool TSetupRun::Visible(std::string_view Name) const { return IsWindowVisible(Control(Name)) != FALSE; }

bool TSetupRun::Checked(std::string_view Name) const { return SendTo(Control(Name), BM_GETCHECK, 0, 0) == BST_CHECKED; }

std::set<COLORREF> TSetupRun::PaintedColors(std::string_view Name) const {
    HWND control = Control(Name);
    RECT r;
    GetWindowRect(control, &r);
    POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    // Another program's window could lie on top: wait until the control itself is seen there.
    if (!WaitUntil([&] { return WindowFromPoint(centre) == control; }, 5000))
        throw EDriverError(std::string(Name) + " is covered");
    RedrawWindow(control, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    // Another process paints it: nothing tells when the pixels are on the screen.
    Sleep(200);
    return CaptureScreen(r).Colors();
}

std::string TSetupRun::VisiblePage() const {
    for (const TControlDef& def : SetupFormLayout())
        if (def.Kind == TControlKind::Panel && IsWindowVisible(Control(def.Name))) return def.Name;
    return std::string();
}

bool TSetupRun::WaitPage(std::string_view Page, DWORD Milliseconds) const {
    return WaitUntil([&] { return VisiblePage() == Page; }, Milliseconds, 50);
}

bool TSetupRun::Responding(DWORD Milliseconds) const {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(FForm, WM_NULL, 0, 0, SMTO_NORMAL, Milliseconds, &ignored) != 0;
}

std::string TSetupRun::FocusName() const {
    HWND focus = FocusOf(FForm);
    if (!focus || !IsChild(FForm, focus)) return "";
    const TControlDef* def = FindSetupControl(GetDlgCtrlID(focus));
    return def ? def->Name : "";
}

HWND TSetupRun::Clickable(std::string_view Name) const {
    HWND control = Control(Name);
    if (BoxShowing()) throw EDriverError("a message box is in the way of " + std::string(Name));
    if (!IsWindowVisible(control) || !IsWindowEnabled(control) || !IsWindowEnabled(FForm))
        throw EDriverError(std::string(Name) + " cannot be clicked now");
    return control;
}

ULONG_PTR TSetupRun::SendClick(std::string_view Name) {
    HWND control = Clickable(Name);
    // Never restart the machine the tests run on.
    if (Name == "FinishButton" && Checked("RebootCheckBox"))
        throw EDriverError("Finish with the restart box ticked would restart the computer");
    ULONG_PTR ticket = NextClick++;
    if (!SendMessageCallbackA(control, BM_CLICK, 0, 0, ClickDone, ticket)) throw EDriverError("click not sent");
    return ticket;
}

void TSetupRun::Click(std::string_view Name) {
    ULONG_PTR ticket = SendClick(Name);
    auto handled = [&] {
        // This thread receives the completions of its sent messages.
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        return CompletedClicks.count(ticket) || BoxShowing() || !Running();
    };
    if (WaitUntil(handled, 60000, 10)) return;
    throw EDriverError("the click on " + std::string(Name) + " is not handled");
}

void TSetupRun::ClickToPage(std::string_view Button, std::string_view Page, DWORD Milliseconds) {
    Click(Button);
    WaitUntil([&] { return VisiblePage() == Page || BoxShowing(); }, Milliseconds, 50);
    if (VisiblePage() == Page) return;
    const HWND box = wintest::FindMessageBox(FProcess.Id());
    throw EDriverError("no " + std::string(Page) + " after " + std::string(Button) + ", but " +
                       (box ? "the box \"" + wintest::MessageBoxText(box) + "\"" : "the page " + VisiblePage()));
}

void TSetupRun::TypeText(std::string_view Name, const std::string& Text) {
    HWND control = Control(Name);
    if (!IsWindowVisible(control) || !IsWindowEnabled(control))
        throw EDriverError(std::string(Name) + " cannot be typed in");
    SendTo(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Text.c_str()));
}

std::vector<std::string> TSetupRun::Items(std::string_view Name) const {
    HWND list = Control(Name);
    std::vector<std::string> items;
    // Asked in UTF-16: Wine hands the ANSI form of another process's list back unconverted.
    for (LRESULT i = 0, n = SendTo(list, LB_GETCOUNT, 0, 0); i < n; ++i) {
        std::wstring wide(static_cast<size_t>(SendTo(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
        DWORD_PTR got = 0;
        if (!SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()), SMTO_NORMAL, SendTimeout,
                                 &got))
            throw EDriverError("the program does not answer");
        wide.resize(static_cast<int>(got) > 0 ? got : 0);
        items.push_back(WideToAnsi(wide));
    }
    return items;
}

bool TSetupRun::ItemChecked(std::string_view Name, int Index) const {
    return SendTo(Control(Name), WM_USER + 0x310, Index, 0) != 0;  // CLB_GETCHECK
}

void TSetupRun::TickItem(std::string_view Name, int Index) {
    HWND list = Clickable(Name);
    LRESULT top = SendTo(list, LB_GETTOPINDEX, 0, 0);
    LRESULT height = SendTo(list, LB_GETITEMHEIGHT, 0, 0);
    RECT client;
    GetClientRect(list, &client);
    int y = static_cast<int>((Index - top) * height + height / 2);
    if (Index < top || y >= client.bottom) throw EDriverError("item " + std::to_string(Index) + " is not in view");
    // On the check box, a few pixels in from the left.
    LPARAM at = MAKELPARAM(6, y);
    SendTo(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendTo(list, WM_LBUTTONUP, 0, at);
}

void TSetupRun::PressKey(UINT VirtualKey, bool Alt) {
    HWND target = FocusOf(FForm) ? FocusOf(FForm) : FForm;
    // With Alt held down the key comes as a system key, its context bit set.
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(VirtualKey, MAPVK_VK_TO_VSC)) << 16 | (Alt ? 1 << 29 : 0);
    PostMessageA(target, Alt ? WM_SYSKEYDOWN : WM_KEYDOWN, VirtualKey, scan | 1);
    PostMessageA(target, Alt ? WM_SYSKEYUP : WM_KEYUP, VirtualKey, scan | 0xC0000001);
}

void TSetupRun::CloseBox() { PostMessageA(FForm, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool TSetupRun::BoxShowing() const { return wintest::FindMessageBox(FProcess.Id()) != nullptr; }

std::optional<TMessageBox> TSetupRun::WaitBox(DWORD Milliseconds) const {
    HWND box = wintest::WaitMessageBox(FProcess.Id(), Milliseconds);
    if (!box) return std::nullopt;
    Sleep(300);  // painted, so that its icon can be read: another process paints it, unannounced
    return ReadMessageBox(box);
}

void TSetupRun::Answer(const TMessageBox& Box, int CommandId) {
    if (!wintest::PressMessageBoxButton(Box.Handle, CommandId))
        throw EDriverError("the box \"" + Box.Text + "\" has no such button");
    if (WaitUntil([&] { return !IsWindow(Box.Handle); }, 10000)) return;
    throw EDriverError("the box \"" + Box.Text + "\" stays");
}

RECT TSetupRun::WindowArea(const TMessageBox* Box) const {
    RECT area{0, 0, 0, 0};
    if (FForm && IsWindowVisible(FForm)) GetWindowRect(FForm, &area);
    RECT box{0, 0, 0, 0};
    // An empty rectangle adds nothing to a union.
    if (Box && IsWindow(Box->Handle)) GetWindowRect(Box->Handle, &box);
    UnionRect(&area, &area, &box);
    return area;
}

}  // namespace e2e
