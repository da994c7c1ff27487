#pragma once
// The installer engine and the uninstaller engine.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Components/JournalWriter.h"
#include "Components/PackageFormat.h"
#include "Components/SetupPaths.h"
#include "Components/SetupStructs.h"
#include "config/setup_xml.h"
#include "support/FileStreams.h"
#include "support/UniqueResource.h"

// What the engines need from the user interface. The program gives its own
// (message boxes and the application's event loop, from app/); tests give theirs.
class TInstallerUI {
public:
    virtual ~TInstallerUI() = default;
    // Yes/No question box with the question icon; true for Yes.
    virtual bool Confirm(const std::string& Text, const std::string& Caption) = 0;
    // Error box with an OK button.
    virtual void ShowError(const std::string& Text, const std::string& Caption) = 0;
    virtual void ProcessMessages() = 0;
    virtual bool Terminated() = 0;
    // Ends the program at once.
    [[noreturn]] virtual void Halt() = 0;
    virtual HWND MainWindow() = 0;
};

// Asked by extraction before it replaces the brains a previous installation left.
extern const char* const BrainsQuestion;

// The uninstall entry's values beyond its name and command, for the system's list of programs.
struct TUninstallDetails {
    std::string DisplayVersion;
    std::string Publisher;
    std::string DisplayIcon;
    std::string InstallLocation;
    uint32_t EstimatedSizeKiB = 0;
    std::string URLInfoAbout;
};

// The running program's own file, opened for reading and shared with readers
// only: while it is open nobody can write, rename or delete it. Null when it
// cannot be opened so. The program opens it first thing and hands it to the engine.
std::unique_ptr<TStream> OpenRunningProgram();
// The package pin of the running program, as its mapped image holds it, and where
// its bytes lie in the program's file.
TPackagePin RunningProgramPin();

class TInstaller {
public:
    // The running program's own file as the package, checked against its pin.
    TInstaller();
    // Another file as the package, shared with readers only, with no pin (the
    // packer's checks and the tests use it).
    explicit TInstaller(const std::string& PackageFile);
    // Package as the package (null: none could be opened, so it does not
    // verify), checked against Pin when that is filled.
    TInstaller(std::unique_ptr<TStream> Package, const TPackagePin& Pin);
    // Closes the journal, then the package.
    virtual ~TInstaller();
    TInstaller(const TInstaller&) = delete;
    TInstaller& operator=(const TInstaller&) = delete;

    // Journal. OpenJournal makes TargetFolder the target (see SetTargetFolder).
    void OpenJournal(const std::string& TargetFolder);
    void WriteJournal(const std::string& Action, const std::string& Argument);
    void WriteJournalBanner(const std::string& Text);

    // Folders. ForceFolder answers False instead of raising. The topmost folder
    // it makes for the target (before the journal names one, or the target
    // itself) gets setup's own protected ACL; folders below inherit it.
    // Nothing is made through a link: below the target, or anywhere on the
    // target's own path (False then).
    bool ForceFolder(const std::string& Path);
    std::string GetTempFolder() const;
    // Holds the target folder (Folder, full as PrepareTarget made it) for the
    // rest of the run, so that it cannot be renamed away, and raises
    // ETargetRefused when it is a link, a link lies on its way, or it existed
    // before (MadeNow false) and others than the administrators can change it.
    // Such a folder whose own journal says setup made it is given setup's ACL
    // again instead: an earlier installation.
    void HoldTarget(const std::string& Folder, bool MadeNow);
    // temp\, where the installers run from, is setup's own: one that others can
    // change is given setup's ACL before anything is written into it.
    void GuardTempFolder();

    // Distribution package.
    bool VerifyPackage();
    const TFileDataDynArray& ReadPackageDirectory();
    void ExtractEntry(const TFileData& Entry);
    void ExtractPackage(HWND StatusLabel, HWND ProgressBar);
    bool PackageContains(const std::string& FileName);

