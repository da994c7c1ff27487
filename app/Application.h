#pragma once
// The application object and the window base class of the program: a hidden
// application window that carries the title, one main form, the event loop,
// and the one place where exceptions from window code end up.
#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>

class TForm {
public:
    TForm() = default;
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    HWND Handle() const { return FHandle; }
    void SetCaption(const std::string& Caption);
    std::string Caption() const;
    void Show();
    void Hide();
    bool Visible() const;
    void Close() { PostMessageA(FHandle, WM_CLOSE, 0, 0); }

protected:
    // Creates the window of the form; ClientWidth and ClientHeight are at 96 DPI.
    void CreateHandle(const char* ClassName, const std::string& Caption, DWORD Style, DWORD ExStyle, int ClientWidth,
                      int ClientHeight, HWND Owner);
    virtual LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam);
    LRESULT DefaultHandler(UINT Msg, WPARAM WParam, LPARAM LParam) {
        return DefWindowProcA(FHandle, Msg, WParam, LParam);
    }

private:
    static LRESULT CALLBACK StaticWndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam);
    HWND FHandle = nullptr;
};

class TApplication {
public:
    // Initialises COM for this thread and creates the application window.
    void Initialize();
    void SetTitle(const std::string& Title);
    std::string Title() const;
    HWND Handle() const { return FHandle; }

    // The main form is owned by the application and deleted by Halt or at the end of Run.
    void SetMainForm(std::unique_ptr<TForm> Form) { FMainForm = std::move(Form); }
    TForm* MainForm() const { return FMainForm.get(); }
    HWND MainFormHandle() const { return FMainForm ? FMainForm->Handle() : nullptr; }
    bool ShowMainForm = true;

    bool Terminated() const { return FTerminated; }
    void Terminate();
    // Lets the window system handle every pending message.
    void ProcessMessages();
    // The event loop, until Terminate.
    void Run();
    // Ends the program at once: the main form is destroyed first, COM is
    // uninitialised, and the process exits with code 0.
    [[noreturn]] void Halt();

    // Window code hands every exception here; the handler decides what follows.
    std::function<void(const std::exception&)> OnException;
    void HandleException(const std::exception& E);
    void HandleUnknownException();

private:
    enum class TPumped { None, Message, Quit };
    // Takes one waiting message and hands it on, the main form's dialog keys first.
    TPumped PumpOne();
    void Finish();
    HWND FHandle = nullptr;
    std::unique_ptr<TForm> FMainForm;
    bool FTerminated = false;
    bool FComInitialized = false;
};

extern TApplication Application;

// Runs window code so that no exception crosses back into the system: it goes
// to the application's handler, and the message's result is 0.
template <typename F>
LRESULT Guarded(F&& Action) {
    try {
        return Action();
    } catch (const std::exception& e) {
        Application.HandleException(e);
    } catch (...) {
        Application.HandleUnknownException();
    }
    return 0;
}

// Registers a window class of the program unless it is already: the arrow
// cursor on the button face.
void RegisterWindowClass(const char* ClassName, WNDPROC Proc, UINT Style = 0, HICON Icon = nullptr);

// The screen's DPI: what 96 design pixels scale by (96 where the screen gives no answer).
int ScreenDpi();

// Standard message boxes, owned by the active main window. Flags as for MessageBox.
int ShowMessageBox(const std::string& Text, const std::string& Caption, UINT Flags);
