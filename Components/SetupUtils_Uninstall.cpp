// The uninstaller engine: replays the install journal backwards.
#include <windows.h>

#include <shlobj.h>

#include <vector>

#include "Components/JournalFormat.h"
#include "Components/SetupUtils.h"
#include "Components/TargetLinks.h"
#include "Components/TargetRules.h"
#include "app/Utils.h"
#include "support/FileStreams.h"
#include "support/FileSystem.h"
#include "support/Logging.h"
#include "support/SystemLibrary.h"
#include "support/UniqueResource.h"

using namespace SetupNames;

namespace {

const char* const JournalName = "install.log";

HKEY RootKeyHandle(uint32_t Root) { return reinterpret_cast<HKEY>(Journal::RootHandle(Root)); }

std::string ReadWholeFile(const std::string& FileName) {
    // Writers are refused while the journal is read, so it cannot change under us.
    TWinFileStream stream(FileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    std::string text;
    char buffer[65536];
    for (;;) {
        size_t n = stream.Read(buffer, sizeof(buffer));
        if (n == 0) break;
        text.append(buffer, n);
    }
    return text;
}

// Sub-keys first, then the key itself. Names are collected before anything is
// deleted, so a key that refuses deletion cannot make the walk repeat itself.
void DeleteKeyTree(HKEY Root, const std::string& Path, int Depth) {
    if (Depth > 512) return;  // deeper than the registry allows
    TRegKey key;
    if (RegOpenKeyExA(Root, Path.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS)
        return;
    std::vector<std::string> names;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        LONG status = RegEnumKeyExA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;  // longer than any valid key name
        if (status != ERROR_SUCCESS) break;
        names.emplace_back(name, length);
    }
    key.Reset();
    for (const std::string& sub : names) DeleteKeyTree(Root, Path + "\\" + sub, Depth + 1);
    RegDeleteKeyA(Root, Path.c_str());
}

// A key path that names the root itself: deleting "its" tree would wipe the whole hive.
bool NamesTheRoot(const std::string& KeyPath) { return KeyPath.find_first_not_of("\\ ") == std::string::npos; }

// A path as the file system spells it where it holds a short name.
std::string LongForm(const std::string& Path) {
    if (Path.find('~') == std::string::npos) return Path;
    char buffer[MAX_PATH * 4];
    DWORD n = GetLongPathNameA(Path.c_str(), buffer, sizeof(buffer));
    return n && n < sizeof(buffer) ? std::string(buffer, n) : Path;
}

// Where the uninstaller may undo: its own folder, the desktops and the Start menu groups.
TReplayScope ReplayScope(const std::string& InstallFolder) {
    TReplayScope scope;
    scope.InstallFolder = NormalizeFolderPath(LongForm(InstallFolder));
    for (int id : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
        std::string folder = SpecialFolderPath(id);
        if (folder.empty()) continue;
        folder = NormalizeFolderPath(folder);
        if (id == CSIDL_PROGRAMS || id == CSIDL_COMMON_PROGRAMS) folder += std::string(ShortcutGroup) + "\\";
        scope.ShortcutFolders.push_back(folder);
    }
    return scope;
}

// Other programs start from the Run key too: it goes only once it holds nothing.
void DeleteKeyIfEmpty(const std::string& Argument) {
    TRegistryArgument parsed;
    if (!ParseRegKeyArgument(Argument, parsed) || !IsPredefinedRoot(parsed.Root)) return;
    HKEY root = RootKeyHandle(parsed.Root);
    DWORD keys = 1, values = 1;
    {
        TRegKey key;
        if (RegOpenKeyExA(root, parsed.Key.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS ||
            RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr) != ERROR_SUCCESS)
            return;
    }
    if (keys == 0 && values == 0) RegDeleteKeyA(root, parsed.Key.c_str());
}

// Whether Folder holds nothing but the file Name.
bool HoldsOnly(const std::string& Folder, const std::string& Name) {
    WIN32_FIND_DATAA data;
    TFindHandle find(FindFirstFileA((Folder + "*").c_str(), &data));
    if (!find) return false;
    do {
        const std::string found = data.cFileName;
        if (found != "." && found != ".." && !SameTextAscii(found, Name)) return false;
    } while (FindNextFileA(find.Get(), &data));
    return true;
}

// The emptied folder goes, and so does the uninstaller running from it: what it cannot
// delete now (its own file, and the folder if nothing else is left in it) goes at the next
// restart. Anything else left inside keeps the folder.
void RemoveEmptiedFolder(const std::string& Folder) {
    if (RemoveDirectoryA(Folder.c_str())) return;
    const std::string self = GetProgramFileName();
    const size_t name = FileNameStart(self, AnsiCharSet());
    if (!SameFolderPath(self.substr(0, name), Folder, AnsiCharSet()) || !FileExists(self)) return;
    if (!MoveFileExA(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return;
    std::string path = Folder;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    if (HoldsOnly(Folder, self.substr(name))) MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

std::vector<std::string> DropRestartDeletions(const std::string& Folder) {
    const wchar_t* const value = L"PendingFileRenameOperations";
    std::vector<std::string> dropped;
    TRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, key.Out()) != ERROR_SUCCESS)
        return dropped;
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key.Get(), value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return dropped;
    std::wstring list(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.Get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(list.data()), &size) !=
        ERROR_SUCCESS)
        return dropped;
    list.resize(size / sizeof(wchar_t));
    // Pairs of texts: the file or folder, then where it goes; empty: it is deleted.
    std::wstring kept;
    for (size_t at = 0; at < list.size() && list[at] != L'\0';) {
        const std::wstring from = list.c_str() + at;
        at += from.size() + 1;
        const std::wstring to = at < list.size() ? list.c_str() + at : L"";
        at += to.size() + 1;
        std::string path = WideToAnsi(from.rfind(L"\\??\\", 0) == 0 ? from.substr(4) : from);
        if (to.empty() && (SameFolderPath(path, Folder, AnsiCharSet()) ||
                           (path.size() > Folder.size() && SameTextAscii(path.substr(0, Folder.size()), Folder))))
            dropped.push_back(path);
        else
            kept += from + L'\0' + to + L'\0';
    }
    if (dropped.empty()) return dropped;
    if (kept.empty())
        RegDeleteValueW(key.Get(), value);
    else
        RegSetValueExW(key.Get(), value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>((kept + L'\0').c_str()),
                       static_cast<DWORD>((kept.size() + 1) * sizeof(wchar_t)));
    return dropped;
}

TUninstaller::TUninstaller() : FInstallFolder(ProgramFolder) {}

TUninstaller::TUninstaller(std::string InstallFolder) : FInstallFolder(std::move(InstallFolder)) {}

void TUninstaller::Uninstall() {
    const std::string journal = FInstallFolder + JournalName;
    bool mayEmpty = false;
    if (FileExists(journal)) {
        std::string text;
        try {
            text = ReadWholeFile(journal);
        } catch (const std::exception& e) {
            std::string message = e.what();
            GetLog()->Error(message);
            throw EInstallException(message);
        }
        std::vector<std::string> lines = SplitJournalLines(text);
        // A folder installed into before may hold lines in the legacy code page.
        for (std::string& line : lines) line = JournalLineToAnsi(line);
        mayEmpty = MayEmptyInstallFolder(lines, FInstallFolder, AnsiCharSet());
        // A journal is replayed as administrator: it undoes what setup changes, and nothing else.
        const TReplayScope scope = ReplayScope(FInstallFolder);
        while (!lines.empty()) {
            try {
                TJournalLine line = ParseJournalLine(lines.back());
                if (line.Action == TJournalAction::CreateFile || line.Action == TJournalAction::CreateFolder ||
                    line.Action == TJournalAction::RegisterServer)
                    line.Argument = LongForm(line.Argument);
                TUndo undo = UndoOf(line, scope, AnsiCharSet());
                // Nor does it go through a link into some other place.
                if (undo != TUndo::Skip && line.Action != TJournalAction::CreateFolder &&
                    !LinkBelow(scope.InstallFolder, line.Argument).empty())
                    undo = TUndo::Skip;
                if (undo == TUndo::Skip) {
                    if (line.Action != TJournalAction::None)
                        GetLog()->Debug("Skipped, outside what setup changes: " + lines.back());
                    line.Action = TJournalAction::None;
                } else if (undo == TUndo::UndoIfEmpty) {
                    DeleteKeyIfEmpty(line.Argument);
                    line.Action = TJournalAction::None;
                }
                switch (line.Action) {
                    case TJournalAction::CreateFolder:
                        UndoCreateFolder(line.Argument);
                        break;
                    case TJournalAction::CreateFile:
                        UndoCreateFile(line.Argument);
                        break;
                    case TJournalAction::CreateRegValue:
                        UndoCreateRegValue(line.Argument);
                        break;
                    case TJournalAction::CreateRegKey:
                        UndoCreateRegKey(line.Argument);
                        break;
                    case TJournalAction::RegisterServer:
                        UnregisterServer(line.Argument);
                        break;
                    case TJournalAction::None:
                        break;
                }
            } catch (...) {
                // One line that cannot be undone must not keep the others from it.
            }
            lines.pop_back();
        }
        DeleteFileA(journal.c_str());
    }
    // Only a folder that setup created is emptied: one chosen by the user that
    // existed before (Documents, a drive root) keeps everything not journalled.
    if (mayEmpty) {
        DeleteFolderTree(FInstallFolder);
        RemoveEmptiedFolder(FInstallFolder);
    }
}

bool TUninstaller::UndoCreateFolder(const std::string& Path) { return RemoveDirectoryA(Path.c_str()) != FALSE; }

bool TUninstaller::UndoCreateFile(const std::string& Path) { return DeleteFileA(Path.c_str()) != FALSE; }

void TUninstaller::UndoCreateRegKey(const std::string& Argument) {
    try {
        TRegistryArgument parsed;
        if (!ParseRegKeyArgument(Argument, parsed) || !IsPredefinedRoot(parsed.Root) || NamesTheRoot(parsed.Key))
            return;
        DeleteKeyTree(RootKeyHandle(parsed.Root), parsed.Key, 0);
    } catch (...) {
    }
}

void TUninstaller::UndoCreateRegValue(const std::string& Argument) {
    try {
        TRegistryArgument parsed;
        if (!ParseRegValueArgument(Argument, parsed) || !IsPredefinedRoot(parsed.Root)) return;
        TRegKey key;
        if (RegOpenKeyExA(RootKeyHandle(parsed.Root), parsed.Key.c_str(), 0, KEY_SET_VALUE, key.Out()) != ERROR_SUCCESS)
            return;
        RegDeleteValueA(key.Get(), parsed.ValueName.c_str());
    } catch (...) {
    }
}

void TUninstaller::UnregisterServer(const std::string& LibraryPath) {
    // Quietly: a library that cannot be loaded must not stop the uninstall with a system dialog.
    TLibrary library(LoadLibraryBeside(LibraryPath));
    if (!library) throw EUninstallException(Format("Couldn't unregister COM server \"%s\"", LibraryPath.c_str()));
    using TUnregister = HRESULT(WINAPI*)();
    auto entry = LibraryFunction<TUnregister>(library.Get(), "DllUnregisterServer");
    if (!entry)
        throw EUninstallException(
            Format("Can't find procedure DllUnregisterServer in library %s", LibraryPath.c_str()));
    if (entry() != 0)
        throw EUninstallException(
            Format("Some items not found on DllUnregisterServer in library %s", LibraryPath.c_str()));
}

void TUninstaller::DeleteFolderTree(const std::string& Folder) {
    const std::string base = NormalizeFolderPath(Folder);
    // An empty path would mean the current drive's root; no root is ever emptied.
    if (IsRootFolder(base, AnsiCharSet())) return;
    WIN32_FIND_DATAA data;
    TFindHandle find(FindFirstFileA((base + "*.*").c_str(), &data));
    if (!find) return;
    do {
        const std::string name = data.cFileName;
        const std::string path = base + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name == "." || name == "..") continue;
            // A junction or folder link is removed as a link: what it points to
            // lies outside the folder, and following it could lead back in.
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteFolderTree(path);
            RemoveDirectoryA(path.c_str());
        } else {
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(find.Get(), &data));
}
