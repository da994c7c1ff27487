#include "Components/SetupUtils.h"

#include <aclapi.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <cstring>

#include "Components/JournalFormat.h"
#include "Components/TargetGuard.h"
#include "app/InstallRun.h"
#include "wintest_util.h"

using namespace wintest;
using namespace ::testing;

namespace {

// One entry of a folder's DACL: its type, flags, rights and trustee.
struct TAce {
    BYTE Type, Flags;
    ACCESS_MASK Mask;
    std::string Sid;
    bool operator==(const TAce&) const = default;
};

std::ostream& operator<<(std::ostream& Out, const TAce& Ace) {
    char mask[16];
    std::snprintf(mask, sizeof(mask), "0x%lx", static_cast<unsigned long>(Ace.Mask));
    return Out << "{type " << int(Ace.Type) << " flags 0x" << std::hex << int(Ace.Flags) << std::dec << " " << mask
               << " " << Ace.Sid << "}";
}

struct TFolderAcl {
    bool Read = false, Protected = false;
    std::vector<TAce> Aces;
};

std::string SidText(PSID Sid) {
    TLocalMemory<char> text;
    return ConvertSidToStringSidA(Sid, text.Out()) ? text.Get() : "?";
}

TFolderAcl DescriptorAcl(PSECURITY_DESCRIPTOR Descriptor) {
    TFolderAcl acl;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    acl.Read = GetSecurityDescriptorDacl(Descriptor, &present, &dacl, &defaulted) && present && dacl &&
               GetSecurityDescriptorControl(Descriptor, &control, &revision);
    acl.Protected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; acl.Read && i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        acl.Aces.push_back({allowed->Header.AceType, allowed->Header.AceFlags, allowed->Mask,
                            SidText(reinterpret_cast<PSID>(&allowed->SidStart))});
    }
    return acl;
}

TFolderAcl ReadAcl(const std::string& Path) {
    TLocalMemory<void> descriptor;
    if (GetNamedSecurityInfoA(Path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              nullptr, descriptor.Out()) != ERROR_SUCCESS)
        return {};
    return DescriptorAcl(descriptor.Get());
}

bool SetAcl(const std::string& Path, const char* Sddl) {
    TLocalMemory<void> descriptor;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(Sddl, SDDL_REVISION_1, descriptor.Out(), nullptr) ||
        !GetSecurityDescriptorDacl(descriptor.Get(), &present, &dacl, &defaulted))
        return false;
    SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | (DescriptorAcl(descriptor.Get()).Protected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                               : UNPROTECTED_DACL_SECURITY_INFORMATION);
    return SetNamedSecurityInfoA(const_cast<char*>(Path.c_str()), SE_FILE_OBJECT, what, nullptr, nullptr, dacl,
                                 nullptr) == ERROR_SUCCESS;
}

const BYTE Inherits = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
const ACCESS_MASK ReadExecute = 0x1200a9;

// Setup's own entries, with the flags a folder of its own or one below it shows:
// sandboxed readers (ALL APPLICATION PACKAGES) read as in Program Files.
std::vector<TAce> OwnAcl(BYTE Flags) {
    return {{ACCESS_ALLOWED_ACE_TYPE, Flags, FILE_ALL_ACCESS, "S-1-5-18"},
            {ACCESS_ALLOWED_ACE_TYPE, Flags, FILE_ALL_ACCESS, "S-1-5-32-544"},
            {ACCESS_ALLOWED_ACE_TYPE, Flags, ReadExecute, "S-1-5-32-545"},
            {ACCESS_ALLOWED_ACE_TYPE, Flags, ReadExecute, "S-1-15-2-1"}};
}

// Acl was read, protected from its parent's entries or not, and holds these entries.
void ExpectAcl(const TFolderAcl& Acl, bool Protected, const std::vector<TAce>& Aces) {
    EXPECT_TRUE(Acl.Read);
    EXPECT_EQ(Acl.Protected, Protected);
    EXPECT_EQ(Acl.Aces, Aces);
}

