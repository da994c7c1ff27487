// Installer engine: shortcuts, registry values, the browser menu extension and
// the registration of the product's COM library.
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdint>
#include <string>

#include "Components/InstallErrors.h"
#include "Components/JournalFormat.h"
#include "Components/SetupUtils.h"
#include "Components/TargetLinks.h"
#include "Components/TargetRules.h"
#include "app/Utils.h"
#include "support/PathUtils.h"
#include "support/SystemLibrary.h"
#include "support/UniqueResource.h"

using namespace SetupNames;

namespace {

uint32_t RootNumber(HKEY Root) { return Journal::RootNumber(reinterpret_cast<uintptr_t>(Root)); }

void CheckCom(HRESULT Result) {
    if (FAILED(Result)) throw EInstallException(SysErrorMessage(static_cast<DWORD>(Result)));
}

}  // namespace

std::string SpecialFolderPath(int FolderId) {
    char path[MAX_PATH + 1] = "";
    TPidl items;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, FolderId, items.Out())) && items)
        SHGetPathFromIDListA(items.Get(), path);
    return path;
}

void TInstaller::CreateShortcut(int FolderId, const std::string& TargetPath, const std::string& Arguments,
                                const std::string& LinkName, const std::string& SubFolder) {
    AsInstallError([&] {
        TComRef<IShellLinkA> link;
        CheckCom(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.OutVoid()));
        link->SetPath(TargetPath.c_str());
        link->SetArguments(Arguments.c_str());
        link->SetWorkingDirectory(TargetPath.substr(0, FileNameStart(TargetPath, AnsiCharSet())).c_str());

        const std::string special = NormalizeFolderPath(SpecialFolderPath(FolderId));
        const std::string folder = FullPath(NormalizeFolderPath(special + SubFolder));
        // Neither the group nor the link may be a link someone placed there.
        const std::string through = LinkBelow(special, folder + LinkName);
        if (!through.empty())
            throw EInstallException(Format("\"%s\" is a link; setup does not write through it.", through.c_str()));
        if (!ForceFolder(folder)) throw EInstallException(Format("Couldn't create folder \"%s\"", folder.c_str()));

        const std::string linkPath = folder + LinkName;
        TComRef<IPersistFile> file;
        CheckCom(link->QueryInterface(IID_IPersistFile, file.OutVoid()));
        file->Save(AnsiToWide(linkPath).c_str(), FALSE);
        WriteJournal(Journal::CreateFile, linkPath);
    });
}

namespace {

// Opens KeyPath for writing, creating and journalling it first when asked.
void OpenForWriting(TInstaller& Installer, TRegKey& Key, HKEY RootKey, const std::string& KeyPath, bool CreateKey) {
    const std::string cannotCreate = Format("Couldn't create registry key \"%s\"", KeyPath.c_str());
    {
        TRegKey probe;
        bool exists = RegOpenKeyExA(RootKey, KeyPath.c_str(), 0, KEY_READ, probe.Out()) == ERROR_SUCCESS;
        if (!exists && CreateKey) {
            TRegKey created;
            if (RegCreateKeyExA(RootKey, KeyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                created.Out(), nullptr) != ERROR_SUCCESS)
                throw EInstallException(cannotCreate);
            Installer.WriteJournal(Journal::CreateRegKey, FormatRegKeyArgument(RootNumber(RootKey), KeyPath));
        }
    }
    if (RegOpenKeyExA(RootKey, KeyPath.c_str(), 0, KEY_ALL_ACCESS, Key.Out()) != ERROR_SUCCESS)
        throw EInstallException(cannotCreate);
}

}  // namespace

void TInstaller::WriteRegistryString(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                                     const std::string& Value, bool CreateKey) {
    AsInstallError([&] {
        TRegKey key;
        OpenForWriting(*this, key, RootKey, KeyPath, CreateKey);
        LONG result =
            RegSetValueExA(key.Get(), ValueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(Value.c_str()),
                           static_cast<DWORD>(Value.size() + 1));
        if (result != ERROR_SUCCESS) throw EInstallException(SysErrorMessage(static_cast<DWORD>(result)));
        WriteJournal(Journal::CreateRegValue, FormatRegValueArgument(RootNumber(RootKey), KeyPath, ValueName));
    });
}

