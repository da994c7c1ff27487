#include "Components/PackageWriter.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "Components/PackagePin.h"
#include "Components/SetupPaths.h"
#include "config/XmlSafety.h"
#include "support/PathUtils.h"

namespace {

// The record of a file that would follow Directory; its offset is left at 0.
TFileData MakeEntry(const TFileDataDynArray& Directory, const std::string& Folder, const std::string& Name,
                    bool Compressed) {
    if (Directory.size() >= static_cast<size_t>(MaxPackageEntries))
        throw EPackageError(
            Format("A package holds at most %d files; \"%s\" is one too many.", MaxPackageEntries, Name.c_str()));
    CheckPackFolder(Folder);
    CheckPackName(Name);
    // Lookups go by name alone, so a name may appear once in the whole package.
    for (const TFileData& entry : Directory)
        if (SameTextAscii(EntryName(entry), Name))
            throw EPackageError(Format("\"%s\" is in the package twice (as %s%s and %s%s).", Name.c_str(),
                                       EntryFolder(entry).c_str(), EntryName(entry).c_str(), Folder.c_str(),
                                       Name.c_str()));
    TFileData entry;
    std::memset(&entry, 0, sizeof(entry));
    EncodeShortString(entry.Name, Name);
    EncodeShortString(entry.Folder, Folder);
    entry.Flags = Compressed ? FileDataCompressed : 0;
    return entry;
}

struct ECancelled {};

}  // namespace

// Through 64 KiB blocks. The sequential and the parallel packer both come through
// the writer's deflater, which is what keeps their output the same.
int64_t DeflateStream(TStream& Source, TStream& Dest, const std::function<void()>& Poll) {
    std::vector<uint8_t> in(PackageBlockSize), out(PackageBlockSize);
    z_stream z{};
    if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) throw EPackageError("zlib could not be set up.");
    // Ended on every path.
    const std::unique_ptr<z_stream, int (*)(z_streamp)> ended(&z, deflateEnd);
    int64_t size = 0;
    int flush = Z_NO_FLUSH;
    do {
        Poll();
        size_t got = Source.Read(in.data(), in.size());
        size += static_cast<int64_t>(got);
        flush = got == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(got);
        int rc;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            rc = deflate(&z, flush);
            Dest.WriteBuffer(out.data(), out.size() - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    } while (flush != Z_FINISH);
    return size;
}

namespace {

// Clear and PinAt: fields to write as zeros, at positions counted from Source's first byte copied.
// Limit: the most bytes to copy, when not negative.
int64_t CopyStream(TStream& Source, TStream& Dest, std::vector<uint8_t>& Buffer, const TSignatureFields& Clear = {},
                   int64_t PinAt = -1, int64_t Limit = -1) {
    Buffer.resize(PackageBlockSize);
    int64_t size = 0;
    auto want = [&] {
        return Limit < 0 ? Buffer.size() : static_cast<size_t>(std::min<int64_t>(Limit - size, PackageBlockSize));
    };
    while (size_t got = Source.Read(Buffer.data(), want())) {
        ClearSignatureFields(Clear, size, Buffer.data(), got);
        ClearRange(PinAt, PackagePinSize, size, Buffer.data(), got);
        Dest.WriteBuffer(Buffer.data(), got);
        size += static_cast<int64_t>(got);
    }
    return size;
}

// The message of a failed file, with its place in the list.
[[noreturn]] void RaiseFileError(size_t Index, std::exception_ptr Error) {
    try {
        std::rethrow_exception(Error);
    } catch (const EPackageFileError&) {
        throw;
    } catch (const std::exception& e) {
        throw EPackageFileError(Index, e.what());
    }
}

// Compresses the files of a list on worker threads, largest first (so that the
// last file started is a small one), each into a scratch stream, while the
// caller takes them in its own order. The first failure stops the others.
class TDeflateQueue {
public:
    struct TResult {
        std::unique_ptr<TStream> Output;  // at its start
        int64_t Size = 0;                 // the bytes read from the source
    };

