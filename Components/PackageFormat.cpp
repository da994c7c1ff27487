#include "Components/PackageFormat.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "support/PathUtils.h"
#include "Components/PackagePin.h"
#include "config/md5.h"

namespace {

const char* const DamagedPrefix = "The distribution package is damaged: ";

[[noreturn]] void Damaged(const std::string& What) { throw EInstallException(DamagedPrefix + What); }

bool IsReservedDeviceName(const std::string& Name) {
    std::string stem = LowerAscii(Name.substr(0, Name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

// Reads at most Limit bytes of one zlib stream from Source and inflates them.
class TInflater {
public:
    TInflater(TStream& Source, int64_t Limit, const std::string& Name)
        : FSource(Source), FInputLeft(Limit), FName(Name), FInput(PackageBlockSize) {
        std::memset(&FZ, 0, sizeof(FZ));
        if (inflateInit(&FZ) != Z_OK) throw EInstallException("Not enough memory to decompress \"" + Name + "\".");
    }
    ~TInflater() { inflateEnd(&FZ); }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    // Up to Count bytes; 0 once the stream or its stored bytes have ended.
    size_t Read(uint8_t* Buffer, size_t Count) {
        if (FEnded) return 0;
        FZ.next_out = Buffer;
        FZ.avail_out = static_cast<uInt>(Count);
        while (FZ.avail_out > 0) {
            if (FZ.avail_in == 0 && FInputLeft > 0) {
                size_t want = static_cast<size_t>(std::min<int64_t>(FInputLeft, FInput.size()));
                size_t got = FSource.Read(FInput.data(), want);
                if (got == 0) {
                    FInputLeft = 0;  // the file is shorter than it said
                } else {
                    FInputLeft -= static_cast<int64_t>(got);
                    FZ.next_in = FInput.data();
                    FZ.avail_in = static_cast<uInt>(got);
                }
            }
            int rc = inflate(&FZ, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                FEnded = true;
                break;
            }
            if (rc == Z_BUF_ERROR) break;  // no input left to make progress with
            if (rc != Z_OK)
                Damaged(Format("the compressed data of \"%s\" is corrupt (%s).", FName.c_str(),
                               FZ.msg ? FZ.msg : "zlib error"));
        }
        return Count - FZ.avail_out;
    }

    // After the last byte wanted: the stream must end there, so that its
    // Adler-32 check is tested too.
    void Finish() {
        uint8_t extra;
        if (Read(&extra, 1) != 0)
            Damaged(Format("the compressed data of \"%s\" holds more than its size.", FName.c_str()));
        if (!FEnded) Damaged(Format("the compressed data of \"%s\" ends before its check value.", FName.c_str()));
    }

private:
    TStream& FSource;
    int64_t FInputLeft;
    std::string FName;
    std::vector<uint8_t> FInput;
    z_stream FZ;
    bool FEnded = false;
};

uint32_t GetLE32(const uint8_t* Bytes) {
    return static_cast<uint32_t>(Bytes[0]) | static_cast<uint32_t>(Bytes[1]) << 8 |
           static_cast<uint32_t>(Bytes[2]) << 16 | static_cast<uint32_t>(Bytes[3]) << 24;
}

// Up to Count bytes from Position; how many the file holds there.
size_t ReadAt(TStream& File, int64_t Position, int64_t Length, uint8_t* Buffer, size_t Count) {
    if (Position < 0 || Position >= Length) return 0;
    File.SetPosition(Position);
    size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(Count), Length - Position));
    size_t got = 0;
    while (got < want) {
        size_t n = File.Read(Buffer + got, want - got);
        if (n == 0) break;
        got += n;
    }
    return got;
}

}  // namespace

uint32_t Le16(const std::vector<uint8_t>& Bytes, size_t At) {
    return At + 2 <= Bytes.size() ? uint32_t(Bytes[At]) | uint32_t(Bytes[At + 1]) << 8 : 0;
}
uint32_t Le32(const std::vector<uint8_t>& Bytes, size_t At) {
    return At + 4 <= Bytes.size() ? Le16(Bytes, At) | Le16(Bytes, At + 2) << 16 : 0;
}

TPeImage ReadPeImage(TStream& File) {
    TPeImage image;
    const int64_t length = File.Size();
    uint8_t dos[64];
    if (ReadAt(File, 0, length, dos, sizeof(dos)) < sizeof(dos) || dos[0] != 'M' || dos[1] != 'Z') return image;
    const int64_t header = GetLE32(dos + 0x3C);
    // "PE\0\0", the file header, the largest optional header and up to 96 sections.
    std::vector<uint8_t> head(24 + 240 + 96 * 40);
    head.resize(ReadAt(File, header, length, head.data(), head.size()));
    if (head.size() < 26 || std::memcmp(head.data(), "PE\0\0", 4) != 0) return image;
    const uint32_t magic = Le16(head, 24);
    const size_t directories = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;  // PE32, PE32+
    if (directories == 0) return image;
    image.Header = header;
    image.Machine = Le16(head, 4);
    image.Directories = 24 + directories;
    image.Sections = 24 + Le16(head, 20);
    image.SectionCount = std::min<size_t>(Le16(head, 6), 96);
    image.Head = std::move(head);
    return image;
}

TSignatureFields ReadSignatureFields(TStream& File) {
    const TPeImage image = ReadPeImage(File);
    if (image.Header < 0) return {};
    const std::vector<uint8_t>& head = image.Head;
    const size_t entry = image.Directories + 4 * 8;  // the fifth directory is the certificate table
    const size_t optionalSize = Le16(head, 20);
    if (head.size() < entry + 8 || 24 + optionalSize < entry + 8 || Le32(head, image.Directories - 4) < 5) return {};
    TSignatureFields fields;
    fields.CheckSumAt = image.Header + 24 + 64;
    fields.TableEntryAt = image.Header + static_cast<int64_t>(entry);
    fields.TableStart = Le32(head, entry);
    fields.TableSize = Le32(head, entry + 4);
    return fields;
}

bool EndsInCertificateTable(const TSignatureFields& Fields, int64_t FileLength) {
    return Fields.TableEntryAt >= 0 && Fields.TableSize > 0 && Fields.TableStart + Fields.TableSize == FileLength &&
           Fields.TableEntryAt + 8 <= Fields.TableStart;
}

void ClearRange(int64_t At, int64_t Size, int64_t Position, uint8_t* Bytes, size_t Count) {
    if (At < 0) return;
    int64_t from = std::max(At, Position), to = std::min(At + Size, Position + static_cast<int64_t>(Count));
    if (from < to) std::memset(Bytes + (from - Position), 0, static_cast<size_t>(to - from));
}

void ClearSignatureFields(const TSignatureFields& Fields, int64_t Position, uint8_t* Bytes, size_t Count) {
    ClearRange(Fields.CheckSumAt, 4, Position, Bytes, Count);
    ClearRange(Fields.TableEntryAt, 8, Position, Bytes, Count);
}

bool TPackagePin::Filled() const {
    for (uint8_t b : Digest)
        if (b) return true;
    return false;
}

bool IsSignedUninstaller(const TFileData& Entry) {
    return !IsCompressed(Entry) && EntryFolder(Entry) == SignedUninstallerFolder &&
           SameTextAscii(EntryName(Entry), SignedUninstallerName);
}

const TFileData& ExtractionSource(const TFileDataDynArray& Directory, const TFileData& Entry) {
    if (IsCompressed(Entry) || Entry.Offset != 0) return Entry;
    for (const TFileData& other : Directory)
        if (IsSignedUninstaller(other)) return other;
    return Entry;
}

int64_t PackageEnd(TStream& Package) {
    TSignatureFields fields = ReadSignatureFields(Package);
    int64_t length = Package.Size();
    return EndsInCertificateTable(fields, length) ? fields.TableStart : length;
}

int64_t PackageDataEnd(TStream& Package, size_t Count) {
    return PackageEnd(Package) - PackageTrailerSize - PackageRecordSize * static_cast<int64_t>(Count);
}

std::string DecodeShortString(const uint8_t (&Field)[64]) {
    if (Field[0] > PackageMaxTextLength) Damaged("a name or folder in its directory is longer than 63 characters.");
    return std::string(reinterpret_cast<const char*>(Field + 1), Field[0]);
}

void EncodeShortString(uint8_t (&Field)[64], const std::string& Text) {
    if (Text.size() > PackageMaxTextLength)
        throw EInstallException("\"" + Text + "\" is longer than 63 characters and does not fit a package entry.");
    std::memset(Field, 0, sizeof(Field));
    Field[0] = static_cast<uint8_t>(Text.size());
    std::memcpy(Field + 1, Text.data(), Text.size());
}

std::string EntryName(const TFileData& Entry) { return DecodeShortString(Entry.Name); }
std::string EntryFolder(const TFileData& Entry) { return DecodeShortString(Entry.Folder); }
bool IsCompressed(const TFileData& Entry) { return (Entry.Flags & FileDataCompressed) != 0; }

bool IsSafeEntryName(const std::string& Name) {
    if (Name.empty()) return false;
    bool onlyDots = true;
    for (unsigned char c : Name) {
        if (c < 32 || std::strchr("\\/:*?\"<>|", c)) return false;
        if (c != '.' && c != ' ') onlyDots = false;
    }
    // ".", ".." and the like name no file (Windows drops trailing dots and blanks).
    return !onlyDots && !IsReservedDeviceName(Name);
}

bool IsSafeEntryFolder(const std::string& Folder) {
    if (Folder.size() < 2 || Folder.compare(0, 2, ".\\") != 0 || Folder.back() != '\\') return false;
    size_t start = 2;
    while (start < Folder.size()) {
        size_t end = Folder.find('\\', start);
        if (!IsSafeEntryName(Folder.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

void ValidateEntry(const TFileData& Entry, int64_t DataEnd) {
    std::string name = EntryName(Entry);
    std::string folder = EntryFolder(Entry);
    if (!IsSafeEntryName(name)) Damaged(Format("the entry name \"%s\" is not a plain file name.", name.c_str()));
    if (!IsSafeEntryFolder(folder))
        Damaged(
            Format("the folder \"%s\" of \"%s\" does not lie inside the target folder.", folder.c_str(), name.c_str()));
    int64_t offset = Entry.Offset, size = Entry.Size;
    if (offset < 0 || size < 0) Damaged(Format("\"%s\" has a negative offset or size.", name.c_str()));
    if (offset > DataEnd || (!IsCompressed(Entry) && offset + size > DataEnd))
        Damaged(Format("the stored data of \"%s\" lies outside the file.", name.c_str()));
}

TFileDataDynArray ReadDirectory(TStream& Package) {
    int64_t length = PackageEnd(Package);
    if (length < PackageTrailerSize) Damaged("the file is too short to hold a package.");
    Package.SetPosition(length - PackageTrailerSize);
    uint8_t countBytes[4];
    Package.ReadBuffer(countBytes, sizeof(countBytes));
    int32_t count =
        static_cast<int32_t>(static_cast<uint32_t>(countBytes[0]) | static_cast<uint32_t>(countBytes[1]) << 8 |
                             static_cast<uint32_t>(countBytes[2]) << 16 | static_cast<uint32_t>(countBytes[3]) << 24);
    if (count < 0 || count > MaxPackageEntries) throw EInstallException("Distribution package contains to many files.");
    int64_t start = PackageDataEnd(Package, static_cast<size_t>(count));
    if (start < 0) Damaged("its directory is larger than the file.");
    TFileDataDynArray entries(static_cast<size_t>(count));
    Package.SetPosition(start);
    if (count) Package.ReadBuffer(entries.data(), entries.size() * sizeof(TFileData));
    for (const TFileData& entry : entries) ValidateEntry(entry, start);
    return entries;
}

bool VerifyPackageDigest(TStream& Package, const TPackagePin& Pin) {
    const TSignatureFields fields = ReadSignatureFields(Package);
    const int64_t length = Package.Size();
    const bool isSigned = EndsInCertificateTable(fields, length);
    const int64_t end = isSigned ? fields.TableStart : length;
    if (end < 16) return false;
    const bool pinned = Pin.Filled();
    if (pinned && (Pin.At < 0 || Pin.At + PackagePinSize > end - 16)) return false;
    TMD5Digest stored;
    Package.SetPosition(end - 16);
    Package.ReadBuffer(stored.data(), stored.size());
    if (!isSigned && !pinned) return SameDigest(stored, DigestStream(Package, 0, end - 16));
    // One pass for both: the packer digested the signature fields as it wrote them, zeros,
    // and made the pin from the file with the pin's own bytes as zeros too.
    TMD5Context whole, pin;
    MD5Init(whole);
    MD5Init(pin);
    bool pinInFile = true;
    std::vector<uint8_t> buffer(PackageBlockSize);
    Package.SetPosition(0);
    for (int64_t at = 0; at < end - 16;) {
        size_t count = static_cast<size_t>(std::min<int64_t>(end - 16 - at, PackageBlockSize));
        Package.ReadBuffer(buffer.data(), count);
        if (isSigned) ClearSignatureFields(fields, at, buffer.data(), count);
        MD5Update(whole, buffer.data(), static_cast<uint32_t>(count));
        if (pinned) {
            for (int64_t i = std::max(Pin.At, at); i < std::min(Pin.At + PackagePinSize, at + int64_t(count)); ++i)
                pinInFile = pinInFile && buffer[size_t(i - at)] == Pin.Digest[size_t(i - Pin.At)];
            ClearSignatureFields(fields, at, buffer.data(), count);
            ClearRange(Pin.At, PackagePinSize, at, buffer.data(), count);
            MD5Update(pin, buffer.data(), static_cast<uint32_t>(count));
        }
        at += static_cast<int64_t>(count);
    }
    return SameDigest(stored, MD5Final(whole)) && (!pinned || (pinInFile && SameDigest(Pin.Digest, MD5Final(pin))));
}

TMD5Digest DigestPackage(TStream& Package, int64_t End, const TSignatureFields& Fields, int64_t PinAt) {
    TMD5Context context;
    MD5Init(context);
    std::vector<uint8_t> buffer(PackageBlockSize);
    Package.SetPosition(0);
    for (int64_t at = 0; at < End - 16;) {
        size_t count = static_cast<size_t>(std::min<int64_t>(End - 16 - at, PackageBlockSize));
        Package.ReadBuffer(buffer.data(), count);
        ClearSignatureFields(Fields, at, buffer.data(), count);
        ClearRange(PinAt, PackagePinSize, at, buffer.data(), count);
        MD5Update(context, buffer.data(), static_cast<uint32_t>(count));
        at += static_cast<int64_t>(count);
    }
    return MD5Final(context);
}

int64_t FindPackagePin(TStream& Program, int64_t Length) {
    uint8_t marker[sizeof(PackagePin.Marker)];
    for (size_t i = 0; i < sizeof(marker); ++i) marker[i] = PackagePin.Marker[i];
    // Blocks that overlap by the marker's length less one, so that none is missed at a seam.
    const size_t overlap = sizeof(marker) - 1;
    std::vector<uint8_t> buffer(PackageBlockSize + overlap);
    int64_t found = -1, at = 0;
    size_t kept = 0;
    Program.SetPosition(0);
    while (at < Length) {
        size_t want = static_cast<size_t>(std::min<int64_t>(Length - at, PackageBlockSize));
        size_t got = Program.Read(buffer.data() + kept, want);
        if (got == 0) break;
        const size_t size = kept + got;
        const int64_t start = at - static_cast<int64_t>(kept);
        for (auto it = buffer.begin(); size >= sizeof(marker);) {
            it = std::search(it, buffer.begin() + static_cast<ptrdiff_t>(size), marker, marker + sizeof(marker));
            if (it == buffer.begin() + static_cast<ptrdiff_t>(size)) break;
            if (found >= 0) Damaged("its setup program holds the package pin's marker twice.");
            found = start + (it - buffer.begin()) + static_cast<int64_t>(sizeof(marker));
            ++it;
        }
        kept = std::min(overlap, size);
        std::memmove(buffer.data(), buffer.data() + size - kept, kept);
        at += static_cast<int64_t>(got);
    }
    // The pin's bytes must lie inside the program too.
    if (found >= 0 && found + PackagePinSize > Length) Damaged("its setup program ends inside its package pin.");
    return found;
}

void DecodeEntry(TStream& Package, const TFileData& Entry, int64_t DataEnd, TStream& Dest) {
    ValidateEntry(Entry, DataEnd);
    const std::string name = EntryName(Entry);
    const int64_t offset = Entry.Offset, size = Entry.Size;
    // The setup program: a signature of the whole file is no signature of the copy,
    // and its pin ties the whole file to it, not the copy.
    const bool program = !IsCompressed(Entry) && offset == 0;
    const TSignatureFields fields = program ? ReadSignatureFields(Package) : TSignatureFields{};
    const int64_t pinAt = program ? FindPackagePin(Package, size) : -1;
    Package.SetPosition(offset);
    std::vector<uint8_t> buffer(PackageBlockSize);
    int64_t remaining = size;
    auto copy = [&](auto&& read) {
        while (remaining > 0) {
            size_t want = static_cast<size_t>(std::min<int64_t>(remaining, PackageBlockSize));
            size_t got = read(buffer.data(), want);
            if (got == 0)
                Damaged(Format("the stored data of \"%s\" ends after %lld of %lld bytes.", name.c_str(),
                               static_cast<long long>(size - remaining), static_cast<long long>(size)));
            if (program) ClearSignatureFields(fields, offset + size - remaining, buffer.data(), got);
            ClearRange(pinAt, PackagePinSize, offset + size - remaining, buffer.data(), got);
            Dest.WriteBuffer(buffer.data(), got);
            remaining -= static_cast<int64_t>(got);
        }
    };
    if (IsCompressed(Entry)) {
        TInflater source(Package, DataEnd - offset, name);
        copy([&](uint8_t* b, size_t n) { return source.Read(b, n); });
        source.Finish();
    } else {
        copy([&](uint8_t* b, size_t n) { return Package.Read(b, n); });
    }
}

const TFileDataDynArray& TPackageReader::Directory() {
    if (FDataEnd < 0) {
        FDirectory = ReadDirectory(*FPackage);
        FDataEnd = PackageDataEnd(*FPackage, FDirectory.size());
    }
    return FDirectory;
}

const TFileData* TPackageReader::Find(const std::string& Name) {
    for (const TFileData& entry : Directory())
        if (SameTextAscii(EntryName(entry), Name)) return &entry;
    return nullptr;
}

void TPackageReader::Check(const TFileData& Entry) {
    Directory();
    ValidateEntry(Entry, FDataEnd);
}

void TPackageReader::Decode(const TFileData& Entry, TStream& Dest) {
    Directory();
    DecodeEntry(*FPackage, Entry, FDataEnd, Dest);
}