    // Registration.
    void CreateShortcut(int FolderId, const std::string& TargetPath, const std::string& Arguments,
                        const std::string& LinkName, const std::string& SubFolder);
    void WriteRegistryString(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                             const std::string& Value, bool CreateKey);
    // A number value (REG_DWORD), journalled as a string value is.
    void WriteRegistryNumber(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName, uint32_t Value,
                             bool CreateKey);
    // "DisplayName" and "UninstallString", then the details, "NoModify" and "NoRepair",
    // and last "QuietUninstallString": the program with " -remove -silent", whatever Arguments.
    void WriteUninstallEntry(const std::string& DisplayName, const std::string& ProgramPath,
                             const std::string& Arguments, const TUninstallDetails& Details);
    // Under Root's Run key: HKEY_CURRENT_USER, or HKEY_LOCAL_MACHINE for every user.
    void WriteAutostartEntry(const std::string& ProgramPath, HKEY Root = HKEY_CURRENT_USER);
    void AddMenuExtension(const std::string& MenuText, const std::string& ScriptPath, int32_t Contexts);
    void RegisterComLibrary(const std::string& LibraryPath);

    // Processes and prerequisite components.
    // Opens an installer denying writes and deletes and checks it through that
    // handle: against the package's copy where the package ships it, else
    // against the digest the packaged configuration lists for its name; without
    // one it does not run. It stays held until RunAndWait has started it. A file
    // that cannot be held or differs ends the program after the "CRC Error." box.
    void HoldInstaller(const std::string& ProgramPath);
    // Starts the program in its own folder and waits for its end. The program
    // file is held against writes and deletes until CreateProcess has returned:
    // through HoldInstaller's handle, else through one opened here. Its TEMP and
    // TMP are the target's temp folder, which only administrators can change.
    void RunAndWait(const std::string& ProgramPath, const std::string& CommandLine);
    bool IsAgentRuntimeInstalled();
    bool IsSpeechApiInstalled();
    bool IsTruVoiceEngineInstalled();
    bool IsTts3000EngineInstalled();

    // Setup configuration and files from the distributors.
    std::shared_ptr<IXMLSetupType> GetConfiguration();
    void RefreshConfiguration();
    void FetchFile(const std::string& FileName, const std::string& DestPath, HWND StatusLabel, HWND ProgressBar);
    bool CheckFileDigest(const std::string& FileName, const std::string& ExpectedHex);

    // The interface the engine asks and reports through; it must outlive the engine.
    void SetUI(TInstallerUI* UI) { FUI = UI; }
    TInstallerUI& UI();

    // The target folder. Invariant: absolute and ending in "\", made so once, from
    // what the user typed, by the preparation (PrepareTarget, through FullPath);
    // every path the engine builds in the target starts with it as it is, and
    // nothing derives it again. Empty until set: by OpenJournal, or here for a
    // run whose journal lines wait in PendingJournal. A folder that breaks the
    // invariant raises EInstallException.
    const std::string& TargetFolder() const { return FTargetFolder; }
    void SetTargetFolder(const std::string& Folder);
    // The journal's lines written before OpenJournal, which then writes them to the file.
    const std::string& PendingJournal() const { return FJournal.Pending(); }
    // Those lines, which are then no longer pending.
    std::string TakePendingJournal() { return FJournal.TakePending(); }
    // True once the user let extraction replace the brains of a previous installation.
    bool ReplacesBrains() const { return FReplaceBrains; }
    // Bytes of the files ExtractPackage has written, for the uninstall entry's size.
    uint64_t ExtractedBytes() const { return FExtractedBytes; }
    // Whether GetConfiguration has a configuration at hand, read since the last refresh.
    bool HasConfiguration() const { return FConfiguration != nullptr; }

