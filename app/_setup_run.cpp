// The installation run of the wizard: from the components page to the finish page.
// The steps themselves are TInstallRun's; here is what the wizard shows between them.
#include "app/_setup.h"

#include <commctrl.h>

#include "app/InstallRun.h"
#include "app/Utils.h"

void TSetupForm::RunInstallation() {
    TComponentChoice speech;
    speech.SpeechApi = IsChecked(CmpCheckBox2);
    speech.TruVoice = IsChecked(CmpCheckBox3);
    speech.Tts3000 = IsChecked(CmpCheckBox4);
    TInstallRun run(*FInstaller, InstallLabel, InstallProgressBar);
    run.AllUsers = FAllUsers;
    run.OnListed = [this](bool InstallersToRun) {
        if (InstallersToRun) ShowMessageBox(RebootNotice, "Information", MB_OK | MB_ICONINFORMATION);
        FRebootNeeded = InstallersToRun;
        ShowPanel(InstallPanel);
    };
    run.Run(speech);
    FillCharactersList();
    if (CheckListCount(CharactersListBox) > 0)
        ShowPanel(CharactersPanel);
    else
        ShowDonePage();
}

void TSetupForm::FillCharactersList() {
    CheckListClear(CharactersListBox);
    FCharacterEntries = TInstallRun(*FInstaller, InstallLabel, InstallProgressBar).CharactersToOffer(FCharacterCount);
    for (const std::shared_ptr<IXMLCharacterType>& character : FCharacterEntries)
        CheckListAdd(CharactersListBox, WideToAnsi(character->Name()), character.get());
}

void TSetupForm::DownloadCharacters() {
    SendMessageA(InstallProgressBar, PBM_SETPOS, 0, 0);
    SetWindowTextA(InstallLabel, "");
    ShowPanel(InstallPanel);
    TInstallRun run(*FInstaller, InstallLabel, InstallProgressBar);
    for (int i = 0, n = CheckListCount(CharactersListBox); i < n; ++i) {
        if (!CheckListChecked(CharactersListBox, i)) continue;
        run.FetchCharacter(*static_cast<IXMLCharacterType*>(CheckListObject(CharactersListBox, i)));
        ++FCharacterCount;
    }
    ShowDonePage();
}
