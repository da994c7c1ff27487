#pragma once
// Record types and failure classes shared by the engines. Portable.
#include <cstdint>
#include <string>
#include <vector>

#include "support/Exceptions.h"

// Failures of the installer engine.
class EInstallException : public Exception {
    using Exception::Exception;
};

// A destination setup will not install into, with the reason for the user.
class ETargetRefused : public EInstallException {
    using EInstallException::EInstallException;
};

// Failures of the uninstaller engine.
class EUninstallException : public Exception {
    using Exception::Exception;
};

#pragma pack(push, 1)
// One 137-byte record of the package directory, exactly as stored.
struct TFileData {
    uint8_t Name[64];    // length byte, then up to 63 characters
    uint8_t Folder[64];  // same form: ".\", ".\data\", ".\temp\"
    uint8_t Flags;       // bit 0: the stored bytes are one zlib stream
    int32_t Offset;      // absolute position of the stored bytes in the file
    int32_t Size;        // length of the file once written
};
#pragma pack(pop)
static_assert(sizeof(TFileData) == 137, "directory records are 137 bytes");

using TFileDataDynArray = std::vector<TFileData>;

inline constexpr uint8_t FileDataCompressed = 0x01;
inline constexpr int MaxPackageEntries = 64;
