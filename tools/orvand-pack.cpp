// orvand-pack: appends a distribution package to the bare install.exe, and
// lists, verifies or unpacks a built setup program.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Components/PackageFormat.h"
#include "Components/PackageWriter.h"
#include "Components/WingetManifest.h"
#ifdef ORVAND_LIBDEFLATE
#include "tools/libdeflate_stream.h"
#endif
#ifdef ORVAND_ZOPFLI
#include "tools/zopfli_stream.h"
#endif

namespace {

const char* const Usage =
    "Usage: orvand-pack [--store | --best] [--jobs N] -o OUTPUT INSTALL_EXE MANIFEST\n"
    "       orvand-pack --list FILE\n"
    "       orvand-pack --verify FILE\n"
    "       orvand-pack --extract FILE FOLDER\n"
    "       orvand-pack --manifest FOLDER --url URL SETUP\n"
    "\n"
    "Builds a setup program: OUTPUT is INSTALL_EXE (the bare setup program) with the\n"
    "files named in MANIFEST appended as a distribution package.\n"
    "\n"
    "MANIFEST lists one file a line, in package order:\n"
    "    FOLDER  NAME  SOURCE  [plain]\n"
    "FOLDER is .\\ or .\\name\\, NAME the file name in the package, SOURCE the file to\n"
    "read (relative to the manifest's folder unless absolute). Fields holding blanks\n"
    "go in double quotes. \"plain\" stores the file uncompressed; otherwise it is one\n"
    "zlib stream at level 9. Blank lines and lines starting with # are ignored.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUTPUT  the setup program to write\n"
    "      --store          store every file uncompressed\n"
    "      --best           compress with zopfli: smaller, some 15 times slower;\n"
    "                       any zlib reader takes it. Progress goes to stderr\n"
    "  -j, --jobs N         compress up to N files at once (default: one per core);\n"
    "                       the output is the same for every N\n"
    "      --list FILE      print the package directory of FILE\n"
    "      --verify FILE    check FILE's digest, directory and every entry\n"
    "      --extract FILE FOLDER  write every entry of FILE below FOLDER\n"
    "      --manifest FOLDER --url URL SETUP  write the three files of a Windows package\n"
    "                       manager (winget) manifest for SETUP, a built setup program\n"
    "                       published at URL, into FOLDER\n"
    "  -h, --help           show this text\n"
    "\n"
    "Exit status: 0 on success, 1 when a package is refused or damaged, 2 on a usage error.\n";

struct TManifestLine {
    std::string Folder, Name, Source;
    bool Plain = false;
    int Line = 0;
};

std::vector<std::string> SplitFields(const std::string& Line, int Number, const std::string& File) {
    std::vector<std::string> fields;
    size_t i = 0;
    while (true) {
        while (i < Line.size() && (Line[i] == ' ' || Line[i] == '\t')) ++i;
        if (i >= Line.size()) break;
        std::string field;
        if (Line[i] == '"') {
            size_t close = Line.find('"', i + 1);
            if (close == std::string::npos)
                throw EPackageError(Format("%s:%d: a quote is not closed.", File.c_str(), Number));
            field = Line.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            size_t end = Line.find_first_of(" \t", i);
            field = Line.substr(i, end == std::string::npos ? std::string::npos : end - i);
            i = end == std::string::npos ? Line.size() : end;
        }
        fields.push_back(field);
    }
    return fields;
}

std::vector<TManifestLine> ReadManifest(const std::string& File) {
    std::ifstream in(File, std::ios::binary);
    if (!in) throw EPackageError("Cannot open the manifest \"" + File + "\".");
    std::filesystem::path base = std::filesystem::path(File).parent_path();
    std::vector<TManifestLine> lines;
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos || text[first] == '#') continue;
        std::vector<std::string> fields = SplitFields(text, number, File);
        if (fields.size() < 3 || fields.size() > 4 || (fields.size() == 4 && fields[3] != "plain"))
            throw EPackageError(Format("%s:%d: expected FOLDER NAME SOURCE [plain].", File.c_str(), number));
        TManifestLine line;
        line.Folder = fields[0];
        line.Name = fields[1];
        std::filesystem::path source(fields[2]);
        line.Source = (source.is_absolute() || base.empty() ? source : base / source).string();
        line.Plain = fields.size() == 4;
        line.Line = number;
        lines.push_back(line);
    }
    return lines;
}

