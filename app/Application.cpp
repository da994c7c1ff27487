#include "app/Application.h"

#include <objbase.h>

#include <stdexcept>

#include "support/Logging.h"
#include "support/UniqueResource.h"

TApplication Application;

namespace {

const char* const AppWindowClass = "TApplication";

// The application window carries setup's one taskbar button (the wizard is owned by
// it, so it has none); a click on the button brings the wizard back to the front.
LRESULT CALLBACK AppWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg == WM_ACTIVATE && LOWORD(WParam) != WA_INACTIVE) {
        HWND main = Application.MainFormHandle();
        if (main && IsWindowVisible(main)) {
            SetForegroundWindow(main);
            return 0;
        }
    }
    return DefWindowProcA(Wnd, Msg, WParam, LParam);
}

std::string WindowText(HWND Window) {
    char buffer[512];
    int n = GetWindowTextA(Window, buffer, sizeof(buffer));
    return std::string(buffer, n > 0 ? n : 0);
}

}  // namespace

void RegisterWindowClass(const char* ClassName, WNDPROC Proc, UINT Style, HICON Icon) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof(existing);
    if (GetClassInfoExA(GetModuleHandleA(nullptr), ClassName, &existing)) return;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.style = Style;
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = Icon;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = ClassName;
    RegisterClassExA(&wc);
}

TForm::~TForm() {
    if (FHandle) {
        SetWindowLongPtrA(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
        FHandle = nullptr;
    }
}

void TForm::CreateHandle(const char* ClassName, const std::string& Caption, DWORD Style, DWORD ExStyle, int ClientWidth,
                         int ClientHeight, HWND Owner) {
    // The window procedure is replaced per window below.
    RegisterWindowClass(ClassName, DefWindowProcA, CS_DBLCLKS,
                        LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1)));
    const int dpi = ScreenDpi();
    RECT r{0, 0, MulDiv(ClientWidth, dpi, 96), MulDiv(ClientHeight, dpi, 96)};
    AdjustWindowRectEx(&r, Style, FALSE, ExStyle);
    int w = r.right - r.left, h = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    FHandle = CreateWindowExA(ExStyle, ClassName, Caption.c_str(), Style, x, y, w, h, Owner, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (!FHandle) throw std::runtime_error("Cannot create window");
    SetWindowLongPtrA(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrA(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TForm::StaticWndProc));
}

LRESULT CALLBACK TForm::StaticWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(Wnd, GWLP_USERDATA));
    if (!form) return DefWindowProcA(Wnd, Msg, WParam, LParam);
    return Guarded([&] { return form->WndProc(Msg, WParam, LParam); });
}

LRESULT TForm::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg == WM_CLOSE && Application.MainForm() == this) {
        Application.Terminate();
        return 0;
    }
    return DefaultHandler(Msg, WParam, LParam);
}

void TForm::SetCaption(const std::string& Caption) { SetWindowTextA(FHandle, Caption.c_str()); }

std::string TForm::Caption() const { return WindowText(FHandle); }

void TForm::Show() {
    // A zero-sized window: only its taskbar button shows.
    if (Application.MainForm() == this) ShowWindow(Application.Handle(), SW_SHOWNOACTIVATE);
    ShowWindow(FHandle, SW_SHOW);
    SetForegroundWindow(FHandle);
}

void TForm::Hide() {
    ShowWindow(FHandle, SW_HIDE);
    if (Application.MainForm() == this) ShowWindow(Application.Handle(), SW_HIDE);
}

bool TForm::Visible() const { return IsWindowVisible(FHandle) != FALSE; }

void TApplication::Initialize() {
    FComInitialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = AppWndProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(1));
    wc.lpszClassName = AppWindowClass;
    RegisterClassExA(&wc);
    FHandle = CreateWindowExA(0, AppWindowClass, "", WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU, 0, 0, 0, 0,
                              nullptr, nullptr, wc.hInstance, nullptr);
}

void TApplication::SetTitle(const std::string& Title) { SetWindowTextA(FHandle, Title.c_str()); }

std::string TApplication::Title() const { return WindowText(FHandle); }

void TApplication::Terminate() {
    if (!FTerminated) PostQuitMessage(0);
    FTerminated = true;
}

TApplication::TPumped TApplication::PumpOne() {
    MSG msg;
    // Not GetMessage: after a sent message whose handler ended the application (its
    // quit message taken by a pump inside the handler) it would wait on for input.
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return TPumped::None;
    if (msg.message == WM_QUIT) return TPumped::Quit;
    HWND main = MainFormHandle();
    if (main && IsDialogMessageA(main, &msg)) return TPumped::Message;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return TPumped::Message;
}

void TApplication::ProcessMessages() {
    for (;;) {
        TPumped pumped = PumpOne();
        if (pumped == TPumped::Quit) FTerminated = true;
        if (pumped != TPumped::Message) break;
    }
}

void TApplication::Run() {
    if (FMainForm && ShowMainForm) FMainForm->Show();
    while (!FTerminated) {
        TPumped pumped = PumpOne();
        if (pumped == TPumped::Quit) break;
        if (pumped == TPumped::None) MsgWaitForMultipleObjectsEx(0, nullptr, 100, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    Finish();
}

void TApplication::Finish() {
    // Null while it is destroyed: its destruction runs no main form's code.
    FMainForm.reset();
    ReleaseLog();
    if (FHandle) DestroyWindow(FHandle);
    FHandle = nullptr;
    if (FComInitialized) CoUninitialize();
    FComInitialized = false;
}

void TApplication::Halt() {
    Finish();
    ExitProcess(0);
}

void TApplication::HandleException(const std::exception& E) {
    if (OnException) {
        OnException(E);
        return;
    }
    ShowMessageBox(E.what(), Title(), MB_OK | MB_ICONERROR);
}

void TApplication::HandleUnknownException() {
    struct Unknown : std::exception {
        const char* what() const noexcept override { return "Unknown error"; }
    } unknown;
    HandleException(unknown);
}

int ScreenDpi() {
    TWindowDC screen(nullptr);
    return screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 96;
}

int ShowMessageBox(const std::string& Text, const std::string& Caption, UINT Flags) {
    HWND owner = Application.MainFormHandle();
    if (owner && !IsWindowVisible(owner)) owner = Application.Handle();
    return MessageBoxA(owner, Text.c_str(), Caption.c_str(), Flags | MB_SETFOREGROUND);
}
