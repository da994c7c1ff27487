#include <windows.h>

#include <commctrl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Components/SetupUtils.h"
#include "install_fixture.h"
#include "scripted_ui.h"
#include "tests/Components/PackageTestUtil.h"
#include "wintest_http.h"

using namespace wintest;
using namespace packtest;
using namespace ::testing;

namespace {

Bytes ReadBytes(const std::string& FileName) { return Text(ReadFileText(FileName)); }

// A package file and an engine on it, extracting into a target folder of its own.
struct TPackageFixture {
    explicit TPackageFixture(const Bytes& Package) : Data(Package) {
        File = Temp.Path() + "setup.exe";
        WriteFileText(File, std::string(Package.begin(), Package.end()));
        Target = Temp.Path() + "Orvand\\";
        CreateDirectoryA(Target.c_str(), nullptr);
        Installer = std::make_unique<TInstaller>(File);
        Installer->SetTargetFolder(Target);
        Installer->SetUI(&UI);
    }
    std::vector<std::string> Journal() const { return SplitCrLf(Installer->PendingJournal()); }
    void Extract(int Index) { Installer->ExtractEntry(Installer->ReadPackageDirectory()[Index]); }
    // Extracting entry Index fails with a message that Matcher takes.
    template <class TMatcher>
    void ExpectExtractionFails(int Index, TMatcher Matcher) {
        EXPECT_THAT([&] { Extract(Index); }, ThrowsMessage<EInstallException>(Matcher));
    }
    template <class TMatcher>
    void ExpectDirectoryRefused(TMatcher Matcher) {
        EXPECT_THAT([&] { Installer->ReadPackageDirectory(); }, ThrowsMessage<EInstallException>(Matcher));
    }

    TempFolder Temp;
    Bytes Data;
    std::string File, Target;
    TScriptedUI UI{true};
    std::unique_ptr<TInstaller> Installer;
};

}  // namespace

