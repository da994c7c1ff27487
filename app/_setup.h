#pragma once
// The setup wizard window: seven pages in one client area, moving forward only.
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "Components/SetupUtils.h"
#include "app/Application.h"
#include "app/Controls.h"
#include "app/SetupRules.h"

class TSetupForm : public TForm {
public:
    // Creates the window and its pages; FormCreate, called next, decides whether it is shown.
    // Package: the program's own file as OpenRunningProgram opened it first thing
    // (none: FormCreate opens it).
    explicit TSetupForm(std::unique_ptr<TStream> Package = nullptr);
    ~TSetupForm() override;

    // Published handlers, in declaration order.
    void FormCreate();
    // Answers whether the window may close.
    bool FormClose();
    void AgreeCheckBoxClick();
    void CloseButtonClick();
    void BrowseFolderButtonClick();
    void FinishButtonClick();
    void FormDestroy();
    void ComponentsNextButtonClick();
    void LicenseNextButtonClick();
    void ShowPanel(HWND Page);
    void FirstNexButtonClick();
    void LocationNextButtonClick();
    void CmpCheckBox2Click();
    void CmpCheckBox3Click();
    void CmpCheckBox4Click();
    void CharactersNextButtonClick();

    void ApplicationException(const std::exception& E);
    void ShowComponentsPage();
    void RunInstallation();
    void FillCharactersList();
    void ShowDonePage();

    // The pages and the controls the handlers use; the others are found by name in FControls.
    TControls FControls;
    HWND FirstPanel, LicensePanel, LocationPanel, ComponentsPanel, InstallPanel, CharactersPanel, DonePanel;
    HWND AgreeInfoMemo, AgreeCheckBox, LicenseNextButton;
    HWND LocationEdit;
    HWND CmpLabel1, CmpLabel2, CmpLabel3, CmpLabel4, CmpCheckBox2, CmpCheckBox3, CmpCheckBox4;
    HWND InstallLabel, InstallProgressBar;
    HWND CharactersListBox;
    HWND RunCheckBox, RebootCheckBox;

    std::unique_ptr<TInstaller> FInstaller;
    int FCharacterCount = 0;
    bool FRebootNeeded = false;
    // install.exe -allusers: the run registers the product for every user.
    bool FAllUsers = false;

protected:
    LRESULT WndProc(UINT Msg, WPARAM WParam, LPARAM LParam) override;

private:
    void ShowComponentStatus(bool Installed, const std::string& FileName, HWND StatusLabel, HWND CheckBox);
    // Sets a check box as a click would, running its handler when the state changes.
    void SetChecked(HWND CheckBox, bool Checked);
    void Clicked(int ControlId);
    HWND VisiblePage() const;
    // The button Enter (cfDefault) or Esc (cfCancel) presses on the visible page.
    HWND PageButton(TControlFlag Flag) const;
    // Gives the keyboard to the visible page: the control that had it last, else the default button.
    void FocusPage();
    void ShowError(const std::string& Text);
    void DownloadCharacters();

    HWND FLastFocus = nullptr;
    std::unique_ptr<TStream> FPackage;
    // The configuration's entries behind the characters list's items.
    std::vector<std::shared_ptr<IXMLCharacterType>> FCharacterEntries;
};
