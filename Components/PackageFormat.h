#pragma once
// The distribution package appended to install.exe: reading its directory,
// decoding its entries, and writing a package (the packer). Portable.
//
// Layout: executable part, stored entries, N records of 137 bytes, the count N
// (signed 32-bit), the MD5 digest of everything in front of the digest.
// A code signature may follow: see PackageEnd.
#include <cstdint>
#include <functional>
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
bool VerifyPackageDigest(TStream& Package);

// Writes the entry's Size bytes to Dest: copied, or inflated from one zlib
// stream, through one 64 KiB buffer. Stored bytes are never read at or past
// DataEnd. The setup program (plain, at offset 0) comes out with its signature
// fields zeroed: an unsigned program. Data that ends early or does not inflate raises EInstallException;
// what was written to Dest stays there.
void DecodeEntry(TStream& Package, const TFileData& Entry, int64_t DataEnd, TStream& Dest);

// Failures of the packer: a refused input.
class EPackageError : public Exception {
    using Exception::Exception;
};

// A failure of one file of TPackageWriter::AddFiles: Index is its place in the list.
class EPackageFileError : public EPackageError {
public:
    EPackageFileError(size_t Index, const std::string& Message) : EPackageError(Message), FIndex(Index) {}
    size_t Index() const { return FIndex; }

private:
    size_t FIndex;
};

// One file for TPackageWriter::AddFiles. Open gives its contents; it is called
// once, in list order, before anything is written for the files.
struct TPackFile {
    std::string Folder, Name;
    std::function<std::unique_ptr<TStream>()> Open;
    bool Compress = true;
};

// Compresses the rest of Source into Dest as one zlib stream and returns the number
// of bytes read. It calls Poll between blocks; Poll raises to stop it early.
using TDeflater = std::function<int64_t(TStream& Source, TStream& Dest, const std::function<void()>& Poll)>;
// The writer's own deflater: zlib at level 9.
int64_t DeflateStream(TStream& Source, TStream& Dest, const std::function<void()>& Poll);

// Where a file compressed ahead of its turn waits: a new empty, readable and writable
// stream. It may be called from several threads at once.
using TScratchFactory = std::function<std::unique_ptr<TStream>()>;

// Passes what is written on to Target and digests it on the way.
class TDigestingStream : public TStream {
public:
    explicit TDigestingStream(TStream& Target) : FTarget(Target) { MD5Init(FContext); }
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void* Buffer, size_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FTarget.Seek(Offset, Origin); }
    TStream& Target() { return FTarget; }
    // The digest of everything written so far.
    TMD5Digest Digest() { return MD5Final(FContext); }

private:
    TStream& FTarget;
    TMD5Context FContext;
};

// Builds a package on Out (an empty stream; it is only written):
// AddExecutable once, AddFile for every other entry, then Finish.
class TPackageWriter {
public:
    // Deflater compresses each file (zlib at level 9 when not given); the reader
    // takes any zlib stream.
    explicit TPackageWriter(TStream& Out, TDeflater Deflater = {});
    // Entry 0: "install.exe" in ".\", plain, offset 0, size S, its signature
    // fields written as zeros. Executable must be seekable and at its start.
    void AddExecutable(TStream& Executable);
    // Stored as one zlib stream made by the deflater, or as it is when Compress is false.
    void AddFile(const std::string& Folder, const std::string& Name, TStream& Source, bool Compress);
    // AddFile for each file in turn, with the same bytes as a result, but up to Jobs
    // files (0: one per core) are compressed at once, largest first, each into a
    // stream of Scratch (memory when not given) until the files in front of it
    // are written. Every file is opened and its name checked before anything is
    // compressed. Raises EPackageFileError for the first file, in list order, that fails.
    void AddFiles(const std::vector<TPackFile>& Files, unsigned Jobs, const TScratchFactory& Scratch = {});
    // Zeros up to a multiple of 8 of the whole file, directory, count and digest.
    // A package without ".\temp\setup.xml" is refused.
    void Finish();
    const TFileDataDynArray& Directory() const { return FDirectory; }

private:
    TFileData& NewEntry(const std::string& Folder, const std::string& Name, bool Compressed);
    void AddFilesInParallel(const std::vector<TPackFile>& Files, std::vector<std::unique_ptr<TStream>>& Sources,
                            unsigned Jobs, const TScratchFactory& Scratch);
    // Out as the writer sees it, so that Finish need not read the package back.
    TDigestingStream FOut;
    TDeflater FDeflater;
    TFileDataDynArray FDirectory;
    std::vector<uint8_t> FBuffer;
};

// The packer's stricter rules for what it writes.
// Folders ".\" or ".\x\" only; names of 1 to 63 characters.
void CheckPackFolder(const std::string& Folder);
void CheckPackName(const std::string& Name);