void TInstaller::WriteRegistryNumber(HKEY RootKey, const std::string& KeyPath, const std::string& ValueName,
                                     uint32_t Value, bool CreateKey) {
    AsInstallError([&] {
        TRegKey key;
        OpenForWriting(*this, key, RootKey, KeyPath, CreateKey);
        DWORD number = Value;
        LONG result = RegSetValueExA(key.Get(), ValueName.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                     sizeof(number));
        if (result != ERROR_SUCCESS) throw EInstallException(SysErrorMessage(static_cast<DWORD>(result)));
        WriteJournal(Journal::CreateRegValue, FormatRegValueArgument(RootNumber(RootKey), KeyPath, ValueName));
    });
}

void TInstaller::WriteUninstallEntry(const std::string& DisplayName, const std::string& ProgramPath,
                                     const std::string& Arguments, const TUninstallDetails& Details) {
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayName", DisplayName, true);
    std::string command = QuotedProgram(ProgramPath);
    if (!Arguments.empty()) command += " " + Arguments;
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "UninstallString", command, true);
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayVersion", Details.DisplayVersion, true);
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "Publisher", Details.Publisher, true);
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "DisplayIcon", Details.DisplayIcon, true);
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "InstallLocation", Details.InstallLocation, true);
    WriteRegistryNumber(HKEY_LOCAL_MACHINE, UninstallKey, "EstimatedSize", Details.EstimatedSizeKiB, true);
    // Setup has neither a change nor a repair mode: the list offers only removal.
    WriteRegistryNumber(HKEY_LOCAL_MACHINE, UninstallKey, "NoModify", 1, true);
    WriteRegistryNumber(HKEY_LOCAL_MACHINE, UninstallKey, "NoRepair", 1, true);
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "URLInfoAbout", Details.URLInfoAbout, true);
    // Always a removal, whatever the interactive command's arguments: "-silent" alone would install.
    WriteRegistryString(HKEY_LOCAL_MACHINE, UninstallKey, "QuietUninstallString",
                        QuotedProgram(ProgramPath) + " -remove -silent", true);
}

void TInstaller::WriteAutostartEntry(const std::string& ProgramPath, HKEY Root) {
    WriteRegistryString(Root, RunKey, RunValue, QuotedProgram(ProgramPath) + " -hidden", true);
}

void TInstaller::AddMenuExtension(const std::string& MenuText, const std::string& ScriptPath, int32_t Contexts) {
    std::string keyPath = MenuExtKey + MenuText;
    TRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, key.Out(), nullptr) != ERROR_SUCCESS)
        throw EInstallException(Format("Couldn't open registry key \"%s\"", keyPath.c_str()));
    WriteJournal(Journal::CreateRegKey, FormatRegKeyArgument(RootNumber(HKEY_CURRENT_USER), keyPath));

    uint32_t bits = static_cast<uint32_t>(Contexts);
    const BYTE contexts[4] = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8), static_cast<BYTE>(bits >> 16),
                              static_cast<BYTE>(bits >> 24)};
    if (RegSetValueExA(key.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(ScriptPath.c_str()),
                       static_cast<DWORD>(ScriptPath.size() + 1)) != ERROR_SUCCESS ||
        RegSetValueExA(key.Get(), "Contexts", 0, REG_BINARY, contexts, sizeof(contexts)) != ERROR_SUCCESS)
        throw EInstallException(Format("Couldn't write value to key \"%s\"", keyPath.c_str()));
}

void TInstaller::RegisterComLibrary(const std::string& LibraryPath) {
    using TRegisterServer = HRESULT(WINAPI*)();
    TLibrary library(LoadLibraryBeside(LibraryPath));
    bool registered = false;
    if (library) {
        auto entry = LibraryFunction<TRegisterServer>(library.Get(), "DllRegisterServer");
        registered = entry && SUCCEEDED(entry());
        library.Reset();
    }
    if (!registered) throw EInstallException(Format("Couldn't register \"%s\" as COM server", LibraryPath.c_str()));
    WriteJournal(Journal::RegisterServer, LibraryPath);
}
