#pragma once
// Writing a distribution package (the packer): the setup program, the files,
// then the directory and its digest, laid out as PackageFormat.h reads them.
// Portable.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Components/PackageFormat.h"
#include "config/md5.h"
#include "support/Streams.h"

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

// Builds a package on Out (an empty stream; it is only written):
// AddExecutable once, AddFile for every other entry, then Finish.
class TPackageWriter {
public:
    // Deflater compresses each file (zlib at level 9 when not given); the reader
    // takes any zlib stream.
    explicit TPackageWriter(TStream& Out, TDeflater Deflater = {});
    // Entry 0: "install.exe" in ".\", plain, offset 0, size S, its signature
    // fields and its package pin written as zeros. Executable must be seekable and at
    // its start. A program its vendor signed goes in without its certificate table, and
    // whole as the signed uninstaller, entry 1. A program that holds a package is refused.
    void AddExecutable(TStream& Executable);
    // Stored as one zlib stream made by the deflater, or as it is when Compress is false.
    void AddFile(const std::string& Folder, const std::string& Name, TStream& Source, bool Compress);
    // AddFile for each file in turn, with the same bytes as a result, but up to Jobs
    // files (0: one per core) are compressed at once, largest first, each into a
    // stream of Scratch (memory when not given) until the files in front of it
    // are written. Every file is opened and its name checked before anything is
    // compressed. Raises EPackageFileError for the first file, in list order, that fails.
    void AddFiles(const std::vector<TPackFile>& Files, unsigned Jobs, const TScratchFactory& Scratch = {});
    // Zeros up to a multiple of 8 of the whole file, directory, count and digest;
    // then the setup program's package pin is filled (FillPackagePin), for which
    // Out must be readable. A package without ".\temp\setup.xml" is refused.
    void Finish();
    const TFileDataDynArray& Directory() const { return FDirectory; }

private:
    TFileData& NewEntry(const std::string& Folder, const std::string& Name, bool Compressed);
    // A new entry whose bytes Write puts on FOut; Write returns the entry's size.
    void AddEntry(const std::string& Folder, const std::string& Name, bool Compressed,
                  const std::function<int64_t()>& Write);
    void AddFilesInParallel(const std::vector<TPackFile>& Files, std::vector<std::unique_ptr<TStream>>& Sources,
                            unsigned Jobs, const TScratchFactory& Scratch);
    // Out as the writer sees it, so that Finish need not read the package back.
    TDigestingStream FOut;
    TDeflater FDeflater;
    int64_t FPinAt = -1;
    TFileDataDynArray FDirectory;
    std::vector<uint8_t> FBuffer;
};

// Writes Pin into the finished, unsigned package at PinAt and the package's
// trailing digest anew, which counts it.
void FillPackagePin(TStream& Package, int64_t PinAt, const TMD5Digest& Pin);
// Pins a finished, unsigned package to its setup program (entry 0): the one
// place that fills a pin. TPackageWriter::Finish does it for what it writes;
// a package finished another way is pinned here before it is signed. False,
// with nothing changed, when the program has no pin. Raises EPackageError for a
// signed package: a signature made before would no longer hold.
bool PinPackage(TStream& Package);

// Setup runs a prerequisite installer only on a digest the package vouches for:
// raises EPackageError naming the first installer that Carried (the names the
// package holds) lacks and SetupXml (the packaged setup.xml) lists no valid
// MD5 digest for.
void CheckInstallerDigests(const std::string& SetupXml, const std::vector<std::string>& Carried);

// The packer's stricter rules for what it writes.
// Folders ".\" or ".\x\" only; names of 1 to 63 characters.
void CheckPackFolder(const std::string& Folder);
void CheckPackName(const std::string& Name);
