#include "Components/PackageFormat.h"
#include "Components/PackageWriter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

#include "tests/Components/PackageTestUtil.h"

using namespace packtest;
using namespace ::testing;

namespace {

Bytes Decode(const Bytes& Package, const TFileData& Entry, int64_t DataEnd = -1) {
    TMemoryStream in(Package);
    TMemoryStream out;
    if (DataEnd < 0) DataEnd = static_cast<int64_t>(Package.size()) - 20 - 137 * Count(Package);
    DecodeEntry(in, Entry, DataEnd, out);
    return out.Data();
}

bool Verifies(const Bytes& Package) {
    return OnStream(Package, [](TStream& s) { return VerifyPackageDigest(s); });
}

TFileDataDynArray Directory(const Bytes& Package) { return OnStream(Package, ReadDirectory); }

// Reading the directory, or decoding Entry, fails with a message that Matcher takes.
template <class TMatcher>
void ExpectDirectoryRefused(const Bytes& Package, TMatcher Matcher) {
    EXPECT_THAT([&] { Directory(Package); }, ThrowsMessage<EInstallException>(Matcher));
}
template <class TMatcher>
void ExpectDecodeRefused(const Bytes& Package, const TFileData& Entry, TMatcher Matcher, int64_t DataEnd = -1) {
    EXPECT_THAT([&] { Decode(Package, Entry, DataEnd); }, ThrowsMessage<EInstallException>(Matcher));
}

const std::string TooMany = "Distribution package contains to many files.";

// Numbers are stored little-endian whatever the host; these never go through TFileData.
void PutLE32(Bytes& To, size_t At, uint32_t Value) {
    for (int i = 0; i < 4; ++i) To[At + i] = static_cast<uint8_t>(Value >> (8 * i));
}
uint32_t GetLE32(const Bytes& From, size_t At) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(From[At + i]) << (8 * i);
    return v;
}

// A 137-byte record laid out by hand: name at 0 and folder at 64 (length byte,
// then the text, zero-padded), flags at 128, offset at 129, size at 133.
Bytes RawRecord(const std::string& Folder, const std::string& Name, uint8_t Flags, uint32_t Offset, uint32_t Size) {
    Bytes r(137, 0);
    r[0] = static_cast<uint8_t>(Name.size());
    std::copy(Name.begin(), Name.end(), r.begin() + 1);
    r[64] = static_cast<uint8_t>(Folder.size());
    std::copy(Folder.begin(), Folder.end(), r.begin() + 65);
    r[128] = Flags;
    PutLE32(r, 129, Offset);
    PutLE32(r, 133, Size);
    return r;
}

// The first byte where Got and Want differ, for a readable failure; empty when equal.
std::string Mismatch(const Bytes& Got, const Bytes& Want) {
    size_t i = 0;
    while (i < Got.size() && i < Want.size() && Got[i] == Want[i]) ++i;
    if (i == Got.size() && i == Want.size()) return "";
    if (i == Got.size() || i == Want.size())
        return "length " + std::to_string(Got.size()) + ", expected " + std::to_string(Want.size());
    return "byte " + std::to_string(i) + ": " + std::to_string(Got[i]) + ", expected " + std::to_string(Want[i]);
}

Bytes RecordBytes(const Bytes& Package, int Index) { return Slice(Package, RecordPosition(Package, Index), 137); }

struct THandEntry {
    std::string Folder, Name;
    Bytes Stored;
    uint8_t Flags;
    uint32_t Size;
};

// A package put together byte by byte: the stored data back to back from offset
// 0, zeros that make the whole a multiple of 8 long (none from an older packer),
// the records, the count and the MD5 digest of all that.
Bytes HandPackage(const std::vector<THandEntry>& Entries, bool Padded = true) {
    Bytes pkg, records;
    for (const THandEntry& e : Entries) {
        Bytes r = RawRecord(e.Folder, e.Name, e.Flags, static_cast<uint32_t>(pkg.size()), e.Size);
        records.insert(records.end(), r.begin(), r.end());
        pkg.insert(pkg.end(), e.Stored.begin(), e.Stored.end());
    }
    while (Padded && (pkg.size() + records.size() + 20) % 8 != 0) pkg.push_back(0);
    pkg.insert(pkg.end(), records.begin(), records.end());
    pkg.resize(pkg.size() + 4);
    PutLE32(pkg, pkg.size() - 4, static_cast<uint32_t>(Entries.size()));
    const TMD5Digest digest = Md5Digest({reinterpret_cast<const char*>(pkg.data()), pkg.size()});
    pkg.insert(pkg.end(), digest.begin(), digest.end());
    return pkg;
}