// Whether this file system keeps a folder's DACL as set: Wine keeps it beside
// the Unix file only where extended attributes work. Empty when it does.
std::string AclsNotKept(const std::string& Scratch) {
    const char* known = "D:P(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)";
    if (!CreateDirectoryA(Scratch.c_str(), nullptr)) return "cannot make " + Scratch;
    bool set = SetAcl(Scratch, known);
    TFolderAcl back = ReadAcl(Scratch);
    RemoveDirectoryA(Scratch.c_str());
    if (!set) return "SetNamedSecurityInfo refused a DACL on " + Scratch;
    std::vector<TAce> expected = {{ACCESS_ALLOWED_ACE_TYPE, Inherits, FILE_ALL_ACCESS, "S-1-5-32-544"},
                                  {ACCESS_ALLOWED_ACE_TYPE, Inherits, ReadExecute, "S-1-1-0"}};
    if (!back.Read || !back.Protected || back.Aces != expected)
        return "a DACL set on " + Scratch + " did not read back as set";
    return "";
}

// The slot of this program's import table through which the engine calls Function.
void** ImportSlot(const char* Dll, const char* Function) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name; ++dll) {
        if (_stricmp(reinterpret_cast<char*>(base + dll->Name), Dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* named = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(named->Name), Function) == 0)
                return reinterpret_cast<void**>(&slots->u1.Function);
        }
    }
    return nullptr;
}

// One CreateDirectoryA call: the folder, and the DACL it was made with (none: Acl.Read false).
struct TCreation {
    std::string Path;
    TFolderAcl Acl;
};

std::vector<TCreation> Creations;
BOOL(WINAPI* RealCreateDirectory)(LPCSTR, LPSECURITY_ATTRIBUTES) = nullptr;

BOOL WINAPI RecordCreateDirectory(LPCSTR Path, LPSECURITY_ATTRIBUTES Attributes) {
    TCreation call{Path, {}};
    if (Attributes && Attributes->lpSecurityDescriptor) call.Acl = DescriptorAcl(Attributes->lpSecurityDescriptor);
    Creations.push_back(call);
    return RealCreateDirectory(Path, Attributes);
}

// Records the engine's CreateDirectoryA calls for the life of the object: what
// a folder is made with can be checked where the file system keeps no ACL.
class CreateDirectoryRecorder {
public:
    CreateDirectoryRecorder() : FSlot(ImportSlot("kernel32.dll", "CreateDirectoryA")) {
        Creations.clear();
        if (!FSlot) return;
        RealCreateDirectory = reinterpret_cast<decltype(RealCreateDirectory)>(*FSlot);
        Patch(reinterpret_cast<void*>(&RecordCreateDirectory));
    }
    ~CreateDirectoryRecorder() {
        if (FSlot) Patch(reinterpret_cast<void*>(RealCreateDirectory));
    }
    bool Active() const { return FSlot != nullptr; }

private:
    void Patch(void* Target) {
        DWORD old = 0;
        VirtualProtect(FSlot, sizeof(void*), PAGE_READWRITE, &old);
        *FSlot = Target;
        VirtualProtect(FSlot, sizeof(void*), old, &old);
    }
    void** FSlot;
};

std::vector<std::string> JournalLines(const std::string& Folder) {
    return SplitCrLf(ReadFileText(Folder + "install.log"));
}

bool IsBanner(const std::string& Line) {
    return Line.rfind("########## Setup started at ", 0) == 0 && Line.size() > 40 &&
           Line.substr(Line.size() - 11) == " ##########";
}

}  // namespace

TEST(ForceFolder, CreatesMissingParentsOuterFirstAndJournalsEach) {
    TempFolder temp;
    TInstaller installer;
    std::string target = temp.Path() + "Program Files\\Orvand\\sub\\";
    ASSERT_TRUE(CreateDirectoryA((temp.Path() + "Program Files").c_str(), nullptr));
    EXPECT_TRUE(installer.ForceFolder(target));
    EXPECT_TRUE(FolderExists(target));
    EXPECT_EQ(installer.PendingJournal(),
              "CreateFolder " + temp.Path() + "Program Files\\Orvand\\\r\n" + "CreateFolder " + target + "\r\n");
    // An existing folder: True, nothing journalled.
    std::string before = installer.PendingJournal();
    EXPECT_TRUE(installer.ForceFolder(target));
    EXPECT_TRUE(installer.ForceFolder(temp.Path()));
    EXPECT_EQ(installer.PendingJournal(), before);
}

