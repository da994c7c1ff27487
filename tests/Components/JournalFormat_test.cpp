#include "Components/JournalFormat.h"

#include "Components/TargetRules.h"

#include <gtest/gtest.h>

#include <chrono>

#include "tests/test_util.h"

using Lines = std::vector<std::string>;

TEST(JournalFormat, LinesAndBannersEndInCrLf) {
    EXPECT_EQ(FormatJournalLine("CreateFolder", "C:\\Program Files\\Orvand\\"),
              "CreateFolder C:\\Program Files\\Orvand\\\r\n");
    EXPECT_EQ(FormatJournalBanner("Setup started at 08.12.2026 10:26:45"),
              "########## Setup started at 08.12.2026 10:26:45 ##########\r\n");
}

TEST(JournalFormat, SplitsOnEveryKindOfLineEnd) {
    EXPECT_EQ(SplitJournalLines(""), Lines{});
    EXPECT_EQ(SplitJournalLines("a"), Lines{"a"});
    EXPECT_EQ(SplitJournalLines("a\r\n"), Lines{"a"});
    EXPECT_EQ(SplitJournalLines("a\r\nb\rc\nd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitJournalLines("a\n\r\nb"), (Lines{"a", "", "b"}));
    EXPECT_EQ(SplitJournalLines("a\r\r\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitJournalLines("\r\n\r\n"), (Lines{"", ""}));
}

TEST(JournalFormat, TextEndsAtTheFirstZeroByte) {
    std::string text("CreateFile C:\\a\r\nCreateFile C:\\b\0CreateFile C:\\c\r\n", 50);
    EXPECT_EQ(SplitJournalLines(text), (Lines{"CreateFile C:\\a", "CreateFile C:\\b"}));
}

TEST(JournalFormat, HugeTextsSplitInLinearTime) {
    std::string many;
    for (int i = 0; i < 100000; ++i) many += "CreateFile C:\\x\r\n";
    std::string huge = "CreateFile " + std::string(1 << 20, 'a') + "\n" + std::string(1 << 20, '\xff');
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 10; ++round) {
        EXPECT_EQ(SplitJournalLines(many).size(), 100000u);
        Lines lines = SplitJournalLines(huge);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(ParseJournalLine(lines[0]).Argument.size(), size_t(1) << 20);
    }
    // Linear work is a few milliseconds a round even under the sanitizers.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(JournalFormat, ActionIsTheExactWordBeforeTheFirstBlank) {
    TJournalLine line = ParseJournalLine("CreateFile C:\\Program Files\\Orvand\\read me.txt");
    EXPECT_EQ(line.Action, TJournalAction::CreateFile);
    EXPECT_EQ(line.Argument, "C:\\Program Files\\Orvand\\read me.txt");

    for (const auto& [text, action] : {std::pair{"CreateFolder C:\\x\\", TJournalAction::CreateFolder},
                                       std::pair{"CreteRegKey 1|k", TJournalAction::CreateRegKey},
                                       std::pair{"CreteRegValue 1|k|v", TJournalAction::CreateRegValue},
                                       std::pair{"RegisterServer C:\\b.ocx", TJournalAction::RegisterServer}})
        EXPECT_EQ(ParseJournalLine(text).Action, action) << text;
    for (const char* skipped : {"createfile C:\\a", "CreateFiles C:\\a", "CreateRegKey 1|k", "CreateFile",
                                "########## Setup started at x ##########", "", " CreateFile C:\\a"})
        EXPECT_EQ(ParseJournalLine(skipped).Action, TJournalAction::None) << skipped;
    // An argument may be empty and may start with blanks.
    TJournalLine empty = ParseJournalLine("CreateFile ");
    EXPECT_EQ(empty.Action, TJournalAction::CreateFile);
    EXPECT_EQ(empty.Argument, "");
    EXPECT_EQ(ParseJournalLine("CreateFile  x").Argument, " x");
}

TEST(JournalFormat, RegistryArguments) {
    TRegistryArgument arg;
    ASSERT_TRUE(ParseRegValueArgument("2147483649|Software\\Microsoft\\Windows\\CurrentVersion\\Run|Orvand", arg));
    EXPECT_EQ(arg.Root, Journal::RootCurrentUser);
    EXPECT_EQ(arg.Key, "Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_EQ(arg.ValueName, "Orvand");

    ASSERT_TRUE(ParseRegValueArgument("2147483650|K|name|with|bars", arg));
    EXPECT_EQ(arg.Root, Journal::RootLocalMachine);
    EXPECT_EQ(arg.ValueName, "name|with|bars");
    ASSERT_TRUE(ParseRegValueArgument("2147483649|K|", arg));
    EXPECT_EQ(arg.ValueName, "");

    ASSERT_TRUE(
        ParseRegKeyArgument("2147483649|Software\\Microsoft\\Internet Explorer\\MenuExt\\&Copy to Orvand", arg));
    EXPECT_EQ(arg.Key, "Software\\Microsoft\\Internet Explorer\\MenuExt\\&Copy to Orvand");

    EXPECT_FALSE(ParseRegValueArgument("2147483649|OnlyKey", arg));
    for (const char* bad : {"2147483649 Software", "|Software", "HKCU|Software", "99999999999999999999|Software"})
        EXPECT_FALSE(ParseRegKeyArgument(bad, arg)) << bad;

    // Read back as written, down to the sign-extended handle of the root.
    for (uint32_t root : {Journal::RootClassesRoot, Journal::RootLocalMachine, 0x80000005u})
        for (const std::string value : {"", "Orvand", "a|b"}) {
            const uintptr_t handle = uintptr_t(intptr_t(int32_t(root)));
            ASSERT_TRUE(ParseRegValueArgument(FormatRegValueArgument(Journal::RootNumber(handle), "K\\x", value), arg));
            EXPECT_EQ(Journal::RootHandle(arg.Root), handle);
            EXPECT_EQ(arg.Key + "|" + arg.ValueName, "K\\x|" + value);
            ASSERT_TRUE(ParseRegKeyArgument(FormatRegKeyArgument(root, "K\\" + value), arg));
            EXPECT_EQ(arg.Key, "K\\" + value);
        }
}

TEST(JournalFormat, RootIsTheLow32BitsOfASigned64BitNumber) {
    // 6442450945 is 0x180000001.
    for (const auto& [text, low] :
         {std::pair{"-2147483647", Journal::RootCurrentUser}, std::pair{"6442450945", Journal::RootCurrentUser},
          std::pair{"-9223372036854775808", 0u}, std::pair{"+0", 0u}}) {
        uint32_t root = 1;
        EXPECT_TRUE(ParseRegistryRoot(text, root)) << text;
        EXPECT_EQ(root, low) << text;
    }
    uint32_t root = 0;
    for (const char* bad : {"9223372036854775808", "", "-", " 1"}) EXPECT_FALSE(ParseRegistryRoot(bad, root)) << bad;
}

// Only the predefined roots are ever undone: not 0, a handle-sized number or their neighbours.
TEST(JournalFormat, OnlyThePredefinedRootsNameKeysOfTheJournals) {
    for (uint32_t predefined : {0x80000000u, Journal::RootCurrentUser, Journal::RootLocalMachine, 0x80000005u})
        EXPECT_TRUE(IsPredefinedRoot(predefined)) << predefined;
    for (uint32_t other : {0u, 0x5Cu, 0x7FFFFFFFu, 0x80000006u, 0xFFFFFFFFu})
        EXPECT_FALSE(IsPredefinedRoot(other)) << other;
}

TEST(InstallFolderGuard, FolderPathsMatchIgnoringAsciiCaseAndOneTrailingSeparator) {
    EXPECT_TRUE(SameFolderPath("C:\\Program Files\\Orvand\\", "c:\\PROGRAM FILES\\orvand", nullptr));
    EXPECT_TRUE(SameFolderPath("C:\\Orvand/", "C:\\Orvand\\", nullptr));
    EXPECT_FALSE(SameFolderPath("C:\\Orvand\\", "C:\\Orvand2\\", nullptr));
    EXPECT_FALSE(SameFolderPath("C:\\Orvand\\sub\\", "C:\\Orvand\\", nullptr));
    EXPECT_FALSE(SameFolderPath("C:\\Orvand\\\\", "C:\\Orvand", nullptr));
    // Only A-Z fold: 0xC4 and 0xE4 (A and a with diaeresis in code page 1252) stay distinct.
    EXPECT_FALSE(SameFolderPath("C:\\\xC4\\", "C:\\\xE4\\", nullptr));
    // A trail byte 0x5C is part of its character, not a separator.
    EXPECT_FALSE(SameFolderPath("C:\\\x83\x5C", "C:\\\x83", ShiftJisLead));
}

TEST(InstallFolderGuard, RootsOfDrivesAndSharesAreRecognised) {
    for (const char* root :
         {"", " ", "\\", "/", "C:", "C:\\", "c:/", "Z:\\\\", "\\\\server\\share\\", "\\\\server\\share", "\\\\server",
          "\\\\?\\C:\\", "\\\\?\\UNC\\server\\share\\", "\\\\.\\D:\\", " C:\\ "})
        EXPECT_TRUE(IsRootFolder(root, nullptr)) << root;
    for (const char* folder : {"C:\\Orvand\\", "C:\\a", "\\\\server\\share\\Orvand\\", "\\\\?\\C:\\Orvand\\",
                               "\\\\?\\UNC\\server\\share\\x\\", "\\Orvand\\"})
        EXPECT_FALSE(IsRootFolder(folder, nullptr)) << folder;
}

TEST(InstallFolderGuard, EmptiedOnlyWhenTheJournalCreatedThatVeryFolder) {
    const std::string folder = "C:\\Program Files\\Orvand\\";
    EXPECT_TRUE(MayEmptyInstallFolder({"CreateFolder C:\\Program Files\\Orvand\\"}, folder, nullptr));
    EXPECT_TRUE(MayEmptyInstallFolder({"CreateFile x", "CreateFolder c:\\program files\\orvand"}, folder, nullptr));
    EXPECT_FALSE(MayEmptyInstallFolder({}, folder, nullptr));
    for (const char* other : {"CreateFolder C:\\Program Files\\", "CreateFolder C:\\Program Files\\Orvand\\temp\\",
                              "createfolder C:\\Program Files\\Orvand\\", "CreateFile C:\\Program Files\\Orvand\\",
                              "CreateFolder  C:\\Program Files\\Orvand\\"})
        EXPECT_FALSE(MayEmptyInstallFolder({other}, folder, nullptr)) << other;
    // A root or a folder under c:\prj\ is never emptied, whatever the journal says.
    EXPECT_FALSE(MayEmptyInstallFolder({"CreateFolder C:\\"}, "C:\\", nullptr));
    EXPECT_FALSE(MayEmptyInstallFolder({"CreateFolder C:\\PRJ\\Orvand\\"}, "C:\\PRJ\\Orvand\\", nullptr));
    EXPECT_TRUE(MayEmptyInstallFolder({"CreateFolder C:\\prjx\\"}, "C:\\prjx\\", nullptr));
}

TEST(InstallFolderGuard, ThePrjRuleLooksAtTheFirstSevenCharacters) {
    for (const char* prj : {"c:\\prj\\", "C:\\PRJ\\Orvand\\"}) EXPECT_TRUE(IsPrjFolder(prj)) << prj;
    for (const char* other : {"C:\\prj", "C:/prj/Orvand/", "D:\\prj\\Orvand\\", ""})
        EXPECT_FALSE(IsPrjFolder(other)) << other;
}

// Who besides the administrators could change an existing destination, or none.
TEST(InstallFolderGuard, OnlyFoldersThatNoOneButAdministratorsCanChangeAreTrusted) {
    const std::string users = "S-1-5-32-545", authenticated = "S-1-5-11", someone = "S-1-5-21-1-2-3-1001";
    const uint8_t inherited = 0x0B;  // to files and folders below only
    auto writer = [](TFolderSecurity Security) {
        std::optional<TOtherWriter> other = OtherWriterOf(Security);
        return other ? other->Sid + (other->IsOwner ? " owns" : " writes") : std::string("admins only");
    };
    TFolderSecurity admins{true,
                           AdministratorsSid,
                           true,
                           {{0, 0, 0x1F01FF, SystemSid},
                            {0, 0, 0x1F01FF, AdministratorsSid},
                            {0, 0, 0x1200A9, users},
                            {0, 0, 0x1200A9, "S-1-15-2-1"},
                            {0, inherited, 0x10000000, "S-1-3-0"}}};
    EXPECT_EQ(writer(admins), "admins only");
    for (const char* owner : {SystemSid, TrustedInstallerSid}) {
        TFolderSecurity owned = admins;
        owned.Owner = owner;
        EXPECT_EQ(writer(owned), "admins only") << owner;
    }
    TFolderSecurity mine = admins;
    mine.Owner = someone;
    EXPECT_EQ(writer(mine), someone + " owns");
    // Each right that changes the folder or what setup writes below it, on this folder or only below.
    for (uint32_t right : {0x2u, 0x4u, 0x40u, 0x10000u, 0x40000u, 0x80000u, 0x40000000u, 0x10000000u})
        for (uint8_t flags : {uint8_t(0), inherited}) {
            TFolderSecurity open = admins;
            open.Aces.push_back({0, flags, right | 0x1200A9, authenticated});
            EXPECT_EQ(writer(open), authenticated + " writes") << std::hex << right << " " << int(flags);
        }
    TFolderSecurity denied = admins, attributes = admins, none = admins;
    denied.Aces.push_back({1, 0, 0x1F01FF, authenticated});
    attributes.Aces.push_back({0, 0, 0x100 | 0x10, users});  // attributes and extended attributes
    EXPECT_EQ(writer(denied), "admins only");
    EXPECT_EQ(writer(attributes), "admins only");
    none.HasDacl = false;
    EXPECT_EQ(writer(none), "S-1-1-0 writes");
    EXPECT_EQ(writer(TFolderSecurity{}), " writes") << "unread: nobody can say who";
}

// A journal is replayed as administrator: it undoes what setup changes there and nothing else.
TEST(InstallFolderGuard, TheReplayUndoesOnlyWhatSetupChanges) {
    const TReplayScope scope{"C:\\Apps\\Orvand\\", {"C:\\Users\\u\\Desktop\\", "C:\\Users\\u\\Programs\\Orvand\\"}};
    auto undo = [&](const std::string& Line) { return UndoOf(ParseJournalLine(Line), scope, nullptr); };
    for (const char* line :
         {"CreateFile C:\\Apps\\Orvand\\data\\x.acs", "CreateFile c:\\apps\\orvand\\install.exe",
          "CreateFile C:\\Users\\u\\Desktop\\Orvand.lnk", "CreateFile C:\\Users\\u\\Programs\\Orvand\\Uninstall.lnk",
          "CreateFolder C:\\Apps\\Orvand\\", "CreateFolder C:\\Apps\\Orvand\\temp\\", "CreateFolder C:\\Apps\\",
          "CreateFolder C:\\Users\\u\\Programs\\Orvand\\", "RegisterServer C:\\Apps\\Orvand\\bridge.ocx",
          "CreteRegKey 2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand",
          "CreteRegValue 2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand|a|b",
          "CreteRegValue 2147483649|Software\\Microsoft\\Windows\\CurrentVersion\\Run|Orvand",
          "CreteRegValue 2147483650|Software\\Microsoft\\Windows\\CurrentVersion\\Run|Orvand",
          "CreteRegKey 2147483649|Software\\Microsoft\\Internet Explorer\\MenuExt\\&Copy to Orvand"})
        EXPECT_EQ(undo(line), TUndo::Undo) << line;
    EXPECT_EQ(undo("CreteRegKey 2147483649|Software\\Microsoft\\Windows\\CurrentVersion\\Run"), TUndo::UndoIfEmpty);
    for (const char* line :
         {"CreateFile C:\\Windows\\System32\\x.dll",
          "CreateFile C:\\Apps\\Orvand\\..\\..\\Windows\\x.dll",
          "CreateFile C:\\Apps\\Orvand2\\x",
          "CreateFile C:\\Apps\\Orvand\\",
          "CreateFile C:\\Apps\\Orvand\\x:y",
          "CreateFile C:\\Users\\u\\Desktop\\sub\\x.lnk",
          "CreateFile C:\\Users\\u\\Programs\\Other.lnk",
          "CreateFolder C:\\",
          "CreateFolder C:\\Windows\\",
          "CreateFolder C:\\Apps\\Orvand\\.\\..\\x\\",
          "RegisterServer C:\\Users\\u\\Desktop\\x.ocx",
          "RegisterServer C:\\Windows\\x.ocx",
          "CreteRegKey 2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
          "CreteRegKey 2147483649|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand",
          "CreteRegKey 2147483650|SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand\\x",
          "CreteRegValue 2147483649|Software\\Microsoft\\Windows\\CurrentVersion\\Run|Other",
          "CreteRegKey 2147483649|Software\\Microsoft\\Internet Explorer\\MenuExt\\Other",
          "CreteRegKey 2147483648|CLSID",
          "createfile C:\\Apps\\Orvand\\x",
          "########## Setup started ##########"})
        EXPECT_EQ(undo(line), TUndo::Skip) << line;
}