    // Test seam, empty in the program: called right after each journal line is
    // written, after each block an extraction writes and after each block a
    // download writes, so that a test can stop the run at an exact point.
    // BeforeKeep: a written file is journalled, its delete mark not yet cleared.
    enum class TStep { JournalLine, Block, Download, BeforeKeep };
    std::function<void(TStep)> OnStep;
    // Test seam: the journal's lines go to Journal from now on (a file that
    // refuses writes, say).
    void ReplaceJournal(std::unique_ptr<TWinFileStream> Journal) { FJournal.Replace(std::move(Journal)); }

private:
    // Null when the program's file could not be opened: it does not verify.
    std::unique_ptr<TPackageReader> FPackage;
    TPackagePin FPin;
    // Declared after the package, so closed before it.
    TJournalWriter FJournal{[this] {
        if (OnStep) OnStep(TStep::JournalLine);
    }};
    TFileHandle FTargetHold;
    std::string FTargetFolder;
    bool FReplaceBrains = false;
    uint64_t FExtractedBytes = 0;
    std::shared_ptr<IXMLSetupType> FConfiguration;
    TPackageReader& Package();
    const TFileData* FindPackageEntry(const std::string& Name);
    std::shared_ptr<IXMLSetupType> PackagedConfiguration();
    bool PackagedDigest(const std::string& FileName, std::string& Digest);
    bool ExpectedDigest(const std::string& FileName, std::string& Digest);
    // Journalled: the whole file gets its journal line before it is kept.
    bool Download(const std::string& Url, const std::string& FileName, std::string& ErrorText, HWND ProgressWindow,
                  bool Journalled);
    // The journal line of a file written with a delete mark that is not cleared yet.
    void JournalPendingFile(const std::string& Path);
    // The configuration as packaged: its digests are the ones checked.
    std::shared_ptr<IXMLSetupType> FPackagedConfiguration;
    bool FPackagedConfigurationRead = false;
    bool ForceFolderLevel(const std::string& Path, bool Nested, bool OwnAcl);
    bool JournalSaysSetupMadeIt(const std::string& Folder);
    // Installers held since their check, by lower-case path.
    std::map<std::string, std::unique_ptr<TWinFileStream>> FHeldInstallers;
    TInstallerUI* FUI = nullptr;
};

// Free routines of the engine unit.
// Path made absolute against the current folder, its "." and ".." parts resolved
// and "/" made "\", as the system resolves it (GetFullPathName); a folder keeps
// its final "\". EInstallException with the system's message when it cannot be.
std::string FullPath(const std::string& Path);
std::string GetProgramFilesFolder();
// The shell's folder of that CSIDL; empty where there is none.
std::string SpecialFolderPath(int FolderId);
std::string ReadRegistryString(HKEY RootKey, const std::string& SubKey, const std::string& ValueName);
std::string ExpandEnvironment(const std::string& Text);
bool CloseRunningInstance();
// Takes out of the deletions due at the next restart (PendingFileRenameOperations)
// those of Folder (ending in "\") and of what lies inside it, and answers their
// paths: a removal leaves its own uninstaller and folder there, which a new
// installation into the folder must keep.
std::vector<std::string> DropRestartDeletions(const std::string& Folder);
void RebootComputer();

// The system calls behind RebootComputer; tests replace them so that nothing restarts.
struct TRebootCalls {
    DWORD (*PlatformId)();
    BOOL (*OpenProcessToken)(DWORD Access, HANDLE* Token);
    BOOL (*LookupPrivilegeValue)(const char* Name, LUID* Luid);
    BOOL (*AdjustTokenPrivileges)(HANDLE Token, TOKEN_PRIVILEGES* NewState);
    DWORD (*GetLastError)();
    BOOL (*ExitWindowsEx)(UINT Flags);
    BOOL (*CloseHandle)(HANDLE Handle);
};
extern TRebootCalls RebootCalls;

class TUninstaller {
public:
    // Uninstalls the program's own folder, ProgramFolder.
    TUninstaller();
    // Uninstalls another folder (given with a trailing "\"); the tests use it.
    explicit TUninstaller(std::string InstallFolder);
    void Uninstall();
    bool UndoCreateFolder(const std::string& Path);
    bool UndoCreateFile(const std::string& Path);
    void UndoCreateRegKey(const std::string& Argument);
    void UndoCreateRegValue(const std::string& Argument);
    void UnregisterServer(const std::string& LibraryPath);
    void DeleteFolderTree(const std::string& Folder);

private:
    std::string FInstallFolder;
};