TEST(ForceFolder, TheTopmostFolderMadeForTheTargetGetsSetupsOwnProtectedAcl) {
    TempFolder temp;
    std::string why = AclsNotKept(temp.Path() + "probe\\");
    if (!why.empty()) GTEST_SKIP() << "This file system keeps no ACLs under Wine (" << why << "); nothing to check.";

    // A parent from before setup, with an ACL of its own that setup must leave alone.
    std::string existing = temp.Path() + "Program Files\\";
    ASSERT_TRUE(CreateDirectoryA(existing.c_str(), nullptr));
    ASSERT_TRUE(SetAcl(existing, "D:(A;OICI;FA;;;BA)(A;OICI;FA;;;WD)"));
    TFolderAcl before = ReadAcl(existing);
    ASSERT_TRUE(before.Read);

    TInstaller installer;
    std::string top = existing + "Orvand\\", target = top + "sub\\";
    ASSERT_TRUE(installer.ForceFolder(target));
    TFolderAcl after = ReadAcl(existing);
    EXPECT_EQ(after.Protected, before.Protected);
    EXPECT_EQ(after.Aces, before.Aces) << "the existing parent's ACL changed";

    // Its own entries, passed on to files and folders below, protected from the parent's flowing in.
    ExpectAcl(ReadAcl(top), true, OwnAcl(Inherits));
    // The folder made below it, and a file there, take them over as inherited entries,
    // not as an ACL of their own.
    ExpectAcl(ReadAcl(target), false, OwnAcl(Inherits | INHERITED_ACE));
    WriteFileText(target + "file.txt", "x");
    ExpectAcl(ReadAcl(target + "file.txt"), false, OwnAcl(INHERITED_ACE));

    // Later folders inside the target the journal names inherit too.
    installer.SetTargetFolder(target);
    ASSERT_TRUE(installer.ForceFolder(target + "temp\\"));
    ExpectAcl(ReadAcl(target + "temp\\"), false, OwnAcl(Inherits | INHERITED_ACE));
    // So does a folder outside it (a Start menu group): it is no folder of setup's own.
    std::string elsewhere = existing + "Group\\";
    ASSERT_TRUE(installer.ForceFolder(elsewhere));
    TFolderAcl group = ReadAcl(elsewhere);
    EXPECT_FALSE(group.Protected);
    EXPECT_FALSE(group.Aces.empty());
    for (const TAce& ace : group.Aces) EXPECT_TRUE(ace.Flags & INHERITED_ACE) << ace;
    DeleteFileA((target + "file.txt").c_str());
}

TEST(ForceFolder, OnlyTheTopmostFolderMadeForTheTargetIsMadeWithSetupsAcl) {
    TempFolder temp;
    std::string existing = temp.Path() + "Program Files\\";
    ASSERT_TRUE(CreateDirectoryA(existing.c_str(), nullptr));
    TInstaller installer;
    std::string top = existing + "Orvand\\", target = top + "sub\\";
    CreateDirectoryRecorder recorder;
    ASSERT_TRUE(recorder.Active()) << "CreateDirectoryA is not imported by name";

    ASSERT_TRUE(installer.ForceFolder(target));
    // The ACL comes with the creation itself: no moment with the parent's entries.
    ASSERT_EQ(Creations.size(), 2u);
    EXPECT_EQ(Creations[0].Path, top);
    ExpectAcl(Creations[0].Acl, true, OwnAcl(Inherits));
    EXPECT_EQ(Creations[1].Path, target);
    EXPECT_FALSE(Creations[1].Acl.Read) << "below the topmost folder the ACL is inherited";

    // Inside the target the journal names, and outside it, folders are made plainly.
    installer.SetTargetFolder(target);
    ASSERT_TRUE(installer.ForceFolder(target + "temp\\"));
    ASSERT_TRUE(installer.ForceFolder(existing + "Group\\"));
    ASSERT_EQ(Creations.size(), 4u);
    EXPECT_FALSE(Creations[2].Acl.Read);
    EXPECT_FALSE(Creations[3].Acl.Read);
    // The target itself, made again once gone, gets it again.
    RemoveDirectoryA((target + "temp\\").c_str());
    RemoveDirectoryA(target.c_str());
    ASSERT_TRUE(installer.ForceFolder(target));
    ASSERT_EQ(Creations.size(), 5u);
    ExpectAcl(Creations[4].Acl, true, OwnAcl(Inherits));
}

