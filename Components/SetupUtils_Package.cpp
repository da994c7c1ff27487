// Installer engine: the distribution package appended to install.exe.
#include "Components/SetupUtils.h"

#include <commctrl.h>

#include <memory>

#include "Components/InstallErrors.h"
#include "Components/JournalFormat.h"
#include "Components/PackageFormat.h"
#include "Components/PackagePin.h"
#include "Components/TargetLinks.h"
#include "support/FileSystem.h"
#include "support/PathUtils.h"

const char* const BrainsQuestion =
    "The brains of your previous Orvand have been found in the target folder.\r\n"
    "Would you like to replace them with new brains?";

namespace {

std::string LowerExtension(const std::string& Name) {
    size_t dot = Name.rfind('.');
    return dot == std::string::npos ? std::string() : LowerAscii(Name.substr(dot));
}

// Passes writes on and reports each block to the engine's test seam.
class TStepStream : public TStream {
public:
    TStepStream(TStream& Out, const std::function<void(TInstaller::TStep)>& Step) : FOut(Out), FStep(Step) {}
    size_t Read(void* Buffer, size_t Count) override { return FOut.Read(Buffer, Count); }
    size_t Write(const void* Buffer, size_t Count) override {
        size_t n = FOut.Write(Buffer, Count);
        if (FStep) FStep(TInstaller::TStep::Block);
        return n;
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FOut.Seek(Offset, Origin); }

private:
    TStream& FOut;
    const std::function<void(TInstaller::TStep)>& FStep;
};

}  // namespace

std::unique_ptr<TStream> OpenRunningProgram() {
    try {
        return std::make_unique<TWinFileStream>(GetProgramFileName(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const EStreamError&) {
        return nullptr;  // held by a writer: not to be trusted
    }
}

TPackagePin RunningProgramPin() {
    const auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const uintptr_t rva =
        reinterpret_cast<uintptr_t>(const_cast<const uint8_t*>(PackagePin.Digest)) - reinterpret_cast<uintptr_t>(base);
    TPackagePin pin;
    // The section that holds it tells where its bytes lie in the file.
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        if (rva >= section->VirtualAddress && rva + PackagePinSize <= section->VirtualAddress + section->SizeOfRawData)
            pin.At = static_cast<int64_t>(section->PointerToRawData + (rva - section->VirtualAddress));
    for (size_t i = 0; i < pin.Digest.size(); ++i) pin.Digest[i] = PackagePin.Digest[i];
    return pin;
}

TPackageReader& TInstaller::Package() {
    if (!FPackage) throw EInstallException("The Orvand distributive was damaged");
    return *FPackage;
}

bool TInstaller::VerifyPackage() {
    // Setup's own file could not be held against writers: it is not what UAC showed.
    if (!FPackage) return false;
    return AsInstallError([&] { return FPackage->Verify(FPin); });
}

const TFileDataDynArray& TInstaller::ReadPackageDirectory() {
    return AsInstallError([&]() -> const TFileDataDynArray& { return Package().Directory(); });
}

const TFileData* TInstaller::FindPackageEntry(const std::string& Name) {
    return AsInstallError([&] { return Package().Find(Name); });
}

bool TInstaller::PackageContains(const std::string& FileName) { return FindPackageEntry(FileName) != nullptr; }

void TInstaller::ExtractEntry(const TFileData& Entry) {
    // Checked before anything is created: a hostile entry leaves no trace.
    AsInstallError([&] { Package().Check(Entry); });
    const std::string name = EntryName(Entry);
    // The entry's folder (".\" or ".\data\") and name resolved inside the target, which is full already.
    const std::string destFolder = FullPath(FTargetFolder + EntryFolder(Entry));
    const std::string destFile = FullPath(destFolder + name);
    if (destFile.size() <= FTargetFolder.size() ||
        !SameTextAscii(destFile.substr(0, FTargetFolder.size()), FTargetFolder))
        throw EInstallException(
            Format("The package entry \"%s\" does not lie inside the target folder.", name.c_str()));
    // Before anything is made: a folder made through a link would already be elsewhere.
    RefuseLinksBelowTarget(FTargetFolder, destFile);
    if (!FolderExists(destFolder) && !ForceFolder(destFolder))
        throw EInstallException(Format("Couldn't create folder \"%s\"", destFolder.c_str()));

    if (LowerExtension(name) == ".db" && FileExists(destFile) && !FReplaceBrains) {
        FReplaceBrains = UI().Confirm(BrainsQuestion, "Confirm");
        if (!FReplaceBrains) return;
    }

    // Windows refuses to replace a read-only file; so does setup wherever the
    // file system would let it (Wine run by root), for the file is the user's.
    DWORD attributes = GetFileAttributesA(destFile.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        throw EInstallException(
            Format("Cannot create file \"%s\". %s", destFile.c_str(), SysErrorMessage(ERROR_ACCESS_DENIED).c_str()));

    // The uninstaller keeps its vendor's signature where the package holds the signed copy.
    const TFileData& source = ExtractionSource(ReadPackageDirectory(), Entry);
    AsInstallError([&] {
        // Nothing half-written or unjournalled stays behind.
        TPendingFile out(destFile, 0);
        TStepStream observed(out.Stream(), OnStep);
        Package().Decode(source, OnStep ? static_cast<TStream&>(observed) : out.Stream());
        JournalPendingFile(destFile);
        if (!out.Complete()) throw EInstallException(SysErrorMessage(GetLastError()));
        out.Keep();
        FExtractedBytes += static_cast<uint32_t>(source.Size);
    });
}

void TInstaller::ExtractPackage(HWND StatusLabel, HWND ProgressBar) {
    // The configuration extracted before is not the product's.
    FExtractedBytes = 0;
    const TFileDataDynArray& entries = ReadPackageDirectory();
    int count = static_cast<int>(entries.size());
    SendMessageA(ProgressBar, PBM_SETRANGE32, 0, count - 1);
    ShowWindow(ProgressBar, SW_SHOW);
    for (int i = 0; i < count; ++i) {
        // Written as install.exe, from entry 0.
        if (IsSignedUninstaller(entries[i])) continue;
        std::string name = EntryName(entries[i]);
        SendMessageA(ProgressBar, PBM_SETPOS, i, 0);
        SetWindowTextA(StatusLabel, ("Extracting: " + name).c_str());
        UI().ProcessMessages();
        if (!SameTextAscii(name, "setup.xml")) ExtractEntry(entries[i]);
    }
}