// One zlib stream made by zlib itself, not by the packer.
Bytes Compress2(const Bytes& Data) {
    uLongf length = compressBound(static_cast<uLong>(Data.size()));
    Bytes out(length);
    EXPECT_EQ(compress2(out.data(), &length, Data.data(), static_cast<uLong>(Data.size()), Z_BEST_COMPRESSION), Z_OK);
    out.resize(length);
    return out;
}

}  // namespace

TEST(PackageFormat, RoundTripKeepsOrderOffsetsAndBytes) {
    Bytes exe = BareExe();
    Bytes big = Noise(200000, 7);  // several 64 KiB blocks, in and out
    Bytes repetitive(150000, 'a');
    Bytes pkg = Build(exe, {{".\\", "orvand.exe", big, true},
                            {".\\", "plain.bin", big, false},
                            {".\\data\\", "orvand.dic", repetitive, true},
                            {".\\data\\", "empty.txt", {}, true},
                            {".\\data\\", "empty-plain.txt", {}, false}});
    TFileDataDynArray dir = Directory(pkg);
    ASSERT_EQ(dir.size(), 7u);
    EXPECT_EQ(EntryName(dir[0]), "install.exe");
    EXPECT_EQ(EntryFolder(dir[0]), ".\\");
    EXPECT_EQ(dir[0].Flags, 0);
    EXPECT_EQ(int32_t(dir[0].Offset), 0);
    EXPECT_EQ(int32_t(dir[0].Size), static_cast<int32_t>(exe.size()));
    EXPECT_EQ(Decode(pkg, dir[0]), exe);
    EXPECT_EQ(EntryName(dir[6]), "setup.xml");
    EXPECT_EQ(EntryFolder(dir[6]), ".\\temp\\");

    // Stored data starts right after the executable, back to back.
    EXPECT_EQ(int32_t(dir[1].Offset), static_cast<int32_t>(exe.size()));
    EXPECT_EQ(dir[2].Offset - dir[1].Offset > 200000, true);  // noise does not shrink
    EXPECT_EQ(dir[3].Offset - dir[2].Offset, 200000);         // plain: exactly the file
    for (int i : {1, 3, 4, 6}) {
        EXPECT_EQ(dir[i].Flags, FileDataCompressed) << i;
        EXPECT_EQ(Slice(pkg, dir[i].Offset, 2), (Bytes{0x78, 0xDA})) << i;
    }
    EXPECT_LT(dir[4].Offset - dir[3].Offset, 2000);  // compressed for real
    EXPECT_EQ(Decode(pkg, dir[1]), big);
    EXPECT_EQ(Decode(pkg, dir[2]), big);
    EXPECT_EQ(Decode(pkg, dir[3]), repetitive);
    EXPECT_EQ(Decode(pkg, dir[4]), Bytes{});
    EXPECT_EQ(Decode(pkg, dir[5]), Bytes{});
    EXPECT_EQ(int32_t(dir[4].Size), 0);

    // The records as bytes, against values known without the reader; the offset of
    // plain.bin is checked by what it points at.
    ASSERT_EQ(GetLE32(pkg, pkg.size() - 20), 7u);
    const uint32_t exeSize = static_cast<uint32_t>(exe.size());
    EXPECT_EQ(Mismatch(RecordBytes(pkg, 0), RawRecord(".\\", "install.exe", 0, 0, exeSize)), "");
    EXPECT_EQ(Mismatch(RecordBytes(pkg, 1), RawRecord(".\\", "orvand.exe", FileDataCompressed, exeSize, 200000)), "");
    Bytes plain = RecordBytes(pkg, 2);
    uint32_t plainOffset = GetLE32(plain, 129);
    EXPECT_EQ(Mismatch(plain, RawRecord(".\\", "plain.bin", 0, plainOffset, 200000)), "");
    ASSERT_LE(plainOffset + 200000ull, pkg.size());
    EXPECT_TRUE(std::equal(big.begin(), big.end(), pkg.begin() + plainOffset));
    EXPECT_EQ(Mismatch(RecordBytes(pkg, 3),
                       RawRecord(".\\data\\", "orvand.dic", FileDataCompressed, plainOffset + 200000, 150000)),
              "");

    // The same input gives the same bytes: nothing time-dependent is written.
    EXPECT_EQ(Build(exe, {{".\\", "orvand.exe", big, true}}), Build(exe, {{".\\", "orvand.exe", big, true}}));
}

