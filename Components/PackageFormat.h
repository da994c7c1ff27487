#pragma once
// The distribution package appended to install.exe: reading its directory and
// decoding its entries. Portable; the packer writes packages with PackageWriter.h.
//
// Layout: executable part, stored entries, N records of 137 bytes, the count N
// (signed 32-bit), the MD5 digest of everything in front of the digest.
// A code signature may follow: see PackageEnd.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Components/SetupStructs.h"
#include "config/md5.h"
#include "support/Streams.h"

inline constexpr int64_t PackageTrailerSize = 20;  // count and digest
inline constexpr int64_t PackageRecordSize = 137;
inline constexpr size_t PackageBlockSize = 65536;
inline constexpr size_t PackageMaxTextLength = 63;

// A length-prefixed field: the text it holds. A length byte above 63 would
// reach past the field and raises EInstallException.
std::string DecodeShortString(const uint8_t (&Field)[64]);
// Raises EInstallException for a text of 64 characters or more.
void EncodeShortString(uint8_t (&Field)[64], const std::string& Text);

std::string EntryName(const TFileData& Entry);
std::string EntryFolder(const TFileData& Entry);
bool IsCompressed(const TFileData& Entry);

// A bare file name: not empty, no separator, no drive, no "." or "..".
bool IsSafeEntryName(const std::string& Name);
// ".\" or ".\x\", ".\x\y\": relative, below the target folder, no "..".
bool IsSafeEntryFolder(const std::string& Folder);

// Raises EInstallException when the entry's texts are unsafe, or its stored
// bytes cannot lie in front of DataEnd (the start of the directory, or the
// file length when that is not known).
void ValidateEntry(const TFileData& Entry, int64_t DataEnd);

// A PE program's headers as its file holds them: where its data directories and
// sections are. Header is -1 where the file is no PE32 or PE32+ program.
struct TPeImage {
    int64_t Header = -1;        // "PE\0\0"
    std::vector<uint8_t> Head;  // from Header: the file and optional headers and the section table
    uint32_t Machine = 0;
    size_t Directories = 0, Sections = 0, SectionCount = 0;  // offsets into Head, and the count
};
TPeImage ReadPeImage(TStream& File);
// The little-endian field of Bytes at At; 0 where it would reach past their end.
uint32_t Le16(const std::vector<uint8_t>& Bytes, size_t At);
uint32_t Le32(const std::vector<uint8_t>& Bytes, size_t At);

// The two PE header fields a code-signing tool rewrites: the checksum (4 bytes)
// and the certificate-table entry (8 bytes: the table's file position and length).
struct TSignatureFields {
    int64_t CheckSumAt = -1;  // -1: the file is no PE program
    int64_t TableEntryAt = -1;
    int64_t TableStart = 0, TableSize = 0;
};
inline constexpr int64_t PackageAlignment = 8;  // signing tools start the table at a multiple of 8

// Reads the fields from the file's header; any bytes give an answer, never a read
// past the file. The position of File is not kept.
TSignatureFields ReadSignatureFields(TStream& File);
// True when the certificate-table entry points at a table that ends the file and
// lies behind the header: the file was signed after packing.
bool EndsInCertificateTable(const TSignatureFields& Fields, int64_t FileLength);
// Zeroes the bytes of the two fields among Count bytes that hold the file from Position on.
void ClearSignatureFields(const TSignatureFields& Fields, int64_t Position, uint8_t* Bytes, size_t Count);
// Zeroes the bytes of the file's range [At, At + Size) among Count bytes that hold it from Position on.
void ClearRange(int64_t At, int64_t Size, int64_t Position, uint8_t* Bytes, size_t Count);

