// Installer engine: the setup configuration, its refresh from the file
// distributors, and fetching files that the package does not hold.
#include "Components/SetupUtils.h"

#include "Components/InstallErrors.h"
#include "Components/JournalFormat.h"
#include "Components/PackageFormat.h"
#include "Components/TargetLinks.h"
#include "config/HTTPUnit.h"
#include "config/md5.h"
#include "support/CodePages.h"
#include "support/PathUtils.h"

namespace {
const char* const SetupXml = "setup.xml";
}

std::shared_ptr<IXMLSetupType> TInstaller::GetConfiguration() {
    if (!FConfiguration) FConfiguration = AsInstallError([&] { return LoadSetup(GetTempFolder() + SetupXml); });
    return FConfiguration;
}

void TInstaller::RefreshConfiguration() {
    // Without a packaged copy there is nothing to refresh.
    const TFileData* entry = FindPackageEntry(SetupXml);
    if (!entry) return;
    ExtractEntry(*entry);
    const std::string localPath = FTargetFolder + EntryFolder(*entry) + SetupXml;
    const std::string newPath = localPath + ".new";
    // The copy just extracted is the one to read, whatever was cached before.
    FConfiguration.reset();

    const int count = GetConfiguration()->FileDistributors()->Count();
    for (int i = 0; i < count; ++i) {
        std::string url = WideToAnsi(GetConfiguration()->FileDistributors()->Url(i)) + SetupXml;
        std::string ignored;
        if (!Download(url, newPath, ignored, nullptr, false)) continue;
        try {
            LoadSetup(newPath);
            // Replaced in one step: a failed move leaves the packaged copy in force.
            if (MoveFileExA(newPath.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                FConfiguration.reset();
                break;
            }
        } catch (...) {
            // An unusable copy: the next distributor is asked.
        }
        // No journal line names it, so it must not stay.
        DeleteFileA(newPath.c_str());
    }
}

bool TInstaller::Download(const std::string& Url, const std::string& FileName, std::string& ErrorText,
                          HWND ProgressWindow, bool Journalled) {
    RefuseLinksBelowTarget(FTargetFolder, FileName);
    std::function<void()> onBlock, onWhole;
    if (OnStep) onBlock = [this] { OnStep(TStep::Download); };
    if (Journalled) onWhole = [this, FileName] { JournalPendingFile(FileName); };
    return DownloadFile(Url, FileName, ErrorText, ProgressWindow, onBlock, onWhole);
}

std::shared_ptr<IXMLSetupType> TInstaller::PackagedConfiguration() {
    if (FPackagedConfigurationRead) return FPackagedConfiguration;
    if (const TFileData* entry = FindPackageEntry(SetupXml)) {
        FPackagedConfiguration = AsInstallError([&] {
            TMemoryStream bytes;
            Package().Decode(*entry, bytes);
            return LoadSetupFromBytes(std::string(bytes.Data().begin(), bytes.Data().end()), "the packaged setup.xml");
        });
    }
    FPackagedConfigurationRead = true;
    return FPackagedConfiguration;
}

bool TInstaller::PackagedDigest(const std::string& FileName, std::string& Digest) {
    std::shared_ptr<IXMLSetupType> packaged = PackagedConfiguration();
    std::shared_ptr<IXMLFileMD5Type> file =
        packaged ? packaged->FilesMD5List()->FindFile(AnsiToWide(FileName)) : nullptr;
    if (!file) return false;
    Digest = WideToAnsi(file->MD5());
    return true;
}

// The digest a fetched file must have: the packaged copy's where it lists the
// file, for a refreshed copy came over plain HTTP; else the working copy's. An
// installer, which runs as administrator, has the packaged copy's or none.
bool TInstaller::ExpectedDigest(const std::string& FileName, std::string& Digest) {
    if (PackagedDigest(FileName, Digest)) return true;
    if (IsPrerequisiteInstaller(FileName)) return false;
    std::shared_ptr<IXMLFileMD5Type> file = GetConfiguration()->FilesMD5List()->FindFile(AnsiToWide(FileName));
    if (!file) return false;
    Digest = WideToAnsi(file->MD5());
    return true;
}

void TInstaller::FetchFile(const std::string& FileName, const std::string& DestPath, HWND StatusLabel,
                           HWND ProgressBar) {
    // Names come from the network: one that is not a bare name could point anywhere.
    if (!IsBareFileName(FileName))
        throw EInstallException(
            Format("\"%s\" is not a plain file name; setup does not download it.", FileName.c_str()));

    std::string digest;
    const bool listed = ExpectedDigest(FileName, digest);
    // Nothing vouches for such an installer: it is not even fetched.
    if (!listed && IsPrerequisiteInstaller(FileName)) {
        UI().ShowError("CRC Error.\r\nFile: " + FileName, "Error");
        UI().Halt();
    }
    bool succeeded = false;
    std::string errorText;
    std::shared_ptr<IXMLFiledistributorsType> distributors = GetConfiguration()->FileDistributors();
    for (int i = 0; i < distributors->Count() && !succeeded; ++i) {
        std::string base = WideToAnsi(distributors->Url(i));
        SetWindowTextA(StatusLabel, Format("Downloading: %s%s", base.c_str(), FileName.c_str()).c_str());
        UI().ProcessMessages();
        errorText.clear();
        if (!Download(base + FileName, DestPath, errorText, ProgressBar, true)) continue;
        if (!listed || CheckFileDigest(DestPath, digest))
            succeeded = true;
        else
            errorText = "CRC Error.\r\nFile: " + FileName;
    }
    if (!succeeded) {
        UI().ShowError(errorText, "Error");
        UI().Halt();
    }
}

bool TInstaller::CheckFileDigest(const std::string& FileName, const std::string& ExpectedHex) {
    return AsInstallError([&] {
        TMD5Digest actual = DigestFile(FileName);
        TMD5Digest expected = ParseDigest(ExpectedHex);
        return SameDigest(actual, expected);
    });
}