TEST(PackageFormat, HandWrittenPackageIsReadAndDecoded) {
    Bytes exe = Text("MZ" + std::string(259, '\x90'));  // 0x105 bytes: offsets and sizes above one byte
    Bytes notes = Text("stored as it is\r\n");
    Bytes dictionary;
    for (int i = 0; dictionary.size() < 70000; ++i) {
        Bytes word = Text("word" + std::to_string(i % 997) + "\r\n");
        dictionary.insert(dictionary.end(), word.begin(), word.end());
    }
    dictionary.resize(70000);  // 0x00011170: three bytes of the size field in use
    Bytes setup = Text("<?xml version=\"1.0\"?><setup><file name=\"notes.txt\"/></setup>");
    Bytes zDictionary = Compress2(dictionary), zSetup = Compress2(setup);
    ASSERT_LT(zDictionary.size(), dictionary.size());

    const uint32_t notesSize = static_cast<uint32_t>(notes.size()), setupSize = static_cast<uint32_t>(setup.size());
    Bytes pkg = HandPackage({{".\\", "install.exe", exe, 0, 0x105},
                             {".\\data\\", "notes.txt", notes, 0, notesSize},
                             {".\\data\\", "orvand.dic", zDictionary, FileDataCompressed, 70000},
                             {".\\temp\\", "setup.xml", zSetup, FileDataCompressed, setupSize}});
    EXPECT_TRUE(Verifies(pkg));
    TFileDataDynArray dir = Directory(pkg);
    ASSERT_EQ(dir.size(), 4u);
    const uint32_t dictionaryAt = 0x105 + notesSize;
    struct {
        const char *Folder, *Name;
        uint8_t Flags;
        uint32_t Offset, Size;
        const Bytes& Data;
    } want[] = {{".\\", "install.exe", 0, 0, 0x105, exe},
                {".\\data\\", "notes.txt", 0, 0x105, notesSize, notes},
                {".\\data\\", "orvand.dic", FileDataCompressed, dictionaryAt, 70000, dictionary},
                {".\\temp\\", "setup.xml", FileDataCompressed, dictionaryAt + static_cast<uint32_t>(zDictionary.size()),
                 setupSize, setup}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(EntryFolder(dir[i]), want[i].Folder) << i;
        EXPECT_EQ(EntryName(dir[i]), want[i].Name) << i;
        EXPECT_EQ(dir[i].Flags, want[i].Flags) << i;
        EXPECT_EQ(int32_t(dir[i].Offset), static_cast<int32_t>(want[i].Offset)) << i;
        EXPECT_EQ(int32_t(dir[i].Size), static_cast<int32_t>(want[i].Size)) << i;
        EXPECT_EQ(Decode(pkg, dir[i]), want[i].Data) << i;
    }

    // With every file stored as it is, the packer writes exactly these bytes.
    Bytes plain = HandPackage({{".\\", "install.exe", exe, 0, 0x105},
                               {".\\data\\", "notes.txt", notes, 0, notesSize},
                               {".\\data\\", "orvand.dic", dictionary, 0, 70000},
                               {".\\temp\\", "setup.xml", setup, 0, setupSize}});
    EXPECT_EQ(Mismatch(Build(exe, {{".\\data\\", "notes.txt", notes, false},
                                   {".\\data\\", "orvand.dic", dictionary, false},
                                   {".\\temp\\", "setup.xml", setup, false}}),
                       plain),
              "");
}

TEST(PackageFormat, DigestCoversEverythingInFrontOfIt) {
    Bytes pkg = Build(BareExe(), {{".\\", "a.txt", Text("hello"), true}});
    EXPECT_TRUE(Verifies(pkg));
    // Every digest byte, and content bytes at the start, inside and right in front of it.
    std::vector<size_t> changed = {0, 400, pkg.size() - 17};
    for (size_t i = pkg.size() - 16; i < pkg.size(); ++i) changed.push_back(i);
    for (size_t i : changed) EXPECT_FALSE(Verifies(Flipped(pkg, i, 0x81))) << "byte " << i;
    EXPECT_FALSE(Verifies(Bytes(10, 0)));
}

