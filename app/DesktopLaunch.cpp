#include "app/DesktopLaunch.h"

#include <windows.h>

#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "app/Utils.h"
#include "support/Logging.h"
#include "support/PathUtils.h"
#include "support/UniqueResource.h"

bool DesktopShellExecuteThroughExplorer(const std::string& Program, const std::string& Folder) {
    // The desktop window's view, its background object, and from it the shell's own
    // automation object, which runs in the desktop's process.
    TComRef<IShellWindows> windows;
    if (FAILED(
            CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.OutVoid())))
        return false;
    VARIANT empty;
    VariantInit(&empty);
    long window = 0;
    TComRef<IDispatch> desktop;
    if (windows->FindWindowSW(&empty, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Out()) != S_OK ||
        !desktop)
        return false;
    TComRef<IServiceProvider> services;
    TComRef<IShellBrowser> browser;
    TComRef<IShellView> view;
    TComRef<IDispatch> background;
    TComRef<IShellFolderViewDual> folderView;
    TComRef<IDispatch> application;
    TComRef<IShellDispatch2> shell;
    if (FAILED(desktop->QueryInterface(IID_IServiceProvider, services.OutVoid())) ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.OutVoid())) ||
        FAILED(browser->QueryActiveShellView(view.Out())) ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.OutVoid())) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.OutVoid())) ||
        FAILED(folderView->get_Application(application.Out())) ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.OutVoid())))
        return false;
    TBStr file(SysAllocString(AnsiToWide(Program).c_str()));
    TVariant folder(SysAllocString(AnsiToWide(Folder).c_str())), operation(SysAllocString(L"open"));
    VARIANT arguments, show;
    VariantInit(&arguments);
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    HRESULT result = shell->ShellExecute(file.Get(), arguments, folder.Get(), operation.Get(), show);
    return SUCCEEDED(result);
}

bool (*DesktopShellExecute)(const std::string&, const std::string&) = DesktopShellExecuteThroughExplorer;

TLaunchPath StartAsDesktopUser(const std::string& Program) {
    std::string folder = Program.substr(0, FileNameStart(Program, AnsiCharSet()));
    if (DesktopShellExecute(Program, folder)) return TLaunchPath::DesktopShell;
    // Started by setup it would run as administrator on the user's desktop.
    GetLog()->Debug("No desktop shell took the start of " + Program +
                    ", so it was not started; its Run value starts it at the next logon.");
    return TLaunchPath::None;
}