// A setup program's package pin (see PackagePin.h): where its 16 bytes lie in
// the program's file (-1: nowhere) and what they hold.
struct TPackagePin {
    int64_t At = -1;
    TMD5Digest Digest{};
    // The packer filled it: not all zeros.
    bool Filled() const;
};
inline constexpr int64_t PackagePinSize = 16;
// Where the pin's 16 bytes lie among the first Length bytes of Program, right
// after its marker; -1 for a program without one. A marker found twice, or a pin
// past Length, raises EInstallException.
int64_t FindPackagePin(TStream& Program, int64_t Length);

// The uninstaller as its vendor signed it: a bare program signed before packing is
// stored whole in an entry of its own, plain, right behind the program part (which
// the packer writes without that signature). Setup writes it as install.exe in
// place of the program part's copy; a setup that does not know it extracts it
// into temp\ like any file.
inline constexpr const char* SignedUninstallerFolder = ".\\temp\\";
inline constexpr const char* SignedUninstallerName = "uninstaller.exe";
bool IsSignedUninstaller(const TFileData& Entry);
// The entry whose bytes extracting Entry writes: for the program part (plain, at
// offset 0), the signed uninstaller where Directory holds one; else Entry itself.
const TFileData& ExtractionSource(const TFileDataDynArray& Directory, const TFileData& Entry);

// Where the package ends: where the certificate table starts in a signed file,
// else at the end of the file.
int64_t PackageEnd(TStream& Package);
// Where the stored data ends: in front of the directory of Count records.
int64_t PackageDataEnd(TStream& Package, size_t Count);

// Reads the count and the records from the end of Package and validates each.
// A count below 0 or above 64: "Distribution package contains to many files.".
TFileDataDynArray ReadDirectory(TStream& Package);

// True when the package's last 16 bytes are the MD5 digest of everything in front
// of them. In a signed file that digest counts the two signature fields as zeros.
// With a filled Pin (the running program's), the file must also hold the pin at
// Pin.At, and the digest of everything in front of the last 16 bytes, counting
// the pin and the signature fields as zeros, must be the pin: the package is the
// one packed with that program. An unfilled Pin asks for nothing more.
bool VerifyPackageDigest(TStream& Package, const TPackagePin& Pin = {});
// The MD5 digest of the file's bytes in front of End - 16, counting the two
// signature fields and, unless PinAt is -1, the 16 bytes at PinAt as zeros.
TMD5Digest DigestPackage(TStream& Package, int64_t End, const TSignatureFields& Fields, int64_t PinAt);

// Writes the entry's Size bytes to Dest: copied, or inflated from one zlib
// stream, through one 64 KiB buffer. Stored bytes are never read at or past
// DataEnd. The setup program (plain, at offset 0) comes out with its signature
// fields and its pin zeroed: an unsigned, bare program. Data that ends early or does not inflate raises
// EInstallException; what was written to Dest stays there.
void DecodeEntry(TStream& Package, const TFileData& Entry, int64_t DataEnd, TStream& Dest);

// A package read through: its directory, read and checked once, its entries
// found by name, and each entry checked and decoded against it.
class TPackageReader {
public:
    explicit TPackageReader(std::unique_ptr<TStream> Package) : FPackage(std::move(Package)) {}
    TStream& Stream() { return *FPackage; }
    // VerifyPackageDigest.
    bool Verify(const TPackagePin& Pin = {}) { return VerifyPackageDigest(*FPackage, Pin); }
    // ReadDirectory, on first use; later changes to the file do not reach it.
    const TFileDataDynArray& Directory();
    // The entry called Name, ASCII case ignored; null when there is none.
    const TFileData* Find(const std::string& Name);
    // Raises EInstallException as ValidateEntry does for an entry of this package.
    void Check(const TFileData& Entry);
    // Checks Entry, then writes its bytes to Dest as DecodeEntry does.
    void Decode(const TFileData& Entry, TStream& Dest);

private:
    std::unique_ptr<TStream> FPackage;
    TFileDataDynArray FDirectory;
    int64_t FDataEnd = -1;  // -1: the directory is not read yet
};