// A file compressed ahead of its turn waits here, beside the output; it is
// removed when the packer is done with it, also on failure.
class TScratchFile : public TStream {
public:
    explicit TScratchFile(std::string FileName)
        : FFileName(std::move(FileName)),
          FFile(std::make_unique<TStdFileStream>(FFileName, TStdFileStream::TMode::Create)) {}
    ~TScratchFile() override {
        FFile.reset();  // closed first: Windows removes no open file
        std::error_code ec;
        std::filesystem::remove(FFileName, ec);
    }
    size_t Read(void* Buffer, size_t Count) override { return FFile->Read(Buffer, Count); }
    size_t Write(const void* Buffer, size_t Count) override { return FFile->Write(Buffer, Count); }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FFile->Seek(Offset, Origin); }

private:
    std::string FFileName;
    std::unique_ptr<TStdFileStream> FFile;
};

#ifdef ORVAND_ZOPFLI
// Reports how much of the input zopfli has done, once a second at most, and when done.
class TProgress {
public:
    explicit TProgress(int64_t Total) : FTotal(Total), FStart(Clock::now()), FLast(FStart) {}
    void Add(size_t Bytes) {
        std::lock_guard<std::mutex> lock(FMutex);
        FDone += static_cast<int64_t>(Bytes);
        Clock::time_point now = Clock::now();
        if (FDone < FTotal && now - FLast < std::chrono::seconds(1)) return;
        FLast = now;
        double seconds = std::chrono::duration<double>(now - FStart).count();
        std::fprintf(stderr, "orvand-pack: --best: %3d %% (%.1f of %.1f MiB) after %.0f s\n",
                     FTotal ? static_cast<int>(100 * FDone / FTotal) : 100, FDone / 1048576.0, FTotal / 1048576.0,
                     seconds);
    }

private:
    using Clock = std::chrono::steady_clock;
    std::mutex FMutex;
    int64_t FTotal, FDone = 0;
    Clock::time_point FStart, FLast;
};
#endif

// Every installer setup may run is carried, or the packaged setup.xml vouches for it.
void CheckInstallers(const std::vector<TManifestLine>& Lines) {
    std::vector<std::string> carried;
    for (const TManifestLine& line : Lines) carried.push_back(line.Name);
    for (const TManifestLine& line : Lines) {
        if (line.Folder != ".\\temp\\" || line.Name != "setup.xml") continue;
        std::ifstream in(line.Source, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.eof() && !in) throw EPackageError("Cannot read \"" + line.Source + "\".");
        CheckInstallerDigests(text, carried);
    }
}