    // Sources[i] is compressed unless it is null.
    TDeflateQueue(const TDeflater& Deflater, const TScratchFactory& Scratch, const std::vector<TStream*>& Sources,
                  unsigned Workers)
        : FDeflater(Deflater), FScratch(Scratch), FSources(Sources), FJobs(Sources.size()) {
        std::vector<int64_t> lengths(Sources.size());
        for (size_t i = 0; i < Sources.size(); ++i) {
            if (!Sources[i]) continue;
            try {
                lengths[i] = Sources[i]->Size() - Sources[i]->Position();
            } catch (const std::exception&) {
                RaiseFileError(i, std::current_exception());
            }
            FOrder.push_back(i);
        }
        // Ties in list order.
        std::stable_sort(FOrder.begin(), FOrder.end(), [&](size_t a, size_t b) { return lengths[a] > lengths[b]; });
        size_t threads = std::min<size_t>(Workers, FOrder.size());
        try {
            for (size_t w = 0; w < threads; ++w) FThreads.emplace_back([this] { Work(); });
        } catch (...) {
            if (FThreads.empty()) throw;  // no thread at all; with one, the files still get done
        }
    }
    ~TDeflateQueue() { Stop(); }
    TDeflateQueue(const TDeflateQueue&) = delete;
    TDeflateQueue& operator=(const TDeflateQueue&) = delete;

    // Waits for file Index. When it failed or was stopped, raises EPackageFileError for
    // the first file from Index on, in list order, that failed rather than was stopped.
    TResult Take(size_t Index) {
        TJob& job = FJobs[Index];
        {
            std::unique_lock<std::mutex> lock(FMutex);
            FChanged.wait(lock, [&] { return job.Done || FCancel; });
            if (job.Done && job.Output) return {std::move(job.Output), job.Size};
        }
        Stop();
        for (size_t k = Index; k < FJobs.size(); ++k)
            if (FJobs[k].Error) RaiseFileError(k, FJobs[k].Error);
        throw EPackageFileError(Index, "The file was not compressed.");
    }

    // Cancels what is being compressed and waits for the workers to end.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(FMutex);
            FCancel = true;
        }
        for (std::thread& t : FThreads)
            if (t.joinable()) t.join();
        FThreads.clear();
    }

private:
    struct TJob {
        std::unique_ptr<TStream> Output;
        int64_t Size = 0;
        std::exception_ptr Error;
        bool Done = false;
    };

    void Work() {
        for (;;) {
            size_t index;
            {
                std::lock_guard<std::mutex> lock(FMutex);
                if (FCancel || FNext == FOrder.size()) return;
                index = FOrder[FNext++];
            }
            std::unique_ptr<TStream> output;
            int64_t size = 0;
            std::exception_ptr error;
            try {
                output = FScratch ? FScratch() : std::make_unique<TMemoryStream>();
                size = FDeflater(*FSources[index], *output, [this] {
                    if (FCancel.load(std::memory_order_relaxed)) throw ECancelled();
                });
                output->SetPosition(0);
            } catch (const ECancelled&) {
                output.reset();  // half a stream: never to be written; another file's error is reported
            } catch (...) {
                error = std::current_exception();
                output.reset();
                FCancel = true;
            }
            {
                std::lock_guard<std::mutex> lock(FMutex);
                TJob& job = FJobs[index];
                job.Output = std::move(output);
                job.Size = size;
                job.Error = error;
                job.Done = true;
            }
            FChanged.notify_all();
        }
    }

    const TDeflater& FDeflater;
    const TScratchFactory& FScratch;
    const std::vector<TStream*> FSources;
    std::vector<TJob> FJobs;
    std::vector<size_t> FOrder;  // the indexes of the files to compress, in the order they are started
    size_t FNext = 0;
    std::mutex FMutex;
    std::condition_variable FChanged;
    std::atomic<bool> FCancel{false};
    std::vector<std::thread> FThreads;
};

}  // namespace

void CheckInstallerDigests(const std::string& SetupXml, const std::vector<std::string>& Carried) {
    const std::vector<std::pair<std::string, std::string>> listed = ListedDigests(SetupXml);
    for (const char* installer : PrerequisiteInstallers) {
        if (std::any_of(Carried.begin(), Carried.end(),
                        [&](const std::string& n) { return SameTextAscii(n, installer); }))
            continue;
        bool vouched = false;
        for (const auto& [name, md5] : listed) {
            if (!SameTextAscii(name, installer)) continue;
            try {
                ParseDigest(md5);
                vouched = true;
            } catch (const std::exception&) {
            }
        }
        if (!vouched)
            throw EPackageError(
                Format("setup.xml lists no valid MD5 digest for \"%s\", and the package does not carry "
                       "it: setup would not run it.",
                       installer));
    }
}

