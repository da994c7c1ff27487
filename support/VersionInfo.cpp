#include "support/VersionInfo.h"

#include <cstring>
#include <vector>

#include "support/Exceptions.h"
#include "support/FileSystem.h"
#include "support/SystemLibrary.h"
#include "support/VersionText.h"

namespace {

// version.dll is no KnownDLL: it comes from the system folder, not from beside setup.
struct TVersionApi {
    HMODULE Module = LoadSystemLibrary("version.dll");
    decltype(&::GetFileVersionInfoSizeA) InfoSize =
        LibraryFunction<decltype(&::GetFileVersionInfoSizeA)>(Module, "GetFileVersionInfoSizeA");
    decltype(&::GetFileVersionInfoA) Info =
        LibraryFunction<decltype(&::GetFileVersionInfoA)>(Module, "GetFileVersionInfoA");
    decltype(&::VerQueryValueA) Query = LibraryFunction<decltype(&::VerQueryValueA)>(Module, "VerQueryValueA");
    bool Loaded() const { return InfoSize && Info && Query; }
};

const TVersionApi& VersionApi() {
    static const TVersionApi api;
    return api;
}

bool ReadVersionBlock(const std::string& FileName, std::vector<uint8_t>& Block) {
    if (!VersionApi().Loaded()) return false;
    DWORD handle = 0;
    DWORD size = VersionApi().InfoSize(FileName.c_str(), &handle);
    if (size == 0) return false;
    Block.assign(size, 0);
    return VersionApi().Info(FileName.c_str(), 0, size, Block.data()) != FALSE;
}

}  // namespace

std::string TVerInfo::GetValue(const std::string& Name) {
    std::vector<uint8_t> block;
    if (!ReadVersionBlock(FFileName, block)) return {};
    void* translation = nullptr;
    UINT length = 0;
    if (!VersionApi().Query(block.data(), "\\VarFileInfo\\Translation", &translation, &length) || length < 4) return {};
    WORD language = static_cast<WORD*>(translation)[0];
    WORD codePage = static_cast<WORD*>(translation)[1];
    std::string path = Format("\\StringFileInfo\\%.4x%.4x\\%s", language, codePage, Name.c_str());
    void* value = nullptr;
    if (!VersionApi().Query(block.data(), path.c_str(), &value, &length) || !value) return {};
    const char* text = static_cast<const char*>(value);
    return std::string(text, strnlen(text, length));
}

std::string TVerInfo::GetProductRevision() { return RevisionFromText(GetValue("ProductRevision")); }

int32_t TVerInfo::GetVersionNumber() { return VersionNumberFrom(GetProductVersion(), GetProductRevision()); }

TFixedFileInfo TVerInfo::GetFixedFileInfo() {
    TFixedFileInfo info{};
    std::vector<uint8_t> block;
    if (!ReadVersionBlock(FFileName, block)) return info;
    // Header: Length, ValueLength, Type, then the zero-terminated UTF-16 key.
    size_t pos = 0;
    auto word = [&](size_t at) -> uint16_t {
        return at + 1 < block.size() ? uint16_t(block[at] | (block[at + 1] << 8)) : 0;
    };
    if (word(pos) == 0) return info;
    pos += 6;
    std::string key;
    while (pos + 1 < block.size()) {
        uint16_t ch = word(pos);
        pos += 2;
        if (ch == 0) break;
        key += ch < 128 ? char(ch) : '?';
    }
    pos = (pos + 3) & ~size_t(3);
    if (key == "VS_VERSION_INFO" && pos + sizeof(info) <= block.size())
        std::memcpy(&info, block.data() + pos, sizeof(info));
    return info;
}

std::shared_ptr<IVerInfo> GetAppVersionInfo() { return std::make_shared<TVerInfo>(GetProgramFileName()); }
