// The wizard's steps that work with the setup configuration and fetch files
// from the distributors. The engine's configuration refresh, FetchFile and
// GetConfiguration are called from these four places only.
#include "app/_setup.h"

#include <commctrl.h>

#include "Components/PackageFormat.h"
#include "app/PathUtils.h"
#include "app/Utils.h"

namespace {

const char* const DataFolder = "data\\";

bool FileExists(const std::string& Path) {
    DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void TSetupForm::RefreshConfiguration() { FInstaller->RefreshConfiguration(); }

void TSetupForm::FetchPrerequisites(const std::vector<TPrerequisite>& Prerequisites) {
    for (const TPrerequisite& item : Prerequisites)
        if (!item.InPackage)
            FInstaller->FetchFile(item.InstallerName, FInstaller->GetTempFolder() + item.InstallerName, InstallLabel,
                                  InstallProgressBar);
}

void TSetupForm::FillCharactersList() {
    FCharacterCount = 0;
    CheckListClear(CharactersListBox);
    FCharacterEntries.clear();
    std::shared_ptr<IXMLAgentcharactersType> characters = FInstaller->GetConfiguration()->AgentCharacters();
    const TFileDataDynArray& directory = FInstaller->ReadPackageDirectory();
    for (int i = 0, n = characters->Count(); i < n; ++i) {
        std::shared_ptr<IXMLCharacterType> character = characters->Character(i);
        // The name comes from the network: one that could leave the data folder is neither looked for nor offered.
        if (!HasBareFileName(*character)) continue;
        const std::string fileName = WideToAnsi(character->FileName());
        bool present = FileExists(FInstaller->FTargetFolder + DataFolder + fileName);
        for (const TFileData& entry : directory) present = present || SameTextAscii(EntryName(entry), fileName);
        if (present) {
            ++FCharacterCount;
            continue;
        }
        FCharacterEntries.push_back(character);
        CheckListAdd(CharactersListBox, WideToAnsi(character->Name()), character.get());
    }
}

void TSetupForm::DownloadCharacters() {
    SendMessageA(InstallProgressBar, PBM_SETPOS, 0, 0);
    SetWindowTextA(InstallLabel, "");
    ShowPanel(InstallPanel);
    for (int i = 0, n = CheckListCount(CharactersListBox); i < n; ++i) {
        if (!CheckListChecked(CharactersListBox, i)) continue;
        auto* character = static_cast<IXMLCharacterType*>(CheckListObject(CharactersListBox, i));
        const std::string fileName = WideToAnsi(character->FileName());
        FInstaller->FetchFile(fileName, FInstaller->FTargetFolder + DataFolder + fileName, InstallLabel,
                              InstallProgressBar);
        ++FCharacterCount;
    }
    ShowDonePage();
}
