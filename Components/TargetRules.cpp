#include "Components/TargetRules.h"

#include "support/PathUtils.h"

using namespace SetupNames;

namespace {

bool IsAdministrator(const std::string& Sid) {
    return Sid == SystemSid || Sid == AdministratorsSid || Sid == TrustedInstallerSid;
}

// Stand-ins resolved when a file is made, or for the owner: they add nobody.
bool IsStandIn(const std::string& Sid) { return Sid == "S-1-3-0" || Sid == "S-1-3-4"; }

// Write, append, delete, delete children, change the DACL or the owner, and the
// generic rights that hold them.
const uint32_t ChangeRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
const uint8_t DeniedAceType = 1, DeniedObjectAceType = 6, DeniedCallbackAceType = 10, DeniedCallbackObjectAceType = 12;

bool Denies(uint8_t Type) {
    return Type == DeniedAceType || Type == DeniedObjectAceType || Type == DeniedCallbackAceType ||
           Type == DeniedCallbackObjectAceType;
}

// Path lies below Folder (which ends in a separator), with no "." or ".." part
// and no ":" on the way; Depth counts its parts below Folder.
bool LiesBelow(const std::string& Folder, const std::string& Path, const TCharSet& Chars, size_t* Depth = nullptr) {
    std::vector<std::string> steps = PathsBelowFolder(Folder, Path, Chars);
    if (steps.empty() || Path.find(':', Folder.size()) != std::string::npos) return false;
    for (const std::string& step : steps) {
        std::string part = step.substr(FileNameStart(step, Chars));
        if (part.empty() || part == "." || part == "..") return false;
    }
    if (Depth) *Depth = steps.size();
    return true;
}

bool WithinFolder(const std::string& Folder, const std::string& Path, const TCharSet& Chars) {
    return SameFolderPath(Folder, Path, Chars) || LiesBelow(Folder, Path, Chars);
}

TUndo UndoOfFile(const std::string& Path, const TReplayScope& Scope, const TCharSet& Chars) {
    if (LiesBelow(Scope.InstallFolder, Path, Chars)) return TUndo::Undo;
    for (const std::string& folder : Scope.ShortcutFolders) {
        size_t depth = 0;
        if (LiesBelow(folder, Path, Chars, &depth) && depth == 1) return TUndo::Undo;
    }
    return TUndo::Skip;
}

TUndo UndoOfFolder(const std::string& Path, const TReplayScope& Scope, const TCharSet& Chars) {
    const std::string folder = NormalizeFolderPathWith(Path, Chars);
    if (IsRootFolder(folder, Chars)) return TUndo::Skip;
    if (WithinFolder(Scope.InstallFolder, folder, Chars)) return TUndo::Undo;
    for (const std::string& shortcuts : Scope.ShortcutFolders)
        if (WithinFolder(shortcuts, folder, Chars)) return TUndo::Undo;
    // A parent that setup made for the install folder.
    return LiesBelow(folder, Scope.InstallFolder, Chars) ? TUndo::Undo : TUndo::Skip;
}

TUndo UndoOfRegistry(const TJournalLine& Line) {
    TRegistryArgument a;
    const bool value = Line.Action == TJournalAction::CreateRegValue;
    if (!(value ? ParseRegValueArgument(Line.Argument, a) : ParseRegKeyArgument(Line.Argument, a))) return TUndo::Skip;
    const bool machine = a.Root == Journal::RootLocalMachine, user = a.Root == Journal::RootCurrentUser;
    if (machine && SameTextAscii(a.Key, UninstallKey)) return TUndo::Undo;
    if (user && SameTextAscii(a.Key, std::string(MenuExtKey) + MenuText)) return TUndo::Undo;
    if ((machine || user) && SameTextAscii(a.Key, RunKey)) {
        // Other programs start from the Run key too: only setup's value goes, and the key once empty.
        if (!value) return TUndo::UndoIfEmpty;
        if (SameTextAscii(a.ValueName, RunValue)) return TUndo::Undo;
    }
    return TUndo::Skip;
}

}  // namespace

std::optional<TOtherWriter> OtherWriterOf(const TFolderSecurity& Security) {
    if (!Security.Read) return TOtherWriter{};
    if (!IsAdministrator(Security.Owner)) return TOtherWriter{Security.Owner, true};
    if (!Security.HasDacl) return TOtherWriter{"S-1-1-0", false};  // Everyone
    for (const TAceEntry& ace : Security.Aces) {
        if (Denies(ace.Type) || !(ace.Mask & ChangeRights)) continue;
        if (IsAdministrator(ace.Sid) || IsStandIn(ace.Sid)) continue;
        return TOtherWriter{ace.Sid, false};
    }
    return std::nullopt;
}

TUndo UndoOf(const TJournalLine& Line, const TReplayScope& Scope, const TCharSet& Chars) {
    switch (Line.Action) {
        case TJournalAction::CreateFile:
            return UndoOfFile(Line.Argument, Scope, Chars);
        case TJournalAction::CreateFolder:
            return UndoOfFolder(Line.Argument, Scope, Chars);
        case TJournalAction::RegisterServer:
            return LiesBelow(Scope.InstallFolder, Line.Argument, Chars) ? TUndo::Undo : TUndo::Skip;
        case TJournalAction::CreateRegValue:
        case TJournalAction::CreateRegKey:
            return UndoOfRegistry(Line);
        case TJournalAction::None:
            break;
    }
    return TUndo::Skip;
}
