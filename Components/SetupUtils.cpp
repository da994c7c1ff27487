// Installer engine: the object itself, its folders and the install journal.
#include "Components/SetupUtils.h"

#include <sddl.h>

#include "Components/JournalFormat.h"
#include "Components/TargetGuard.h"
#include "Components/TargetLinks.h"
#include "app/Utils.h"
#include "support/FileSystem.h"
#include "support/PathUtils.h"
#include "support/UniqueResource.h"

TInstaller::TInstaller() : TInstaller(OpenRunningProgram(), RunningProgramPin()) {}

TInstaller::TInstaller(const std::string& PackageFile)
    : FPackage(std::make_unique<TPackageReader>(
          std::make_unique<TWinFileStream>(PackageFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING))) {}

TInstaller::TInstaller(std::unique_ptr<TStream> Package, const TPackagePin& Pin)
    : FPackage(Package ? std::make_unique<TPackageReader>(std::move(Package)) : nullptr), FPin(Pin) {}

TInstallerUI& TInstaller::UI() {
    // The program gives the engine its interface; without one there is nobody to ask.
    if (!FUI) throw EInstallException("The installer engine was given no user interface.");
    return *FUI;
}

TInstaller::~TInstaller() = default;

std::string FullPath(const std::string& Path) {
    char buffer[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(Path.c_str(), sizeof(buffer), buffer, nullptr);
    if (n == 0 || n >= sizeof(buffer))
        throw EInstallException(SysErrorMessage(n ? ERROR_FILENAME_EXCED_RANGE : GetLastError()));
    return std::string(buffer, n);
}

void TInstaller::SetTargetFolder(const std::string& Folder) {
    if (PathRoot(Folder).empty() || Folder.back() != '\\')
        throw EInstallException(
            Format("The target folder \"%s\" is not a full path ending in \"\\\".", Folder.c_str()));
    FTargetFolder = Folder;
}

void TInstaller::OpenJournal(const std::string& TargetFolder) {
    SetTargetFolder(TargetFolder);
    const std::string path = FTargetFolder + "install.log";
    RefuseLinksBelowTarget(FTargetFolder, path);
    FJournal.Open(path);
}

void TInstaller::WriteJournal(const std::string& Action, const std::string& Argument) {
    FJournal.Write(Action, Argument);
}

void TInstaller::JournalPendingFile(const std::string& Path) {
    // Written while the file's delete mark still holds, which is cleared after: a run killed
    // between the two leaves a line naming a file the mark took away (undone, it does
    // nothing), never a whole file that no line names.
    WriteJournal(Journal::CreateFile, Path);
    if (OnStep) OnStep(TStep::BeforeKeep);
}

void TInstaller::WriteJournalBanner(const std::string& Text) { FJournal.WriteBanner(Text); }

namespace {

// Setup's own folder (TargetFolderAcl): elevated installers run from below it. Made with its ACL in one step, so that
// nobody gets in before it is set.
bool CreateFolderWithOwnAcl(const std::string& Path) {
    TLocalMemory<void> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(TargetFolderAcl, SDDL_REVISION_1, descriptor.Out(),
                                                              nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.Get(), FALSE};
    return CreateDirectoryA(Path.c_str(), &attributes) != FALSE;
}

}  // namespace

bool TInstaller::ForceFolder(const std::string& Path) {
    // Until the engine has a target, the folder asked for is the target.
    bool target = FTargetFolder.empty() || SameTextAscii(NormalizeFolderPath(Path), FTargetFolder);
    // A link on the way would take the folders made below it anywhere: the
    // target's path has none, and none lies below it.
    const std::string base = target ? PathRoot(Path) : FTargetFolder;
    if (!base.empty() && !LinkBelow(base, Path).empty()) return false;
    return ForceFolderLevel(Path, false, target);
}

bool TInstaller::ForceFolderLevel(const std::string& Path, bool Nested, bool OwnAcl) {
    // An empty text, "C:" or a drive root is never a destination of its own;
    // as the end of the recursion an existing root will do.
    if (Path.size() <= 3) return Nested && !Path.empty() && FolderExists(Path);
    if (FolderExists(Path)) return true;
    // The system's code page: a double-byte character may end in 0x5C.
    std::string parent = ExtractParentFolderWith(Path, AnsiCharSet());
    if (parent == Path) return false;
    // Only the topmost folder made gets the ACL; an existing parent keeps its own.
    bool topmost = FolderExists(parent);
    if (!ForceFolderLevel(parent, true, OwnAcl)) return false;
    // Without its ACL the folder is not made: one that others could change must not pass for it.
    if (!(OwnAcl && topmost ? CreateFolderWithOwnAcl(Path) : CreateDirectoryA(Path.c_str(), nullptr))) return false;
    try {
        WriteJournal(Journal::CreateFolder, Path);
    } catch (const EInstallException&) {
        // Not journalled, so not made: the caller reports the folder.
        RemoveDirectoryA(Path.c_str());
        return false;
    }
    return true;
}

std::string TInstaller::GetTempFolder() const { return FTargetFolder + "temp\\"; }

bool TInstaller::JournalSaysSetupMadeIt(const std::string& Folder) {
    const std::string journal = Folder + "install.log";
    if (!LinkBelow(Folder, journal).empty() || !FileExists(journal)) return false;
    try {
        TWinFileStream file(journal, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        std::string text(static_cast<size_t>(file.Size()), '\0');
        file.ReadBuffer(text.data(), text.size());
        std::vector<std::string> lines = SplitJournalLines(text);
        for (std::string& line : lines) line = JournalLineToAnsi(line);
        return MayEmptyInstallFolder(lines, Folder, AnsiCharSet());
    } catch (const std::exception&) {
        return false;
    }
}

void TInstaller::HoldTarget(const std::string& Folder, bool MadeNow) {
    FTargetHold.Reset();
    TFileHandle held = HoldFolder(Folder);
    // One that setup has just made has its ACL from the moment it was made.
    if (!MadeNow) {
        const std::string why = WhyOthersCanChange(held.Get());
        if (!why.empty() && !JournalSaysSetupMadeIt(Folder))
            throw ETargetRefused(
                Format("Setup does not install into \"%s\": the folder exists already and %s, so "
                       "not only administrators can change what setup runs from it. Choose a new "
                       "folder, or one that only administrators can change.",
                       Folder.c_str(), why.c_str()));
        if (!why.empty() && !ProtectFolder(Folder))
            throw ETargetRefused(
                Format("Setup does not install into \"%s\": %s, and setup could not make it a "
                       "folder that only administrators can change.",
                       Folder.c_str(), why.c_str()));
    }
    FTargetHold = std::move(held);
}

void TInstaller::GuardTempFolder() {
    const std::string temp = GetTempFolder();
    RefuseLinksBelowTarget(FTargetFolder, temp);
    TFileHandle held = HoldFolder(temp);
    if (!WhyOthersCanChange(held.Get()).empty() && !ProtectFolder(temp))
        throw EInstallException(
            Format("Setup could not make \"%s\" a folder that only administrators can change.", temp.c_str()));
}