TEST(ForceFolder, ShortPathsAreNeverADestination) {
    TInstaller installer;
    for (const char* text : {"", "C:", "C:\\", "Z:\\", "\\", "ab"}) EXPECT_FALSE(installer.ForceFolder(text)) << text;
    EXPECT_EQ(installer.PendingJournal(), "");
}

TEST(ForceFolder, FailureCreatesNothingBelowAndJournalsOnlyWhatWasMade) {
    TempFolder temp;
    TInstaller installer;
    // A file where a folder should go: the folder below it cannot be made.
    WriteFileText(temp.Path() + "blocker", "x");
    EXPECT_FALSE(installer.ForceFolder(temp.Path() + "blocker\\inner\\"));
    EXPECT_EQ(installer.PendingJournal(), "");
    EXPECT_FALSE(installer.ForceFolder(temp.Path() + "new\\bad|name\\"));
    EXPECT_EQ(installer.PendingJournal(), "CreateFolder " + temp.Path() + "new\\\r\n");
    // A drive that does not exist.
    EXPECT_FALSE(installer.ForceFolder("Q:\\nowhere\\deep\\"));
}

TEST(ForceFolder, AcceptsAnExistingDriveRootAsTheEndOfTheRecursion) {
    TInstaller installer;
    std::string folder = "C:\\orvand-force-root-" + std::to_string(GetCurrentProcessId()) + "\\";
    EXPECT_TRUE(installer.ForceFolder(folder));
    EXPECT_EQ(installer.PendingJournal(), "CreateFolder " + folder + "\r\n");
    RemoveDirectoryA(folder.c_str());
}

namespace {

// What Windows answers for a folder's security, in place of Wine's (which reads
// every file as the user's own), and the folders setup protected meanwhile.
TFolderSecurity WindowsAnswer;
std::vector<std::string> Protected;

class SecuritySeam {
public:
    explicit SecuritySeam(const TFolderSecurity& Answer) {
        WindowsAnswer = Answer;
        Protected.clear();
        ReadFolderSecurity = [](HANDLE) { return WindowsAnswer; };
        ProtectFolder = [](const std::string& Folder) {
            Protected.push_back(Folder);
            return true;
        };
    }
    ~SecuritySeam() {
        ReadFolderSecurity = ReadFolderSecurityFromSystem;
        ProtectFolder = ProtectFolderInSystem;
    }
};

// A folder a user made on C:\: theirs, and Authenticated Users modify what lies below.
const TFolderSecurity UserMade = {
    true,
    "S-1-5-21-1-2-3-1001",
    true,
    {{0, 0, FILE_ALL_ACCESS, "S-1-5-18"},
     {0, 0, FILE_ALL_ACCESS, "S-1-5-32-544"},
     {0, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE, 0x1301bf, "S-1-5-11"}}};
const TFolderSecurity AdminsOnly = {
    true, "S-1-5-32-544", true, {{0, 0, FILE_ALL_ACCESS, "S-1-5-32-544"}, {0, 0, ReadExecute, "S-1-5-32-545"}}};

// Folder refused as a destination, with a message that Matcher takes.
template <class TMatcher>
void ExpectRefused(TInstaller& Installer, const std::string& Folder, TMatcher Matcher) {
    EXPECT_THAT([&] { PrepareTarget(Installer, Folder); }, ThrowsMessage<ETargetRefused>(Matcher)) << Folder;
}

}  // namespace