TEST(PackageFormat, CountOutsideZeroTo64IsRejected) {
    Bytes pkg = Build(BareExe(), {});
    for (int32_t n : {65, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(n);
        Bytes bad = pkg;
        SetCount(bad, n);
        ExpectDirectoryRefused(bad, TooMany);
    }
    // A count that fits the limit but not the file.
    Bytes small = Build(BareExe(), {});
    small.erase(small.begin(), small.begin() + 300);
    SetCount(small, 60);
    ExpectDirectoryRefused(small, HasSubstr("damaged"));
    ExpectDirectoryRefused(Bytes(19, 0), HasSubstr("too short"));
    // An empty directory is valid.
    Bytes none(40, 0);
    EXPECT_EQ(Directory(none).size(), 0u);
}

TEST(PackageFormat, SixtyFourEntriesIsTheLimit) {
    std::vector<TFile> files;
    for (int i = 1; i < 63; ++i)
        files.push_back({".\\data\\", "f" + std::to_string(i) + ".txt", Text(std::to_string(i)), i % 2 == 0});
    Bytes pkg = Build(BareExe(), files);  // with install.exe and setup.xml: 64
    TFileDataDynArray dir = Directory(pkg);
    ASSERT_EQ(dir.size(), 64u);
    EXPECT_EQ(Decode(pkg, dir[40]), Text("40"));

    // The writer refuses the 65th.
    files.push_back({".\\", "one-too-many.txt", Text("x"), true});
    EXPECT_THAT([&] { Build(BareExe(), files); }, ThrowsMessage<EPackageError>(HasSubstr("at most 64")));
}

TEST(PackageFormat, TextFieldsNeverReadPastTheirSixtyFourBytes) {
    uint8_t field[64];
    EncodeShortString(field, std::string(63, 'n'));
    EXPECT_EQ(DecodeShortString(field), std::string(63, 'n'));
    EXPECT_THROW(EncodeShortString(field, std::string(64, 'n')), EInstallException);
    EncodeShortString(field, "");
    EXPECT_EQ(DecodeShortString(field), "");
    for (uint8_t length : {64, 200, 255}) {
        field[0] = length;
        EXPECT_THROW(DecodeShortString(field), EInstallException) << int(length);
    }

    Bytes pkg = Build(BareExe(), {{".\\", "a.txt", Text("a"), true}});
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which ? "folder" : "name");
        Bytes bad = WithRecord(pkg, 1, [&](TFileData& e) { (which ? e.Folder : e.Name)[0] = 64; });
        ExpectDirectoryRefused(bad, HasSubstr("longer than 63"));
    }
}

TEST(PackageFormat, UnsafeNamesAndFoldersAreRejected) {
    Bytes pkg = Build(BareExe(), {{".\\", "a.txt", Text("a"), true}});
    for (std::string name : {"", ".", "..", "...", "..\\evil.exe", "a\\b.txt", "a/b.txt", "C:evil.exe", "C:\\evil.exe",
                             "\\evil.exe", "CON", "nul.txt", "com1", "a\tb", "a?b", "a:stream"}) {
        SCOPED_TRACE(name);
        ExpectDirectoryRefused(WithEntryTexts(pkg, 1, ".\\", name), HasSubstr("not a plain file name"));
    }
    for (std::string folder :
         {"", ".", "\\", "..\\", ".\\..\\", ".\\data\\..\\..\\", "C:\\", "C:\\Windows\\", "\\Windows\\",
          "\\\\server\\share\\", ".\\\\x\\", ".\\data", "data\\", ".\\a/../..\\", ".\\C:\\", "./", ".\\ \\"}) {
        SCOPED_TRACE(folder);
        ExpectDirectoryRefused(WithEntryTexts(pkg, 1, folder, "a.txt"),
                               HasSubstr("does not lie inside the target folder"));
    }
    // Deeper relative folders and names with dots and blanks are fine for the reader.
    EXPECT_NO_THROW(Directory(WithEntryTexts(pkg, 1, ".\\data\\sub\\", "read me..txt")));
}