TEST(Package, ExtractPackageWritesEveryEntryButSetupXmlAndJournalsInOrder) {
    Bytes exe = BareExe();
    Bytes big = Noise(140000, 11);
    Bytes pkg = Build(exe, {{".\\", "orvand.exe", big, true},
                            {".\\", "readme.txt", Text("read me\r\n"), false},
                            {".\\data\\", "orvand.dic", Text("hello=greeting\r\n"), true},
                            {".\\data\\", "empty.txt", {}, true},
                            {".\\data\\", "empty-plain.txt", {}, false}});
    // Capital letters in setup.xml do not make it an ordinary entry.
    TPackageFixture f(WithRecord(pkg, 6, [](TFileData& e) { SetField(e.Name, "SETUP.XML"); }));

    TTestHost host;
    HWND label = host.Label(), bar = host.Bar();
    // The bar and the label as each entry starts: the run pumps once an entry.
    std::vector<LRESULT> positions;
    std::vector<std::string> labels;
    f.UI.OnPump = [&] {
        positions.push_back(SendMessageA(bar, PBM_GETPOS, 0, 0));
        labels.push_back(WindowText(label));
    };
    f.Installer->ExtractPackage(label, bar);

    const std::string& t = f.Target;
    EXPECT_EQ(f.Journal(),
              (std::vector<std::string>{"CreateFile " + t + "install.exe", "CreateFile " + t + "orvand.exe",
                                        "CreateFile " + t + "readme.txt", "CreateFolder " + t + "data\\",
                                        "CreateFile " + t + "data\\orvand.dic", "CreateFile " + t + "data\\empty.txt",
                                        "CreateFile " + t + "data\\empty-plain.txt"}));
    // install.exe is the bare program: the first S bytes of the setup file.
    EXPECT_EQ(ReadBytes(t + "install.exe"), exe);
    EXPECT_EQ(ReadBytes(t + "orvand.exe"), big);
    EXPECT_EQ(ReadFileText(t + "readme.txt"), "read me\r\n");
    EXPECT_EQ(ReadFileText(t + "data\\orvand.dic"), "hello=greeting\r\n");
    EXPECT_TRUE(FileExists(t + "data\\empty.txt"));
    EXPECT_EQ(ReadFileText(t + "data\\empty.txt"), "");
    EXPECT_EQ(ReadFileText(t + "data\\empty-plain.txt"), "");
    EXPECT_FALSE(FolderExists(t + "temp\\"));

    EXPECT_EQ(positions, (std::vector<LRESULT>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(labels,
              (std::vector<std::string>{"Extracting: install.exe", "Extracting: orvand.exe", "Extracting: readme.txt",
                                        "Extracting: orvand.dic", "Extracting: empty.txt",
                                        "Extracting: empty-plain.txt", "Extracting: SETUP.XML"}));
    PBRANGE range;
    SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 6);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 6);
    EXPECT_TRUE(GetWindowLongA(bar, GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(f.UI.Questions.empty());

    // Extracting again overwrites without a question (no ".db" there).
    f.Installer->TakePendingJournal();
    f.Extract(2);
    EXPECT_EQ(f.Journal(), std::vector<std::string>{"CreateFile " + t + "readme.txt"});
}

TEST(Package, ExtractEntryWritesSetupXmlIntoTempWhenAsked) {
    TPackageFixture f(Build(BareExe(), {}));
    f.Extract(1);
    EXPECT_EQ(f.Journal(), (std::vector<std::string>{"CreateFolder " + f.Target + "temp\\",
                                                     "CreateFile " + f.Target + "temp\\setup.xml"}));
    EXPECT_EQ(ReadFileText(f.Target + "temp\\setup.xml"), "<?xml version=\"1.0\"?><setup/>");
}

TEST(Package, BrainsQuestionOnceForYesAndForEveryDatabaseOnNo) {
    Bytes pkg = Build(BareExe(), {{".\\data\\", "{A1}.db", Text("new brains 1"), true},
                                  {".\\data\\", "{B2}.DB", Text("new brains 2"), true},
                                  {".\\data\\", "notes.dbx", Text("new notes"), true}});
    for (bool answer : {true, false}) {
        TPackageFixture f(pkg);
        f.UI = TScriptedUI(answer);
        MakeTree(
            f.Target,
            {{"data\\{A1}.db", "old brains 1"}, {"data\\{B2}.DB", "old brains 2"}, {"data\\notes.dbx", "old notes"}});
        f.Installer->ExtractPackage(nullptr, nullptr);

        ASSERT_EQ(f.UI.Questions.size(), answer ? 1u : 2u) << answer;
        for (size_t i = 0; i < f.UI.Questions.size(); ++i) {
            EXPECT_EQ(f.UI.Questions[i], BrainsText);
            EXPECT_EQ(f.UI.Captions[i], "Confirm");
        }
        EXPECT_EQ(f.Installer->ReplacesBrains(), answer);
        EXPECT_EQ(ReadFileText(f.Target + "data\\{A1}.db"), answer ? "new brains 1" : "old brains 1");
        EXPECT_EQ(ReadFileText(f.Target + "data\\{B2}.DB"), answer ? "new brains 2" : "old brains 2");
        EXPECT_EQ(ReadFileText(f.Target + "data\\notes.dbx"), "new notes");
        std::vector<std::string> expected = {
            "CreateFile " + f.Target + "install.exe", "CreateFile " + f.Target + "data\\{A1}.db",
            "CreateFile " + f.Target + "data\\{B2}.DB", "CreateFile " + f.Target + "data\\notes.dbx"};
        if (!answer) expected.erase(expected.begin() + 1, expected.begin() + 3);
        EXPECT_EQ(f.Journal(), expected) << answer;
    }
    // No database on disk: nothing asked.
    TPackageFixture fresh(pkg);
    fresh.Installer->ExtractPackage(nullptr, nullptr);
    EXPECT_TRUE(fresh.UI.Questions.empty());
    EXPECT_EQ(ReadFileText(fresh.Target + "data\\{B2}.DB"), "new brains 2");
}

TEST(Package, AnEngineWithoutAnInterfaceAsksNobodyAndKeepsTheOldBrains) {
    TPackageFixture unasked(Build(BareExe(), {{".\\data\\", "{A1}.db", Text("new brains 1"), true}}));
    unasked.Installer->SetUI(nullptr);
    MakeTree(unasked.Target, {{"data\\{A1}.db", "old brains 1"}});
    unasked.ExpectExtractionFails(1, "The installer engine was given no user interface.");
    EXPECT_EQ(ReadFileText(unasked.Target + "data\\{A1}.db"), "old brains 1");
}

// The reader's limits are PackageFormat's; the engine refuses such a directory for every lookup.
TEST(Package, ADirectoryOfTooManyEntriesServesNoLookup) {
    Bytes bad = Build(BareExe(), {});
    SetCount(bad, 65);
    TPackageFixture f(bad);
    f.ExpectDirectoryRefused("Distribution package contains to many files.");
    EXPECT_THROW(f.Installer->PackageContains("setup.xml"), EInstallException);
}

TEST(Package, TheOpenPackageIsHeldAndItsDirectoryReadOnceAndLookedUpByName) {
    Bytes pkg = Build(BareExe(), {{".\\data\\", "Vela.acs", Text("character"), true}});
    TPackageFixture f(pkg);
    EXPECT_TRUE(f.Installer->VerifyPackage());
    // The open package is shared with readers only: nobody writes, renames or deletes it under setup.
    for (DWORD access : {DWORD(GENERIC_WRITE), DWORD(DELETE)})
        EXPECT_FALSE(
            TFileHandle(CreateFileA(f.File.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr)))
            << "opened for " << access;
    EXPECT_FALSE(MoveFileA(f.File.c_str(), (f.File + ".aside").c_str()));
    EXPECT_TRUE(f.Installer->PackageContains("SETUP.XML"));
    EXPECT_TRUE(f.Installer->PackageContains("vela.ACS"));
    EXPECT_FALSE(f.Installer->PackageContains("data"));
    EXPECT_FALSE(f.Installer->PackageContains(".\\data\\"));
    EXPECT_FALSE(f.Installer->PackageContains("Vela.acs "));
    // Read once: the cached directory answers after the file has lost its package.
    f.Installer = std::make_unique<TInstaller>(
        std::make_unique<TWinFileStream>(f.File, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
        TPackagePin{});
    const TFileDataDynArray* first = &f.Installer->ReadPackageDirectory();
    ASSERT_TRUE(TFileHandle(CreateFileA(f.File.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        TRUNCATE_EXISTING, 0, nullptr)))
        << "error " << GetLastError();
    EXPECT_EQ(&f.Installer->ReadPackageDirectory(), first);
    EXPECT_TRUE(f.Installer->PackageContains("install.exe"));
    // A changed digest fails the check (PackageFormat tries every byte).
    pkg.back() ^= 0x10;
    EXPECT_FALSE(TPackageFixture(pkg).Installer->VerifyPackage());
}

// The vendor-signed sample (fixtures/) verifies; its uninstaller is the signed bare program,
// whole, not the unsigned program part; one changed payload byte is refused.
TEST(Package, ASignedReleaseVerifiesAndItsUninstallerKeepsTheVendorsSignature) {
    const Bytes signedSetup = ReadBytes(FixturePath("sample\\install-signed.exe"));
    const Bytes unsignedSetup = ReadBytes(FixturePath("sample\\install.exe"));
    const Bytes signedBare = ReadBytes(FixturePath("sample\\signing\\install.exe"));
    ASSERT_GT(signedSetup.size(), unsignedSetup.size());
    TPackageFixture f(signedSetup);
    EXPECT_TRUE(f.Installer->VerifyPackage());
    const TFileDataDynArray dir = f.Installer->ReadPackageDirectory();
    ASSERT_EQ(dir.size(), 10u);
    EXPECT_TRUE(f.Installer->PackageContains("setup.xml"));

    f.Installer->ExtractPackage(nullptr, nullptr);
    const std::vector<std::string> journal = f.Journal();
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal[0], "CreateFile " + f.Target + "install.exe");
    EXPECT_EQ(journal[1], "CreateFile " + f.Target + "orvand.exe");
    for (const std::string& line : journal) EXPECT_THAT(line, Not(HasSubstr("uninstaller")));
    EXPECT_FALSE(FolderExists(f.Target + "temp\\"));
    EXPECT_EQ(ReadBytes(f.Target + "orvand.exe"), ReadBytes(FixturePath("orvand.exe")));
    const Bytes copy = ReadBytes(f.Target + "install.exe");
    EXPECT_TRUE(copy == signedBare) << "the uninstaller is not the signed bare program";
    uint64_t extracted = copy.size();
    for (size_t i = 2; i < dir.size(); ++i)
        if (EntryName(dir[i]) != "setup.xml") extracted += static_cast<uint64_t>(dir[i].Size);
    EXPECT_EQ(f.Installer->ExtractedBytes(), extracted);
    // Each program part carries its package's pin; the signed copy keeps the zeros its vendor signed.
    auto pinOf = [](const Bytes& File) {
        TPackagePin pin{OnStream(File, [](TStream& s) { return FindPackagePin(s, ReadDirectory(s)[0].Size); }), {}};
        if (pin.At > 0) std::copy_n(File.begin() + pin.At, 16, pin.Digest.begin());
        return pin;
    };
    const TPackagePin pin = pinOf(signedSetup), unsignedPin = pinOf(unsignedSetup);
    ASSERT_GT(pin.At, 0) << "the sample program carries no package pin";
    EXPECT_TRUE(pin.Filled());
    EXPECT_EQ(Slice(copy, static_cast<size_t>(pin.At), 16), Bytes(16, 0));
    // The program part is the bare program without its table; the setup program's own table ends the file.
    TSignatureFields signedFields = FieldsOf(signedSetup), bareFields = FieldsOf(signedBare);
    EXPECT_TRUE(EndsInCertificateTable(signedFields, static_cast<int64_t>(signedSetup.size())));
    EXPECT_TRUE(EndsInCertificateTable(bareFields, static_cast<int64_t>(signedBare.size())));
    EXPECT_EQ(dir[0].Size, bareFields.TableStart);

    const size_t stored = unsignedSetup.size() - 4000;  // in the stored files
    EXPECT_FALSE(TPackageFixture(Flipped(signedSetup, stored, 0x20)).Installer->VerifyPackage());

    // Signed after it was pinned, the program still holds its package, and no other.
    EXPECT_TRUE(TInstaller(std::make_unique<TMemoryStream>(signedSetup), pin).VerifyPackage());
    EXPECT_TRUE(TInstaller(std::make_unique<TMemoryStream>(unsignedSetup), unsignedPin).VerifyPackage());
    EXPECT_FALSE(TInstaller(std::make_unique<TMemoryStream>(unsignedSetup), pin).VerifyPackage());
    Bytes resealed = Flipped(unsignedSetup, stored, 0x20);
    Reseal(resealed);
    EXPECT_TRUE(TInstaller(std::make_unique<TMemoryStream>(resealed), TPackagePin{}).VerifyPackage());
    EXPECT_FALSE(TInstaller(std::make_unique<TMemoryStream>(resealed), unsignedPin).VerifyPackage());
}

// A package of someone else's behind the same program part, its digest made again, fails
// on the pin the packer wrote into the program. A program never pinned is checked as before.
TEST(Package, APackageSwappedInWithItsDigestMadeAgainDoesNotMatchThePin) {
    Bytes pkg = Build(PinnedExe(), {{".\\", "bridge.ocx", Text("the vendor's library"), true}});
    const int64_t at = OnStream(PinnedExe(), [](TStream& s) { return FindPackagePin(s, s.Size()); });
    TPackagePin pin{at, {}};
    std::copy_n(pkg.begin() + at, 16, pin.Digest.begin());
    ASSERT_TRUE(pin.Filled()) << "the writer did not fill the pin";
    EXPECT_TRUE(TInstaller(std::make_unique<TMemoryStream>(pkg), pin).VerifyPackage());

    Bytes swapped = Build(PinnedExe(), {{".\\", "bridge.ocx", Text("a user's library"), true}});
    std::copy_n(pin.Digest.begin(), 16, swapped.begin() + at);  // the signed program part, as it was
    Reseal(swapped);
    EXPECT_FALSE(TInstaller(std::make_unique<TMemoryStream>(swapped), pin).VerifyPackage());
    EXPECT_TRUE(TInstaller(std::make_unique<TMemoryStream>(swapped), TPackagePin{}).VerifyPackage());
    // Nor does the program part pass with another pin in its place.
    Bytes other = Flipped(pkg, static_cast<size_t>(at), 1);
    Reseal(other);
    EXPECT_FALSE(TInstaller(std::make_unique<TMemoryStream>(other), pin).VerifyPackage());
}

// The reader refuses such entries (PackageFormat tries every kind); the engine refuses
// one given to it straight as well.
TEST(Package, HostileEntriesWriteNothingOutsideTheTarget) {
    Bytes pkg = Build(BareExe(), {{".\\", "a.txt", Text("a"), true}});
    struct Case {
        std::string Folder, Name, Message;
    } cases[] = {
        {".\\..\\", "evil.txt", "does not lie inside the target folder"},
        {".\\data\\..\\..\\", "evil.txt", "does not lie inside the target folder"},
        {"C:\\", "evil.txt", "does not lie inside the target folder"},
        {"\\", "evil.txt", "does not lie inside the target folder"},
        {".\\", "..\\evil.txt", "not a plain file name"},
        {".\\", "C:evil.txt", "not a plain file name"},
        {".\\", "..", "not a plain file name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Folder + c.Name);
        Bytes bad = WithEntryTexts(pkg, 1, c.Folder, c.Name);
        Reseal(bad);
        const TFileData e = Record(bad, 1);
        TPackageFixture f(bad);
        EXPECT_TRUE(f.Installer->VerifyPackage());
        f.ExpectDirectoryRefused(HasSubstr(c.Message));
        EXPECT_THAT([&] { f.Installer->ExtractEntry(e); }, ThrowsMessage<EInstallException>(HasSubstr(c.Message)));
        EXPECT_FALSE(FileExists(f.Temp.Path() + "evil.txt"));
        EXPECT_EQ(f.Installer->PendingJournal(), "");
    }
}

// A link inside the target, such as a junction someone left in data\, would carry
// an elevated write anywhere: extraction refuses to go through it (downloads: Config).
TEST(Package, NothingIsWrittenThroughALinkInsideTheTarget) {
    Bytes pkg = Build(BareExe(), {{".\\data\\", "Vela.acs", Text("character"), true}});
    TPackageFixture f(pkg);
    TempFolder elsewhere;
    MakeUnixLink(f.Target + "data", elsewhere.Path());
    const std::string refused =
        "\"" + f.Target + "data\" is a link inside the target folder; setup does not write through it.";
    f.ExpectExtractionFails(1, refused);
    EXPECT_FALSE(FileExists(elsewhere.Path() + "Vela.acs"));
    EXPECT_EQ(f.Installer->PendingJournal(), "");
}

TEST(Package, FailedFilesAreRemovedAndNeverJournalled) {
    Bytes pkg = Build(
        BareExe(), {{".\\data\\", "good.txt", Text("good"), true}, {".\\data\\", "big.bin", Noise(100000, 5), true}});
    // Corrupt zlib data in the middle of big.bin.
    Bytes corrupt = pkg;
    TFileData big = Record(corrupt, 2);
    for (int i = 0; i < 64; ++i) corrupt[big.Offset + 2 + i] ^= 0xA5;
    {
        TPackageFixture f(corrupt);
        f.ExpectExtractionFails(2, HasSubstr("corrupt"));
        EXPECT_FALSE(FileExists(f.Target + "data\\big.bin"));
        // The folder was made (and journalled) before the failure; the file is not journalled.
        EXPECT_EQ(f.Journal(), std::vector<std::string>{"CreateFolder " + f.Target + "data\\"});
    }
    // A Size larger than the stream holds.
    {
        TPackageFixture f(WithRecord(pkg, 2, [](TFileData& e) { e.Size += 10; }));
        f.Extract(1);
        const std::string error = "ends after 100000 of 100010 bytes";
        f.ExpectExtractionFails(2, HasSubstr(error));
        EXPECT_FALSE(FileExists(f.Target + "data\\big.bin"));
        EXPECT_EQ(f.Journal(), (std::vector<std::string>{"CreateFolder " + f.Target + "data\\",
                                                         "CreateFile " + f.Target + "data\\good.txt"}));
        // ExtractPackage stops at the failing entry with the same message.
        f.Installer->TakePendingJournal();
        EXPECT_THAT([&] { f.Installer->ExtractPackage(nullptr, nullptr); },
                    ThrowsMessage<EInstallException>(HasSubstr(error)));
    }
    // The destination cannot be created: the system's message, nothing journalled.
    {
        TPackageFixture f(pkg);
        CreateDirectoryA((f.Target + "data").c_str(), nullptr);
        TFileHandle lock(CreateFileA((f.Target + "data\\good.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(lock);
        f.ExpectExtractionFails(1, HasSubstr("Cannot create file"));
        EXPECT_EQ(f.Installer->PendingJournal(), "");
    }
    // The destination folder cannot be made: a file is in its way.
    {
        TPackageFixture f(pkg);
        WriteFileText(f.Target + "data", "in the way");
        f.ExpectExtractionFails(1, "Couldn't create folder \"" + f.Target + "data\\\"");
        EXPECT_EQ(f.Installer->PendingJournal(), "");
    }
}