TEST(ForceFolder, AnExistingDestinationOthersCanChangeIsRefusedUnlessItsJournalSaysSetupMadeIt) {
    TempFolder temp;
    const std::string target = temp.Path() + "Orvand\\";
    ASSERT_TRUE(CreateDirectoryA(target.c_str(), nullptr));
    {
        SecuritySeam windows(UserMade);
        TInstaller installer;
        ExpectRefused(installer, target, HasSubstr("\"" + target + "\": the folder exists already and it belongs to "));
        EXPECT_FALSE(FileExists(target + "install.log"));
        EXPECT_TRUE(Protected.empty());
    }
    {
        SecuritySeam windows(AdminsOnly);
        TInstaller installer;
        EXPECT_TRUE(PrepareTarget(installer, target));
        EXPECT_TRUE(Protected.empty());
    }
    // A user's entry alone, on what lies below, is enough to refuse it.
    TFolderSecurity owned = UserMade;
    owned.Owner = "S-1-5-32-544";
    {
        SecuritySeam windows(owned);
        TInstaller installer;
        ExpectRefused(installer, target, HasSubstr(" may change it, so not only administrators"));
    }
    // An earlier installation's folder: it and its temp\ get setup's ACL again before anything is written.
    WriteFileText(target + "install.log", FormatJournalLine(Journal::CreateFolder, target));
    SecuritySeam windows(UserMade);
    TInstaller installer;
    EXPECT_TRUE(PrepareTarget(installer, target));
    EXPECT_EQ(Protected, (std::vector<std::string>{target, target + "temp\\"}));
}

// A link at, on the way to or inside the destination would take setup's writes elsewhere.
// (Only Windows shows that the held destination cannot be renamed away: Wine renames
// a folder whatever handles are open on it.)
TEST(ForceFolder, NothingIsMadeThroughALinkAndALinkedDestinationIsRefused) {
    TempFolder temp, elsewhere;
    MakeUnixLink(temp.Path() + "linked", elsewhere.Path());
    TInstaller installer;
    EXPECT_FALSE(installer.ForceFolder(temp.Path() + "linked\\Orvand\\"));
    EXPECT_FALSE(FolderExists(elsewhere.Path() + "Orvand"));
    EXPECT_EQ(installer.PendingJournal(), "");
    for (const std::string& link : {temp.Path() + "linked\\", temp.Path() + "linked\\Orvand\\"})
        ExpectRefused(installer, link, HasSubstr("\"" + temp.Path() + "linked\" is a link"));
    ASSERT_TRUE(CreateDirectoryA((elsewhere.Path() + "sub").c_str(), nullptr));
    EXPECT_THROW(HoldFolder(temp.Path() + "linked\\sub\\"), ETargetRefused) << "its final path is elsewhere";

    const std::string target = temp.Path() + "Orvand\\";
    ASSERT_TRUE(PrepareTarget(installer, target));
    MakeUnixLink(target + "data", elsewhere.Path());
    EXPECT_FALSE(installer.ForceFolder(target + "data\\sub2\\"));
    EXPECT_FALSE(FolderExists(elsewhere.Path() + "sub2"));
    // Nor is a journal opened through one.
    TempFolder other;
    MakeUnixLink(other.Path() + "install.log", elsewhere.Path());
    TInstaller fresh;
    EXPECT_THAT([&] { fresh.OpenJournal(other.Path()); },
                ThrowsMessage<EInstallException>(HasSubstr("install.log\" is a link inside the target folder")));
}