void CheckPackName(const std::string& Name) {
    if (Name.size() > PackageMaxTextLength)
        throw EPackageError(Format("The name \"%s\" has %lu characters; a package entry holds at most 63.",
                                   Name.c_str(), static_cast<unsigned long>(Name.size())));
    if (!IsSafeEntryName(Name)) throw EPackageError(Format("\"%s\" is not a plain file name.", Name.c_str()));
}

void CheckPackFolder(const std::string& Folder) {
    bool ok = Folder == ".\\" ||
              (IsSafeEntryFolder(Folder) && Folder.find('\\', 2) == Folder.size() - 1 && Folder.size() <= 63);
    if (!ok)
        throw EPackageError(Format("The folder \"%s\" is not of the form \".\\\" or \".\\name\\\".", Folder.c_str()));
}

TPackageWriter::TPackageWriter(TStream& Out, TDeflater Deflater)
    : FOut(Out), FDeflater(Deflater ? std::move(Deflater) : TDeflater(DeflateStream)) {}

TFileData& TPackageWriter::NewEntry(const std::string& Folder, const std::string& Name, bool Compressed) {
    TFileData entry = MakeEntry(FDirectory, Folder, Name, Compressed);
    int64_t offset = FOut.Position();
    if (offset > INT32_MAX) throw EPackageError("The package would be larger than 2 GiB.");
    entry.Offset = static_cast<int32_t>(offset);
    FDirectory.push_back(entry);
    return FDirectory.back();
}

void TPackageWriter::AddEntry(const std::string& Folder, const std::string& Name, bool Compressed,
                              const std::function<int64_t()>& Write) {
    size_t index = FDirectory.size();
    NewEntry(Folder, Name, Compressed);
    int64_t size = Write();
    if (size > INT32_MAX || FOut.Position() > INT32_MAX)
        throw EPackageError(Format("\"%s\" makes the package larger than 2 GiB.", Name.c_str()));
    FDirectory[index].Size = static_cast<int32_t>(size);
}

void TPackageWriter::AddExecutable(TStream& Executable) {
    if (!FDirectory.empty() || FOut.Position() != 0)
        throw EPackageError("The setup program must be the first entry of the package.");
    // Its uninstaller would be the whole setup program.
    if (VerifyPackageDigest(Executable))
        throw EPackageError("The setup program holds a package already; give the bare install.exe.");
    TFileData& entry = NewEntry(".\\", "install.exe", false);
    // Signed later as a whole, the setup program must not carry a signature of its own,
    // nor a pin made for another package.
    TSignatureFields fields = ReadSignatureFields(Executable);
    const bool vendorSigned = EndsInCertificateTable(fields, Executable.Size());
    const int64_t programSize = vendorSigned ? fields.TableStart : Executable.Size();
    FPinAt = FindPackagePin(Executable, programSize);
    Executable.SetPosition(0);
    int64_t size = CopyStream(Executable, FOut, FBuffer, fields, FPinAt, programSize);
    if (size > INT32_MAX) throw EPackageError("The setup program is larger than 2 GiB.");
    entry.Size = static_cast<int32_t>(size);
    // Signed by its vendor before packing: kept whole, signature and all, for the uninstaller.
    if (vendorSigned) {
        Executable.SetPosition(0);
        AddEntry(SignedUninstallerFolder, SignedUninstallerName, false,
                 [&] { return CopyStream(Executable, FOut, FBuffer); });
    }
}

void TPackageWriter::AddFile(const std::string& Folder, const std::string& Name, TStream& Source, bool Compress) {
    if (FDirectory.empty()) throw EPackageError("The setup program must be the first entry of the package.");
    AddEntry(Folder, Name, Compress,
             [&] { return Compress ? FDeflater(Source, FOut, [] {}) : CopyStream(Source, FOut, FBuffer); });
}