TEST(PackageFormat, OffsetsAndSizesMustPointIntoTheStoredData) {
    Bytes pkg = Build(BareExe(), {{".\\", "a.txt", Text("plain text"), false}, {".\\", "b.txt", Text("zipped"), true}});
    const int32_t dataEnd = static_cast<int32_t>(pkg.size() - 20 - 137 * 4);
    struct Case {
        int Index;
        int32_t Offset, Size;
        const char* What;
    } cases[] = {
        {1, -1, 10, "negative"},        {1, 0, -5, "negative"},
        {2, INT32_MIN, 6, "negative"},  {1, dataEnd - 9, 10, "outside"},    // plain runs into the directory
        {1, INT32_MAX, 1, "outside"},   {1, INT32_MAX - 2, 10, "outside"},  // no overflow on Offset + Size
        {2, dataEnd + 1, 6, "outside"}, {0, 0, dataEnd + 1, "outside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Offset) + " " + std::to_string(c.Size));
        Bytes bad = WithRecord(pkg, c.Index, [&](TFileData& e) {
            e.Offset = c.Offset;
            e.Size = c.Size;
        });
        ExpectDirectoryRefused(bad, HasSubstr(c.What));
        ExpectDecodeRefused(bad, Record(bad, c.Index), HasSubstr(c.What));
    }
    // Exactly up to the directory is allowed.
    EXPECT_NO_THROW(Directory(WithRecord(pkg, 1, [&](TFileData& e) { e.Offset = dataEnd - 10; })));
}

TEST(PackageFormat, StoredDataThatEndsEarlyOrIsCorruptFails) {
    Bytes text = Noise(150000, 3);
    Bytes pkg = Build(BareExe(), {{".\\", "a.bin", text, true}, {".\\", "b.txt", Text("plain"), false}});
    TFileDataDynArray dir = Directory(pkg);

    // The zlib stream ends before Size bytes came out.
    TFileData longer = dir[1];
    longer.Size += 1;
    ExpectDecodeRefused(pkg, longer, HasSubstr("ends after 150000 of 150001 bytes"));

    // The stream is cut short by the end of the stored data: never read past it.
    ExpectDecodeRefused(pkg, dir[1], HasSubstr("ends after"), dir[1].Offset + 1000);

    // The file itself is shorter than the directory claims (plain and zlib).
    const int64_t claimed = static_cast<int64_t>(pkg.size());
    ExpectDecodeRefused(Slice(pkg, 0, dir[2].Offset + 2), dir[2], HasSubstr("ends after 2 of 5"), claimed);
    ExpectDecodeRefused(Slice(pkg, 0, dir[1].Offset + 500), dir[1], HasSubstr("ends after"), claimed);

    // Corrupt deflate data, a wrong header and a wrong Adler-32 check.
    for (size_t at : {size_t(2), size_t(0), size_t(dir[2].Offset - 1 - dir[1].Offset)}) {
        SCOPED_TRACE(at);
        ExpectDecodeRefused(Flipped(pkg, dir[1].Offset + at, 0xFF), dir[1], HasSubstr("corrupt"));
    }
    // A stream that holds more than the entry's size.
    TFileData shorter = dir[1];
    shorter.Size -= 1;
    ExpectDecodeRefused(pkg, shorter, HasSubstr("holds more than its size"));
    // A plain entry flagged as compressed.
    TFileData flagged = dir[2];
    flagged.Flags = FileDataCompressed;
    ExpectDecodeRefused(pkg, flagged, HasSubstr("corrupt"));
    // The other flag bits are ignored.
    TFileData extra = dir[2];
    extra.Flags = 0xFE;
    EXPECT_EQ(Decode(pkg, extra), Text("plain"));
}

TEST(PackageFormat, WriterRefusesWhatTheReaderCouldNotUse) {
    // Refused by the writer's own class, not only by the reader's checks it runs on.
    auto build = [](std::vector<TFile> Files) { return [Files] { Build(BareExe(), Files); }; };
    auto refused = [](const std::string& Message) { return ThrowsMessage<EPackageError>(HasSubstr(Message)); };
    EXPECT_NO_THROW(build({{".\\", std::string(63, 'n'), Text("x"), true}})());
    EXPECT_THAT(build({{".\\", std::string(64, 'n'), Text("x"), true}}), refused("at most 63"));
    for (std::string folder : {".\\a\\b\\", "data\\", ".\\data", ".\\..\\", "\\abs\\", "C:\\", "", ".\\\\"})
        EXPECT_THAT(build({{folder, "x.txt", Text("x"), true}}), refused("is not of the form")) << folder;
    EXPECT_THAT(build({{".\\", "a\\b", Text("x"), true}}), refused("not a plain file name"));
    EXPECT_THAT(build({{".\\", "x.txt", Text("x"), true}, {".\\data\\", "X.TXT", Text("y"), true}}), refused("twice"));
    EXPECT_THAT(build({{".\\data\\", "install.exe", Text("x"), true}}), refused("twice"));
    EXPECT_THAT(build({{".\\", "setup.xml", Text("<setup/>"), true}}), refused("no \"setup.xml\" in \".\\temp\\\""));

    TMemoryStream out;
    TPackageWriter writer(out);
    TMemoryStream source(Text("x"));
    EXPECT_THROW(writer.AddFile(".\\", "a.txt", source, true), EPackageError);
}

// ---- Signing after packing ----

namespace {

// Where the PE stand-ins below keep their fields: the header at 0x80, the
// optional header at 0x98, the checksum 64 bytes into it, the certificate
// entry (the fifth directory) at 128 (PE32) or 144 (PE32+).
const size_t CheckSumAt = 0xD8;
size_t TableEntryAt(bool Wide) { return Wide ? 0x128 : 0x118; }

// A setup program stand-in with a PE header whose checksum and certificate entry
// are set, as a signed bare program's would be; the rest is noise, not zeros.
Bytes PeExe(bool Wide, size_t Size = 1500) {
    Bytes exe = Noise(Size, Wide ? 21 : 22);
    exe[0] = 'M';
    exe[1] = 'Z';
    PutLE32(exe, 0x3C, 0x80);
    std::copy_n("PE\0\0", 4, exe.begin() + 0x80);
    exe[0x94] = Wide ? 240 : 224;  // SizeOfOptionalHeader
    exe[0x95] = 0;
    exe[0x98] = 0x0B;
    exe[0x99] = Wide ? 0x02 : 0x01;
    PutLE32(exe, Wide ? 0x98 + 108 : 0x98 + 92, 16);  // NumberOfRvaAndSizes
    PutLE32(exe, CheckSumAt, 0x0001F00D);
    PutLE32(exe, TableEntryAt(Wide), static_cast<uint32_t>(Size - 64));
    PutLE32(exe, TableEntryAt(Wide) + 4, 64);
    return exe;
}

Bytes WithoutSignatureFields(Bytes Exe, bool Wide) {
    std::fill_n(Exe.begin() + CheckSumAt, 4, 0);
    std::fill_n(Exe.begin() + static_cast<ptrdiff_t>(TableEntryAt(Wide)), 8, 0);
    return Exe;
}

// What a signing tool does to a package: a new checksum, the entry of the table
// it appends at the end (at a multiple of 8, where the packer ended the package).
Bytes SignLike(Bytes Package, bool Wide, size_t TableSize = 1592) {
    EXPECT_EQ(Package.size() % 8, 0u);
    PutLE32(Package, CheckSumAt, 0x00C0FFEE);
    PutLE32(Package, TableEntryAt(Wide), static_cast<uint32_t>(Package.size()));
    PutLE32(Package, TableEntryAt(Wide) + 4, static_cast<uint32_t>(TableSize));
    Bytes table = Noise(TableSize, 99);
    Package.insert(Package.end(), table.begin(), table.end());
    return Package;
}

int64_t EndOf(const Bytes& Package) { return OnStream(Package, PackageEnd); }

}  // namespace

TEST(PackageFormat, PackerZeroesTheSignatureFieldsAndEndsAtAMultipleOfEight) {
    for (bool wide : {false, true}) {
        Bytes exe = PeExe(wide);
        TSignatureFields fields = FieldsOf(exe);
        EXPECT_EQ(fields.CheckSumAt, int64_t(CheckSumAt));
        EXPECT_EQ(fields.TableEntryAt, int64_t(TableEntryAt(wide)));
        EXPECT_EQ(fields.TableStart, int64_t(exe.size() - 64));
        EXPECT_EQ(fields.TableSize, 64);
        // As the linker leaves it: a checksum, no certificate table.
        PutLE32(exe, TableEntryAt(wide) + 4, 0);
        // Eight lengths of the last file: every amount of padding, 0 to 7.
        for (size_t extra = 0; extra < 8; ++extra) {
            Bytes last = Text("<?xml version=\"1.0\"?><setup/>" + std::string(extra, ' '));
            Bytes pkg = Build(exe, {{".\\", "a.txt", Text("hello"), true}, {".\\temp\\", "setup.xml", last, false}});
            EXPECT_EQ(pkg.size() % 8, 0u) << extra;
            EXPECT_EQ(Mismatch(Slice(pkg, 0, exe.size()), WithoutSignatureFields(exe, wide)), "") << wide;
            EXPECT_TRUE(Verifies(pkg));
            // The padding lies between the last stored file and the directory, and is zeros.
            TFileDataDynArray dir = Directory(pkg);
            size_t stored = static_cast<size_t>(dir[2].Offset + dir[2].Size);
            size_t records = pkg.size() - 20 - 137 * 3;
            ASSERT_LE(stored, records);
            EXPECT_LT(records - stored, 8u);
            EXPECT_TRUE(std::all_of(pkg.begin() + static_cast<ptrdiff_t>(stored),
                                    pkg.begin() + static_cast<ptrdiff_t>(records), [](uint8_t b) { return b == 0; }));
            EXPECT_EQ(Decode(pkg, dir[2]), last);
        }
    }
}

// The vendor signs the bare program, packs it and signs the setup program.
TEST(PackageFormat, ASignedPackageEndsWhereItsCertificateTableStarts) {
    for (bool wide : {false, true}) {
        Bytes exe = PeExe(wide);  // signed: its table ends it
        Bytes big = Noise(100000, 4);
        Bytes pkg = Build(exe, {{".\\", "orvand.exe", big, true}, {".\\data\\", "notes.txt", Text("notes"), false}});
        Bytes signedPkg = SignLike(pkg, wide);
        EXPECT_TRUE(Verifies(signedPkg)) << wide;
        EXPECT_EQ(EndOf(signedPkg), int64_t(pkg.size()));
        EXPECT_EQ(EndOf(pkg), int64_t(pkg.size()));
        // The same directory and files; the program part is unsigned, without the bare
        // program's table, and the signed bare program is the uninstaller, whole.
        TFileDataDynArray dir = Directory(signedPkg);
        ASSERT_EQ(dir.size(), 5u);
        EXPECT_EQ(std::memcmp(dir.data(), Directory(pkg).data(), 5 * sizeof(TFileData)), 0);
        const int64_t dataEnd = static_cast<int64_t>(pkg.size()) - 20 - 137 * 5;
        EXPECT_EQ(OnStream(signedPkg, [](TStream& s) { return PackageDataEnd(s, 5); }), dataEnd);
        Bytes unsignedExe = WithoutSignatureFields(exe, wide);
        unsignedExe.resize(exe.size() - 64);
        EXPECT_EQ(Mismatch(Decode(signedPkg, dir[0], dataEnd), unsignedExe), "");
        EXPECT_EQ(EntryFolder(dir[1]) + EntryName(dir[1]), ".\\temp\\uninstaller.exe");
        EXPECT_EQ(Mismatch(Decode(signedPkg, dir[1], dataEnd), exe), "");
        EXPECT_EQ(&ExtractionSource(dir, dir[0]), &dir[1]);
        EXPECT_EQ(&ExtractionSource(dir, dir[2]), &dir[2]);
        EXPECT_EQ(Decode(signedPkg, dir[2], dataEnd), big);
        EXPECT_EQ(Decode(signedPkg, dir[3], dataEnd), Text("notes"));

        // The two fields count as zeros, the table is the signing tool's to check;
        // every other byte of the package counts.
        struct {
            size_t At;
            bool Verifies;
            const char* What;
        } changes[] = {{CheckSumAt, true, "checksum"},
                       {CheckSumAt + 3, true, "checksum"},
                       {CheckSumAt - 1, false, "byte in front of the checksum"},
                       {CheckSumAt + 4, false, "byte behind the checksum"},
                       {TableEntryAt(wide) - 1, false, "byte in front of the entry"},
                       {TableEntryAt(wide) + 8, false, "byte behind the entry"},
                       {0x80, false, "header"},
                       {static_cast<size_t>(dir[1].Offset) + 500, false, "uninstaller"},
                       {static_cast<size_t>(dir[2].Offset) + 500, false, "payload"},
                       {static_cast<size_t>(dir[3].Offset), false, "plain payload"},
                       {pkg.size() - 30, false, "directory"},
                       {pkg.size() - 1, false, "digest"},
                       {pkg.size(), true, "table"},
                       {signedPkg.size() - 1, true, "table"}};
        for (const auto& c : changes)
            EXPECT_EQ(Verifies(Flipped(signedPkg, c.At, 0x40)), c.Verifies)
                << c.What << " at " << c.At << (wide ? " (PE32+)" : " (PE32)");
    }
}

TEST(PackageFormat, AnUnsignedPackageVerifiesAsBefore) {
    // An older packer's: no padding, and the bare program's fields as they were.
    Bytes exe = PeExe(false);
    PutLE32(exe, TableEntryAt(false), 0);
    PutLE32(exe, TableEntryAt(false) + 4, 0);
    Bytes setup = Text("<setup/>");
    Bytes old = HandPackage({{".\\", "install.exe", exe, 0, static_cast<uint32_t>(exe.size())},
                             {".\\temp\\", "setup.xml", setup, 0, static_cast<uint32_t>(setup.size())}},
                            false);
    ASSERT_NE(old.size() % 8, 0u);
    EXPECT_TRUE(Verifies(old));
    EXPECT_EQ(EndOf(old), int64_t(old.size()));
    EXPECT_EQ(Directory(old).size(), 2u);
    // Unsigned, the checksum counts like any other byte.
    EXPECT_FALSE(Verifies(Flipped(old, CheckSumAt, 1)));
    // The copy of the setup program is a clean unsigned one all the same.
    EXPECT_EQ(Mismatch(Decode(old, Directory(old)[0]), WithoutSignatureFields(exe, false)), "");
    EXPECT_EQ(Decode(old, Directory(old)[1]), setup);
    TFileDataDynArray dir = Directory(old);
    EXPECT_EQ(&ExtractionSource(dir, dir[0]), &dir[0]);
}

// The certificate entry is the file's own claim: it counts only when it names a
// table that ends the file and lies behind the header, and is read within the file.
TEST(PackageFormat, CertificateEntriesThatDoNotEndTheFileAreNotTrusted) {
    Bytes pkg = Build(PeExe(false), {{".\\", "a.txt", Text("hello"), true}});
    Bytes signedPkg = SignLike(pkg, false, 40);
    const uint32_t length = static_cast<uint32_t>(signedPkg.size());
    struct {
        uint32_t Start, Size;
        const char* What;
    } entries[] = {
        {length - 40, 41, "past the end"},          {length - 40, 39, "short of the end"},
        {length, 0, "empty, at the end"},           {0xFFFFFF00u, length + 0x100, "wraps to the end in 32 bits"},
        {0x100, length - 0x100, "over the header"}, {0, length, "the whole file"},
    };
    for (const auto& e : entries) {
        Bytes bad = signedPkg;
        PutLE32(bad, TableEntryAt(false), e.Start);
        PutLE32(bad, TableEntryAt(false) + 4, e.Size);
        EXPECT_EQ(EndOf(bad), int64_t(bad.size())) << e.What;
        EXPECT_FALSE(Verifies(bad)) << e.What;
        EXPECT_THROW(Directory(bad), EInstallException) << e.What;
    }

    // Headers that hold no certificate entry: the fields are not looked for.
    struct {
        size_t At;
        uint32_t Value;
        int Width;
        const char* What;
    } headers[] = {{0, 'X', 1, "no MZ"},
                   {0x3C, 0xFFFFFFF0u, 4, "header past the end"},
                   {0x82, 'X', 1, "no PE signature"},
                   {0x98, 0x10C, 2, "unknown optional header"},
                   {0x94, 135, 2, "optional header without the entry"},
                   {0x98 + 92, 4, 4, "four directories"}};
    for (const auto& h : headers) {
        Bytes bad = signedPkg;
        for (int i = 0; i < h.Width; ++i) bad[h.At + i] = static_cast<uint8_t>(h.Value >> (8 * i));
        EXPECT_EQ(FieldsOf(bad).TableEntryAt, -1) << h.What;
        EXPECT_EQ(FieldsOf(bad).CheckSumAt, -1) << h.What;
        EXPECT_EQ(EndOf(bad), int64_t(bad.size())) << h.What;
        EXPECT_FALSE(Verifies(bad)) << h.What;
    }
    for (size_t cut : {size_t(0), size_t(63), size_t(0x80 + 4), size_t(0x98 + 135)})
        EXPECT_EQ(FieldsOf(Slice(signedPkg, 0, cut)).TableEntryAt, -1) << cut;
    EXPECT_EQ(FieldsOf(Slice(signedPkg, 0, 0x98 + 136)).TableEntryAt, int64_t(TableEntryAt(false)));
}