int Pack(const std::string& Output, const std::string& Executable, const std::string& Manifest, bool Store, bool Best,
         unsigned Jobs) {
    std::vector<TManifestLine> lines = ReadManifest(Manifest);
    CheckInstallers(lines);
    TDeflater deflater;
#ifdef ORVAND_LIBDEFLATE
    deflater = [](TStream& Source, TStream& Dest, const std::function<void()>& Poll) {
        return LibdeflateStream(Source, Dest, Poll);
    };
#endif
#ifdef ORVAND_ZOPFLI
    std::unique_ptr<TProgress> progress;
    if (Best && !Store) {
        int64_t total = 0;
        for (const TManifestLine& line : lines) {
            std::error_code ec;
            uintmax_t size = std::filesystem::file_size(line.Source, ec);
            if (!line.Plain && !ec) total += static_cast<int64_t>(size);
        }
        progress = std::make_unique<TProgress>(total);
        deflater = [&progress](TStream& Source, TStream& Dest, const std::function<void()>& Poll) {
            return ZopfliStream(Source, Dest, Poll, [&progress](size_t n) { progress->Add(n); });
        };
    }
#else
    (void)Best;
#endif
    std::string partial = Output + ".part";
    std::atomic<unsigned> scratchCount{0};
    auto scratch = [&]() -> std::unique_ptr<TStream> {
        return std::make_unique<TScratchFile>(partial + "." + std::to_string(++scratchCount));
    };
    auto where = [&](const TManifestLine& line, const std::exception& e) {
        return EPackageError(Format("%s:%d: %s", Manifest.c_str(), line.Line, e.what()));
    };
    try {
        {
            TStdFileStream out(partial, TStdFileStream::TMode::Create);
            TPackageWriter writer(out, deflater);
            TStdFileStream exe(Executable, TStdFileStream::TMode::Read);
            writer.AddExecutable(exe);
            std::vector<TPackFile> files;
            for (const TManifestLine& line : lines) {
                auto open = [source = line.Source]() -> std::unique_ptr<TStream> {
                    return std::make_unique<TStdFileStream>(source, TStdFileStream::TMode::Read);
                };
                files.push_back({line.Folder, line.Name, open, !(Store || line.Plain)});
            }
            try {
                writer.AddFiles(files, Jobs, scratch);
            } catch (const EPackageFileError& e) {
                throw where(lines[e.Index()], e);
            }
            writer.Finish();
        }
        std::error_code ec;
        std::filesystem::rename(partial, Output, ec);
        if (ec) throw EPackageError("Cannot write \"" + Output + "\": " + ec.message());
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove(partial, ec);  // never leave half a setup program behind
        throw;
    }
    return 0;
}

int List(const std::string& File) {
    TStdFileStream in(File, TStdFileStream::TMode::Read);
    TFileDataDynArray entries = ReadDirectory(in);
    std::printf("%-3s %-12s %-42s %-6s %10s %10s\n", "#", "Folder", "Name", "Stored", "Offset", "Size");
    for (size_t i = 0; i < entries.size(); ++i) {
        const TFileData& e = entries[i];
        std::printf("%-3zu %-12s %-42s %-6s %10ld %10ld\n", i, EntryFolder(e).c_str(), EntryName(e).c_str(),
                    IsCompressed(e) ? "zlib" : "plain", static_cast<long>(e.Offset), static_cast<long>(e.Size));
    }
    std::printf("%zu entries\n", entries.size());
    return 0;
}

int Verify(const std::string& File) {
    TPackageReader package(std::make_unique<TStdFileStream>(File, TStdFileStream::TMode::Read));
    if (!package.Verify()) {
        std::fprintf(stderr, "orvand-pack: %s: the digest does not match the contents.\n", File.c_str());
        return 1;
    }
    // The pin its program carries, where it was filled.
    const TFileDataDynArray& entries = package.Directory();
    TStream& in = package.Stream();
    TPackagePin pin;
    pin.At = entries.empty() ? -1 : FindPackagePin(in, entries[0].Size);
    if (pin.At >= 0) {
        in.SetPosition(pin.At);
        in.ReadBuffer(pin.Digest.data(), pin.Digest.size());
    }
    if (pin.Filled() && !package.Verify(pin)) {
        std::fprintf(stderr, "orvand-pack: %s: the package is not the one its setup program is pinned to.\n",
                     File.c_str());
        return 1;
    }
    for (const TFileData& e : entries) {
        TNullStream sink;
        package.Decode(e, sink);
    }
    std::printf("%s: digest and %zu entries OK\n", File.c_str(), entries.size());
    if (pin.Filled()) std::printf("%s: the package is the one its setup program is pinned to\n", File.c_str());
    return 0;
}

int Extract(const std::string& File, const std::string& Folder) {
    TPackageReader package(std::make_unique<TStdFileStream>(File, TStdFileStream::TMode::Read));
    const TFileDataDynArray& entries = package.Directory();
    for (const TFileData& e : entries) {
        std::string folder = EntryFolder(e).substr(2);  // the reader has checked it starts with ".\"
        for (char& c : folder)
            if (c == '\\') c = '/';
        std::filesystem::path dir = std::filesystem::path(Folder) / folder;
        std::filesystem::create_directories(dir);
        TStdFileStream out((dir / EntryName(e)).string(), TStdFileStream::TMode::Create);
        package.Decode(e, out);
    }
    std::printf("%zu entries written below %s\n", entries.size(), Folder.c_str());
    return 0;
}

