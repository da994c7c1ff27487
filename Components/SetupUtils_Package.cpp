// Installer engine: the distribution package appended to install.exe.
#include "Components/SetupUtils.h"

#include <commctrl.h>

#include <memory>

#include "Components/JournalFormat.h"
#include "Components/PackageFormat.h"
#include "app/PathUtils.h"
#include "app/Utils.h"

namespace {

const char* const BrainsQuestion =
    "The brains of your previous Orvand have been found in the target folder.\r\n"
    "Would you like to replace them with new brains?";

std::string FullPath(const std::string& Path) {
    char buffer[MAX_PATH * 2];
    DWORD n = GetFullPathNameA(Path.c_str(), sizeof(buffer), buffer, nullptr);
    if (n == 0 || n >= sizeof(buffer)) throw EInstallException(SysErrorMessage(GetLastError()));
    return std::string(buffer, n);
}

bool FolderExists(const std::string& Path) {
    DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& Path) {
    DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string LowerExtension(const std::string& Name) {
    size_t dot = Name.rfind('.');
    return dot == std::string::npos ? std::string() : LowerAscii(Name.substr(dot));
}

// Platform and stream failures reach the wizard as the engine's own exception.
template <typename F>
auto AsInstallError(F&& Action) {
    try {
        return Action();
    } catch (const EInstallException&) {
        throw;
    } catch (const std::exception& e) {
        throw EInstallException(e.what());
    }
}

}  // namespace

bool TInstaller::VerifyPackage() {
    return AsInstallError([&] { return VerifyPackageDigest(*FPackage); });
}

const TFileDataDynArray& TInstaller::ReadPackageDirectory() {
    if (FDirectory.empty()) FDirectory = AsInstallError([&] { return ReadDirectory(*FPackage); });
    return FDirectory;
}

void TInstaller::ExtractEntry(const TFileData& Entry) {
    // Stored bytes lie in front of the directory (in front of the count when it is not read yet).
    int64_t dataEnd = AsInstallError([&] { return FPackage->Size(); }) - PackageTrailerSize -
                      PackageRecordSize * static_cast<int64_t>(FDirectory.size());
    // Checked before anything is created: a hostile entry leaves no trace.
    ValidateEntry(Entry, dataEnd);
    const std::string name = EntryName(Entry);
    const std::string folder = EntryFolder(Entry);

    std::string targetFolder = NormalizeFolderPath(FullPath(FTargetFolder));
    std::string destFolder = NormalizeFolderPath(FullPath(FTargetFolder + folder));
    if (!FolderExists(destFolder) && !ForceFolder(destFolder))
        throw EInstallException(Format("Couldn't create folder \"%s\"", destFolder.c_str()));
    std::string destFile = FullPath(FTargetFolder + folder + name);
    if (destFile.size() <= targetFolder.size() || !SameTextAscii(destFile.substr(0, targetFolder.size()), targetFolder))
        throw EInstallException(Format("The package entry \"%s\" does not lie inside the target folder.", name.c_str()));

    if (LowerExtension(name) == ".db" && FileExists(destFile) && !FReplaceBrains) {
        FReplaceBrains = UI().Confirm(BrainsQuestion, "Confirm");
        if (!FReplaceBrains) return;
    }

    AsInstallError([&] {
        auto out = std::make_unique<TWinFileStream>(destFile, GENERIC_WRITE, 0, CREATE_ALWAYS);
        try {
            DecodeEntry(*FPackage, Entry, dataEnd, *out);
        } catch (...) {
            // A half-written file would pass for a good one: remove it, journal nothing.
            out.reset();
            DeleteFileA(destFile.c_str());
            throw;
        }
    });
    WriteJournal(Journal::CreateFile, destFile);
}

void TInstaller::ExtractPackage(HWND StatusLabel, HWND ProgressBar) {
    const TFileDataDynArray& entries = ReadPackageDirectory();
    int count = static_cast<int>(entries.size());
    SendMessageA(ProgressBar, PBM_SETRANGE32, 0, count - 1);
    ShowWindow(ProgressBar, SW_SHOW);
    for (int i = 0; i < count; ++i) {
        std::string name = EntryName(entries[i]);
        SendMessageA(ProgressBar, PBM_SETPOS, i, 0);
        SetWindowTextA(StatusLabel, ("Extracting: " + name).c_str());
        UI().ProcessMessages();
        if (!SameTextAscii(name, "setup.xml")) ExtractEntry(entries[i]);
    }
}

bool TInstaller::PackageContains(const std::string& FileName) {
    for (const TFileData& entry : ReadPackageDirectory())
        if (SameTextAscii(EntryName(entry), FileName)) return true;
    return false;
}
