#include "app/_setup.h"

#include <shellapi.h>
#include <shlobj.h>

#include "app/DesktopLaunch.h"
#include "app/InstallRun.h"
#include "app/InstallerUI.h"
#include "app/Utils.h"
#include "support/TextUtils.h"
#include "support/UniqueResource.h"
#include "support/VersionInfo.h"

namespace {

const char* const DesignCaption = "Orvand Setup ";

const COLORREF InstalledColor = RGB(0, 128, 0);
const COLORREF MissedColor = RGB(255, 0, 0);

using THandler = void (TSetupForm::*)();

struct TClickBinding {
    const char* Control;
    THandler Handler;
};

const TClickBinding ClickBindings[] = {
    {"FirstNexButton", &TSetupForm::FirstNexButtonClick},
    {"FirstCancelButton", &TSetupForm::CloseButtonClick},
    {"AgreeCheckBox", &TSetupForm::AgreeCheckBoxClick},
    {"LicenseNextButton", &TSetupForm::LicenseNextButtonClick},
    {"LicenseCancelButton", &TSetupForm::CloseButtonClick},
    {"BrowseFolderButton", &TSetupForm::BrowseFolderButtonClick},
    {"LocationNextButton", &TSetupForm::LocationNextButtonClick},
    {"LocationCancelButton", &TSetupForm::CloseButtonClick},
    {"CmpCheckBox2", &TSetupForm::CmpCheckBox2Click},
    {"CmpCheckBox3", &TSetupForm::CmpCheckBox3Click},
    {"CmpCheckBox4", &TSetupForm::CmpCheckBox4Click},
    {"ComponentsNextButton", &TSetupForm::ComponentsNextButtonClick},
    {"ComponentsCancelButton", &TSetupForm::CloseButtonClick},
    {"InstallCancelButton", &TSetupForm::CloseButtonClick},
    {"CharactersNextButton", &TSetupForm::CharactersNextButtonClick},
    {"CharactersCancelButton", &TSetupForm::CloseButtonClick},
    {"FinishButton", &TSetupForm::FinishButtonClick},
};

// The licence travels as resource "LICENSE" with LF line ends; the memo wants CR LF.
std::string LicenceText() {
    HRSRC info = FindResourceA(nullptr, "LICENSE", MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (!info) return std::string();
    HGLOBAL data = LoadResource(nullptr, info);
    const char* text = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (!text) return std::string();
    return WithCrLf(std::string(text, SizeofResource(nullptr, info)));
}

bool IsPushButton(HWND Window) {
    char cls[16];
    if (!GetClassNameA(Window, cls, sizeof(cls)) || lstrcmpiA(cls, "Button") != 0) return false;
    LONG type = GetWindowLongA(Window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

}  // namespace

TSetupForm::TSetupForm(std::unique_ptr<TStream> Package) : FPackage(std::move(Package)) {
    CreateHandle("TSetupForm", DesignCaption, WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT,
                 SetupClientWidth, SetupClientHeight, Application.Handle());
    FControls.Build(Handle(), SetupFormLayout());
    FirstPanel = FControls["FirstPanel"];
    LicensePanel = FControls["LicensePanel"];
    LocationPanel = FControls["LocationPanel"];
    ComponentsPanel = FControls["ComponentsPanel"];
    InstallPanel = FControls["InstallPanel"];
    CharactersPanel = FControls["CharactersPanel"];
    DonePanel = FControls["DonePanel"];
    AgreeInfoMemo = FControls["AgreeInfoMemo"];
    AgreeCheckBox = FControls["AgreeCheckBox"];
    LicenseNextButton = FControls["LicenseNextButton"];
    LocationEdit = FControls["LocationEdit"];
    CmpLabel1 = FControls["CmpLabel1"];
    CmpLabel2 = FControls["CmpLabel2"];
    CmpLabel3 = FControls["CmpLabel3"];
    CmpLabel4 = FControls["CmpLabel4"];
    CmpCheckBox2 = FControls["CmpCheckBox2"];
    CmpCheckBox3 = FControls["CmpCheckBox3"];
    CmpCheckBox4 = FControls["CmpCheckBox4"];
    InstallLabel = FControls["InstallLabel"];
    InstallProgressBar = FControls["InstallProgressBar"];
    CharactersListBox = FControls["CharactersListBox"];
    RunCheckBox = FControls["RunCheckBox"];
    RebootCheckBox = FControls["RebootCheckBox"];
    SetWindowTextA(AgreeInfoMemo, LicenceText().c_str());
    // Red until the components page sets the status.
    for (HWND label : {CmpLabel1, CmpLabel2, CmpLabel3, CmpLabel4}) FControls.SetTextColor(label, MissedColor);
}

TSetupForm::~TSetupForm() { FormDestroy(); }

void TSetupForm::FormCreate() {
    FInstaller =
        std::make_unique<TInstaller>(FPackage ? std::move(FPackage) : OpenRunningProgram(), RunningProgramPin());
    FInstaller->SetUI(&ApplicationUI());
    if (!FInstaller->VerifyPackage()) {
        ShowError("The Orvand distributive was damaged");
        Application.Halt();
    }
    Application.SetTitle(DesignCaption);
    auto version = GetAppVersionInfo();
    SetCaption(Caption() + " - Version " + version->GetProductVersion() + "." + version->GetProductRevision());
    Application.OnException = [this](const std::exception& E) { ApplicationException(E); };
    SetWindowTextA(LocationEdit, ProposedDestination().c_str());
    ShowPanel(FirstPanel);
}

bool TSetupForm::FormClose() {
    return ShowMessageBox("Are you sure you want to quit Orvand setup?", "Confirm", MB_YESNO | MB_ICONQUESTION) ==
           IDYES;
}

void TSetupForm::AgreeCheckBoxClick() { EnableWindow(LicenseNextButton, TRUE); }

void TSetupForm::CloseButtonClick() { SendMessageA(Handle(), WM_CLOSE, 0, 0); }

void TSetupForm::BrowseFolderButtonClick() {
    TPidl root;
    SHGetSpecialFolderLocation(Handle(), CSIDL_DRIVES, root.Out());
    BROWSEINFOA info{};
    info.hwndOwner = Handle();
    info.pidlRoot = root.Get();
    info.lpszTitle = "Select the folder to install Orvand in:";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    TPidl picked(SHBrowseForFolderA(&info));
    if (picked) {
        char path[MAX_PATH] = "";
        if (SHGetPathFromIDListA(picked.Get(), path)) SetWindowTextA(LocationEdit, PickedDestination(path).c_str());
    }
}

void TSetupForm::FinishButtonClick() {
    if (IsChecked(RebootCheckBox)) {
        RebootComputer();
    } else if (IsChecked(RunCheckBox)) {
        StartAsDesktopUser(FInstaller->TargetFolder() + "orvand.exe");
    }
    // Ends without closing the window, so without the close question.
    Application.Terminate();
}

void TSetupForm::FormDestroy() { FInstaller.reset(); }

void TSetupForm::ComponentsNextButtonClick() { RunInstallation(); }

void TSetupForm::LicenseNextButtonClick() {
    ShowPanel(LocationPanel);
    SetFocus(LocationEdit);
}

void TSetupForm::ShowPanel(HWND Page) {
    for (HWND page :
         {FirstPanel, LicensePanel, ComponentsPanel, LocationPanel, InstallPanel, DonePanel, CharactersPanel})
        if (page != Page) ShowWindow(page, SW_HIDE);
    ShowWindow(Page, SW_SHOW);
    // The keyboard stays on the page: Enter and Esc must reach its buttons.
    HWND focus = GetFocus();
    if (!focus || !IsChild(Page, focus)) {
        FLastFocus = nullptr;
        FocusPage();
    }
    Application.ProcessMessages();
}

void TSetupForm::FirstNexButtonClick() { ShowPanel(LicensePanel); }

void TSetupForm::LocationNextButtonClick() {
    const std::string folder = TypedDestination(ControlText(LocationEdit));
    SetWindowTextA(LocationEdit, folder.c_str());
    bool prepared = false;
    try {
        prepared = PrepareTarget(*FInstaller, folder);
        if (!prepared) ShowError("Could not create distination folder");
    } catch (const ETargetRefused& e) {
        // Another folder may do: the page stays.
        ShowError(e.Message());
    }
    if (!prepared) {
        SetFocus(LocationEdit);
        return;
    }
    ShowComponentsPage();
}

void TSetupForm::CmpCheckBox2Click() {
    if (FInstaller->IsSpeechApiInstalled()) return;
    if (!IsChecked(CmpCheckBox2)) {
        SetChecked(CmpCheckBox3, false);
        SetChecked(CmpCheckBox4, false);
    }
}

void TSetupForm::CmpCheckBox3Click() {
    if (FInstaller->IsSpeechApiInstalled()) return;
    if (IsChecked(CmpCheckBox3)) SetChecked(CmpCheckBox2, true);
}

void TSetupForm::CmpCheckBox4Click() {
    if (FInstaller->IsSpeechApiInstalled()) return;
    if (IsChecked(CmpCheckBox4)) SetChecked(CmpCheckBox2, true);
}

void TSetupForm::CharactersNextButtonClick() {
    for (int i = 0, n = CheckListCount(CharactersListBox); i < n; ++i)
        if (CheckListChecked(CharactersListBox, i)) ++FCharacterCount;
    if (FCharacterCount == 0) {
        ShowError("At least one of Orvand Character should be installed");
        return;
    }
    DownloadCharacters();
}

void TSetupForm::ApplicationException(const std::exception& E) {
    ShowMessageBox(ExceptionMessageText(E.what()), Application.Title(), MB_OK | MB_ICONSTOP);
    Application.Halt();
}

void TSetupForm::ShowComponentsPage() {
    ShowComponentStatus(FInstaller->IsAgentRuntimeInstalled(), "MSagent.exe", CmpLabel1, nullptr);
    ShowComponentStatus(FInstaller->IsSpeechApiInstalled(), "spchapi.exe", CmpLabel2, CmpCheckBox2);
    ShowComponentStatus(FInstaller->IsTruVoiceEngineInstalled(), "tv_enua.exe", CmpLabel3, CmpCheckBox3);
    ShowComponentStatus(FInstaller->IsTts3000EngineInstalled(), "lhttseng.exe", CmpLabel4, CmpCheckBox4);
    ShowPanel(ComponentsPanel);
}

void TSetupForm::ShowComponentStatus(bool Installed, const std::string& FileName, HWND StatusLabel, HWND CheckBox) {
    if (CheckBox) SetChecked(CheckBox, !Installed);
    FControls.SetText(StatusLabel, ComponentStatusText(Installed, FInstaller->PackageContains(FileName)));
    FControls.SetTextColor(StatusLabel, Installed ? InstalledColor : MissedColor);
}

void TSetupForm::ShowDonePage() {
    ShowWindow(RunCheckBox, FRebootNeeded ? SW_HIDE : SW_SHOW);
    SetCheckState(RunCheckBox, !FRebootNeeded);
    ShowWindow(RebootCheckBox, FRebootNeeded ? SW_SHOW : SW_HIDE);
    SetCheckState(RebootCheckBox, FRebootNeeded);
    ShowPanel(DonePanel);
}

void TSetupForm::SetChecked(HWND CheckBox, bool Checked) {
    if (IsChecked(CheckBox) == Checked) return;
    SetCheckState(CheckBox, Checked);
    Clicked(GetDlgCtrlID(CheckBox));
}

void TSetupForm::Clicked(int ControlId) {
    const TControlDef* def = FindSetupControl(ControlId);
    if (!def) return;
    for (const TClickBinding& binding : ClickBindings)
        if (lstrcmpA(binding.Control, def->Name) == 0) (this->*binding.Handler)();
}

HWND TSetupForm::VisiblePage() const {
    for (HWND page :
         {FirstPanel, LicensePanel, LocationPanel, ComponentsPanel, InstallPanel, CharactersPanel, DonePanel})
        if (IsWindowVisible(page)) return page;
    return nullptr;
}

HWND TSetupForm::PageButton(TControlFlag Flag) const {
    HWND page = VisiblePage();
    const TControlDef* pageDef = page ? FControls.Definition(page) : nullptr;
    const TControlDef* button = pageDef ? ::PageButton(*pageDef, Flag) : nullptr;
    return button ? FControls[button->Name] : nullptr;
}

void TSetupForm::FocusPage() {
    HWND page = VisiblePage();
    if (!page) return;
    HWND target = FLastFocus;
    if (!target || !IsChild(page, target) || !IsWindowVisible(target) || !IsWindowEnabled(target)) {
        target = PageButton(cfDefault);
        if (!target || !IsWindowEnabled(target)) target = GetNextDlgTabItem(page, nullptr, FALSE);
    }
    if (target) SetFocus(target);
}

void TSetupForm::ShowError(const std::string& Text) { ShowMessageBox(Text, "Error", MB_OK | MB_ICONERROR); }

LRESULT TSetupForm::WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) {
    switch (Msg) {
        case WM_CLOSE:
            if (!FormClose()) return 0;
            break;
        case WM_COMMAND:
            if (HIWORD(WParam) == BN_CLICKED) {
                if (LOWORD(WParam) != IDCANCEL) {
                    // A click queued before its page was left (a double click) is not acted on.
                    const TControlDef* def = FindSetupControl(LOWORD(WParam));
                    HWND page = def ? FControls[SetupControlPage(*def)->Name] : nullptr;
                    if (page && page == VisiblePage()) Clicked(LOWORD(WParam));
                } else if (HWND button = PageButton(cfCancel)) {
                    // Esc presses the page's cancel button, and only one the user could press.
                    if (IsWindowEnabled(button) && IsWindowVisible(button)) Clicked(GetDlgCtrlID(button));
                }
                return 0;
            }
            break;
        case DM_GETDEFID: {
            // A focused push button is pressed by Enter, as in a dialog; otherwise the page's default one.
            HWND focus = GetFocus();
            HWND page = VisiblePage();
            HWND button = focus && page && IsChild(page, focus) && IsPushButton(focus) ? focus : PageButton(cfDefault);
            return button ? MAKELRESULT(GetDlgCtrlID(button), DC_HASDEFID) : 0;
        }
        case WM_ACTIVATE:
            if (LOWORD(WParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                FLastFocus = focus && IsChild(Handle(), focus) ? focus : nullptr;
            }
            break;
        case WM_SETFOCUS:
            FocusPage();
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
            if (HBRUSH brush = FControls.ControlColor(reinterpret_cast<HWND>(LParam), reinterpret_cast<HDC>(WParam)))
                return reinterpret_cast<LRESULT>(brush);
            break;
    }
    return TForm::WndProc(Msg, WParam, LParam);
}
