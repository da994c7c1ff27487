#include "app/DesktopLaunch.h"

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "app/PathUtils.h"
#include "app/Utils.h"

namespace {

template <typename T>
class TCom {
public:
    TCom() = default;
    ~TCom() {
        if (FPtr) FPtr->Release();
    }
    TCom(const TCom&) = delete;
    TCom& operator=(const TCom&) = delete;
    T** operator&() { return &FPtr; }
    T* operator->() const { return FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

private:
    T* FPtr = nullptr;
};

class TBstrVariant {
public:
    explicit TBstrVariant(const std::string& Text) {
        VariantInit(&FValue);
        FValue.vt = VT_BSTR;
        FValue.bstrVal = SysAllocString(AnsiToWide(Text).c_str());
    }
    ~TBstrVariant() { VariantClear(&FValue); }
    TBstrVariant(const TBstrVariant&) = delete;
    TBstrVariant& operator=(const TBstrVariant&) = delete;
    const VARIANT& Get() const { return FValue; }

private:
    VARIANT FValue;
};

}  // namespace

bool DesktopShellExecuteThroughExplorer(const std::string& Program, const std::string& Folder) {
    // The desktop window's view, its background object, and from it the shell's own
    // automation object, which runs in the desktop's process.
    TCom<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                reinterpret_cast<void**>(&windows))))
        return false;
    VARIANT empty;
    VariantInit(&empty);
    long window = 0;
    TCom<IDispatch> desktop;
    if (windows->FindWindowSW(&empty, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &desktop) != S_OK || !desktop)
        return false;
    TCom<IServiceProvider> services;
    TCom<IShellBrowser> browser;
    TCom<IShellView> view;
    TCom<IDispatch> background;
    TCom<IShellFolderViewDual> folderView;
    TCom<IDispatch> application;
    TCom<IShellDispatch2> shell;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services))) ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void**>(&browser))) ||
        FAILED(browser->QueryActiveShellView(&view)) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(&background))) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(&folderView))) ||
        FAILED(folderView->get_Application(&application)) ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(&shell))))
        return false;
    BSTR file = SysAllocString(AnsiToWide(Program).c_str());
    TBstrVariant folder(Folder), operation("open");
    VARIANT arguments, show;
    VariantInit(&arguments);
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    HRESULT result = shell->ShellExecute(file, arguments, folder.Get(), operation.Get(), show);
    SysFreeString(file);
    return SUCCEEDED(result);
}

bool (*DesktopShellExecute)(const std::string&, const std::string&) = DesktopShellExecuteThroughExplorer;

TLaunchPath StartAsDesktopUser(const std::string& Program) {
    std::string folder = Program.substr(0, Program.find_last_of('\\') + 1);
    if (DesktopShellExecute(Program, folder)) return TLaunchPath::DesktopShell;
    ShellExecuteA(nullptr, nullptr, Program.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return TLaunchPath::Direct;
}