void TPackageWriter::AddFiles(const std::vector<TPackFile>& Files, unsigned Jobs, const TScratchFactory& Scratch) {
    if (FDirectory.empty()) throw EPackageError("The setup program must be the first entry of the package.");
    // A refused file costs nothing: none has been compressed yet.
    TFileDataDynArray planned = FDirectory;
    std::vector<std::unique_ptr<TStream>> sources;
    for (size_t i = 0; i < Files.size(); ++i) {
        try {
            sources.push_back(Files[i].Open());
            planned.push_back(MakeEntry(planned, Files[i].Folder, Files[i].Name, Files[i].Compress));
        } catch (const std::exception&) {
            RaiseFileError(i, std::current_exception());
        }
    }
    if (Jobs == 0) Jobs = std::max(1u, std::thread::hardware_concurrency());
    size_t compressed =
        static_cast<size_t>(std::count_if(Files.begin(), Files.end(), [](const TPackFile& f) { return f.Compress; }));
    if (Jobs > 1 && compressed > 1) {
        AddFilesInParallel(Files, sources, Jobs, Scratch);
        return;
    }
    for (size_t i = 0; i < Files.size(); ++i) {
        try {
            AddFile(Files[i].Folder, Files[i].Name, *sources[i], Files[i].Compress);
        } catch (const std::exception&) {
            RaiseFileError(i, std::current_exception());
        }
    }
}

void TPackageWriter::AddFilesInParallel(const std::vector<TPackFile>& Files,
                                        std::vector<std::unique_ptr<TStream>>& Sources, unsigned Jobs,
                                        const TScratchFactory& Scratch) {
    std::vector<TStream*> queued(Files.size(), nullptr);
    for (size_t i = 0; i < Files.size(); ++i)
        if (Files[i].Compress) queued[i] = Sources[i].get();
    TDeflateQueue queue(FDeflater, Scratch, queued, Jobs);
    // Written in list order, each as soon as it and everything in front of it is done.
    for (size_t i = 0; i < Files.size(); ++i) {
        TDeflateQueue::TResult done;
        if (Files[i].Compress) done = queue.Take(i);
        try {
            AddEntry(Files[i].Folder, Files[i].Name, Files[i].Compress, [&] {
                if (!done.Output) return CopyStream(*Sources[i], FOut, FBuffer);
                CopyStream(*done.Output, FOut, FBuffer);
                return done.Size;
            });
        } catch (const std::exception&) {
            std::exception_ptr error = std::current_exception();
            queue.Stop();
            RaiseFileError(i, error);
        }
    }
}

void TPackageWriter::Finish() {
    bool hasSetup = std::any_of(FDirectory.begin(), FDirectory.end(), [](const TFileData& e) {
        return EntryFolder(e) == ".\\temp\\" && SameTextAscii(EntryName(e), "setup.xml");
    });
    if (!hasSetup) throw EPackageError("The package has no \"setup.xml\" in \".\\temp\\\".");
    // A signing tool puts its table at a multiple of 8: the package must end right there.
    int64_t end = FOut.Position() + PackageRecordSize * static_cast<int64_t>(FDirectory.size()) + PackageTrailerSize;
    const uint8_t zeros[PackageAlignment] = {};
    if (size_t padding = static_cast<size_t>((PackageAlignment - end % PackageAlignment) % PackageAlignment))
        FOut.WriteBuffer(zeros, padding);
    FOut.WriteBuffer(FDirectory.data(), FDirectory.size() * sizeof(TFileData));
    int32_t count = static_cast<int32_t>(FDirectory.size());
    uint8_t countBytes[4] = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8),
                             static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 24)};
    FOut.WriteBuffer(countBytes, sizeof(countBytes));
    // What was written counts the pin as zeros: its digest is the pin.
    TMD5Digest digest = FOut.Digest();
    FOut.Target().WriteBuffer(digest.data(), digest.size());
    if (FPinAt >= 0) FillPackagePin(FOut.Target(), FPinAt, digest);
}

void FillPackagePin(TStream& Package, int64_t PinAt, const TMD5Digest& Pin) {
    Package.SetPosition(PinAt);
    Package.WriteBuffer(Pin.data(), Pin.size());
    const int64_t end = Package.Size();
    TMD5Digest digest = DigestPackage(Package, end, TSignatureFields{}, -1);
    Package.SetPosition(end - 16);
    Package.WriteBuffer(digest.data(), digest.size());
}

bool PinPackage(TStream& Package) {
    const TSignatureFields fields = ReadSignatureFields(Package);
    const int64_t end = Package.Size();
    if (EndsInCertificateTable(fields, end))
        throw EPackageError("The setup program is signed already; pin its package before signing it.");
    const TFileDataDynArray directory = ReadDirectory(Package);
    if (directory.empty() || directory[0].Offset != 0 || IsCompressed(directory[0])) return false;
    const int64_t pinAt = FindPackagePin(Package, directory[0].Size);
    if (pinAt < 0) return false;
    FillPackagePin(Package, pinAt, DigestPackage(Package, end, fields, pinAt));
    return true;
}
