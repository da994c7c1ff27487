#pragma once
// Reads the named text values of a module's version resource.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

struct TFixedFileInfo {
    uint32_t Signature, StrucVersion, FileVersionMS, FileVersionLS, ProductVersionMS, ProductVersionLS, FileFlagsMask,
        FileFlags, FileOS, FileType, FileSubtype, FileDateMS, FileDateLS;
};
static_assert(sizeof(TFixedFileInfo) == 52, "the fixed part is 13 words");

class IVerInfo {
public:
    virtual ~IVerInfo() = default;
    virtual std::string GetCompanyName() = 0;
    virtual std::string GetFileDescription() = 0;
    virtual std::string GetFileVersion() = 0;
    virtual std::string GetInternalName() = 0;
    virtual std::string GetLegalCopyright() = 0;
    virtual std::string GetLegalTradeMarks() = 0;
    virtual std::string GetOriginalFileName() = 0;
    virtual std::string GetProductName() = 0;
    virtual std::string GetProductHomepage() = 0;
    virtual std::string GetProductVersion() = 0;
    virtual std::string GetProductRevision() = 0;
    virtual int32_t GetVersionNumber() = 0;
    virtual std::string GetComments() = 0;
    virtual TFixedFileInfo GetFixedFileInfo() = 0;
    virtual std::string GetValue(const std::string& Name) = 0;
};

class TVerInfo : public IVerInfo {
public:
    explicit TVerInfo(std::string FileName) : FFileName(std::move(FileName)) {}
    std::string GetCompanyName() override { return GetValue("CompanyName"); }
    std::string GetFileDescription() override { return GetValue("FileDescription"); }
    std::string GetFileVersion() override { return GetValue("FileVersion"); }
    std::string GetInternalName() override { return GetValue("InternalName"); }
    std::string GetLegalCopyright() override { return GetValue("LegalCopyright"); }
    std::string GetLegalTradeMarks() override { return GetValue("LegalTradeMarks"); }
    std::string GetOriginalFileName() override { return GetValue("OriginalFileName"); }
    std::string GetProductName() override { return GetValue("ProductName"); }
    std::string GetProductHomepage() override { return GetValue("ProductHomepage"); }
    std::string GetProductVersion() override { return GetValue("ProductVersion"); }
    std::string GetProductRevision() override;
    int32_t GetVersionNumber() override;
    std::string GetComments() override { return GetValue("Comments"); }
    TFixedFileInfo GetFixedFileInfo() override;
    std::string GetValue(const std::string& Name) override;

private:
    std::string FFileName;
};

// A fresh reader for the running program's own executable.
std::shared_ptr<IVerInfo> GetAppVersionInfo();