int Manifest(const std::string& Folder, const std::string& Url, const std::string& Setup) {
    std::vector<TManifestFile> files;
    {
        TStdFileStream in(Setup, TStdFileStream::TMode::Read);
        try {
            files = WingetManifest(in, Url);
        } catch (const EPackageError& e) {
            throw EPackageError(Setup + ": " + e.what());
        }
    }
    std::filesystem::create_directories(Folder);
    for (const TManifestFile& file : files) {
        TStdFileStream out((std::filesystem::path(Folder) / file.Name).string(), TStdFileStream::TMode::Create);
        out.WriteBuffer(file.Text.data(), file.Text.size());
        std::printf("%s\n", (std::filesystem::path(Folder) / file.Name).string().c_str());
    }
    return 0;
}

int UsageError(const std::string& Message) {
    std::fprintf(stderr, "orvand-pack: %s\nTry 'orvand-pack --help'.\n", Message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string output, mode, folder, url;
    std::vector<std::string> operands;
    bool store = false, best = false;
    unsigned jobs = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            std::fputs(Usage, stdout);
            return 0;
        } else if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size()) return UsageError("option '" + a + "' needs a file name");
            output = args[++i];
        } else if (a == "--store") {
            store = true;
        } else if (a == "--best") {
#ifndef ORVAND_ZOPFLI
            return UsageError("this orvand-pack was built without zopfli, so --best is not available");
#endif
            best = true;
        } else if (a == "-j" || a == "--jobs") {
            if (i + 1 >= args.size()) return UsageError("option '" + a + "' needs a number");
            const std::string& n = args[++i];
            if (n.empty() || n.size() > 4 || n.find_first_not_of("0123456789") != std::string::npos || std::stoi(n) < 1)
                return UsageError("option '" + a + "' needs a number of 1 or more, not '" + n + "'");
            jobs = static_cast<unsigned>(std::stoi(n));
        } else if (a == "--list" || a == "--verify" || a == "--extract" || a == "--manifest") {
            if (!mode.empty()) return UsageError("only one of --list, --verify, --extract and --manifest may be given");
            mode = a;
            if (a == "--manifest") {
                if (i + 1 >= args.size()) return UsageError("option '--manifest' needs a folder");
                folder = args[++i];
            }
        } else if (a == "--url") {
            if (i + 1 >= args.size()) return UsageError("option '--url' needs an address");
            url = args[++i];
        } else if (a == "--") {
            operands.insert(operands.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option '" + a + "'");
        } else {
            operands.push_back(a);
        }
    }
    try {
        if (mode == "--list" || mode == "--verify") {
            if (operands.size() != 1) return UsageError(mode + " takes one FILE");
            return mode == "--list" ? List(operands[0]) : Verify(operands[0]);
        }
        if (mode == "--manifest") {
            if (url.empty()) return UsageError("--manifest needs --url URL, where SETUP will be published");
            if (operands.size() != 1) return UsageError("--manifest takes one SETUP");
            return Manifest(folder, url, operands[0]);
        }
        if (!url.empty()) return UsageError("--url belongs to --manifest");
        if (mode == "--extract") {
            if (operands.size() != 2) return UsageError("--extract takes FILE and FOLDER");
            return Extract(operands[0], operands[1]);
        }
        if (output.empty()) return UsageError("no output file given (-o OUTPUT)");
        if (operands.size() != 2) return UsageError("expected INSTALL_EXE and MANIFEST");
        if (store && best) return UsageError("--store and --best exclude each other");
        return Pack(output, operands[0], operands[1], store, best, jobs);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvand-pack: %s\n", e.what());
        return 1;
    }
}