TEST(Journal, PendingLinesFollowTheBannerInOrder) {
    TempFolder temp;
    std::string target = temp.Path() + "Orvand Target\\";
    {
        TInstaller installer;
        ASSERT_TRUE(installer.ForceFolder(target));
        installer.OpenJournal(target);
        EXPECT_EQ(installer.TargetFolder(), target);
        EXPECT_EQ(installer.PendingJournal(), "");
        EXPECT_EQ(installer.GetTempFolder(), target + "temp\\");
        ASSERT_TRUE(installer.ForceFolder(installer.GetTempFolder()));
        installer.WriteJournal(Journal::CreateFile, target + "read me.txt");
        installer.WriteJournal(
            Journal::CreateRegValue,
            "2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand|DisplayName");
        // Each line reaches the file at once, while the journal is still open and shared.
        ASSERT_EQ(JournalLines(target).size(), 5u);
    }
    std::string text = ReadFileText(target + "install.log");
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(IsBanner(lines[0])) << lines[0];
    EXPECT_EQ(
        std::vector<std::string>(lines.begin() + 1, lines.end()),
        (std::vector<std::string>{
            "CreateFolder " + target, "CreateFolder " + target + "temp\\", "CreateFile " + target + "read me.txt",
            "CreteRegValue 2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand|DisplayName"}));
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_THAT(text, Not(HasSubstr("\n\n")));

    // The preparation makes the target full once: the journal names it as the system and the uninstaller do.
    TInstaller dotted;
    EXPECT_THROW(dotted.SetTargetFolder("Orvand\\"), EInstallException);
    ASSERT_TRUE(PrepareTarget(dotted, temp.Path() + "x\\..\\.\\Dotted/"));
    EXPECT_EQ(dotted.TargetFolder(), temp.Path() + "Dotted\\");
    EXPECT_EQ(JournalLines(dotted.TargetFolder()).at(1), "CreateFolder " + temp.Path() + "Dotted\\");
    EXPECT_FALSE(FolderExists(temp.Path() + "x"));
}

TEST(Journal, SecondRunAppendsItsBannerAfterTheOldLines) {
    TempFolder temp;
    {
        TInstaller first;
        first.WriteJournal(Journal::CreateFolder, temp.Path() + "a\\");
        first.OpenJournal(temp.Path());
    }
    std::string old = ReadFileText(temp.Path() + "install.log");
    {
        TInstaller second;
        second.OpenJournal(temp.Path());
        second.WriteJournal(Journal::CreateFile, temp.Path() + "b c");
    }
    std::string text = ReadFileText(temp.Path() + "install.log");
    ASSERT_EQ(text.compare(0, old.size(), old), 0);
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(IsBanner(lines[0]) && IsBanner(lines[2])) << text;
    EXPECT_EQ(lines[1], "CreateFolder " + temp.Path() + "a\\");
    EXPECT_EQ(lines[3], "CreateFile " + temp.Path() + "b c");
}

TEST(Journal, BannerUsesTheUsersShortDateAndLongTime) {
    TempFolder temp;
    TInstaller installer;
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    installer.OpenJournal(temp.Path());
    GetLocalTime(&after);
    std::string line = JournalLines(temp.Path()).at(0);
    EXPECT_TRUE(HasClockBetween(line, before, after, "########## Setup started at ", " ##########")) << line;
}

TEST(Journal, ALineTheFileRefusesStopsTheRunAndAFolderItCannotNameIsNotMade) {
    TempFolder temp;
    TInstaller installer;
    installer.OpenJournal(temp.Path());
    // The file turns away every write, as a lost network drive would.
    installer.ReplaceJournal(std::make_unique<TWinFileStream>(temp.Path() + "install.log", GENERIC_READ,
                                                              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    EXPECT_THAT([&] { installer.WriteJournal(Journal::CreateFile, temp.Path() + "a.txt"); },
                ThrowsMessage<EInstallException>(
                    StartsWith("Couldn't write to the install journal \"" + temp.Path() + "install.log\". ")));
    EXPECT_FALSE(installer.ForceFolder(temp.Path() + "sub\\"));
    EXPECT_FALSE(FolderExists(temp.Path() + "sub\\"));
    EXPECT_EQ(JournalLines(temp.Path()).size(), 1u);
}

TEST(Journal, UnopenableJournalRaisesTheFileError) {
    TempFolder temp;
    TInstaller installer;
    EXPECT_THROW(installer.OpenJournal(temp.Path() + "missing\\folder\\"), EStreamError);
}

TEST(Installer, OpensItsOwnExecutableSharedForReadAndWrite) {
    TInstaller installer;
    // It reads this program, which carries no package.
    EXPECT_FALSE(installer.VerifyPackage());
    // Another opener may read and even write the file meanwhile.
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    EXPECT_TRUE(TFileHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr)));
}

TEST(Installer, APackageFileThatIsNotThereRaisesTheStreamError) {
    EXPECT_THROW(TInstaller("C:\\no\\such\\package.exe"), EStreamError);
}
