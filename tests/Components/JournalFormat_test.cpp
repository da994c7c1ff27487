#include "Components/JournalFormat.h"

#include <gtest/gtest.h>

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

TEST(JournalFormat, ActionIsTheExactWordBeforeTheFirstBlank) {
    TJournalLine line = ParseJournalLine("CreateFile C:\\Program Files\\Orvand\\read me.txt");
    EXPECT_EQ(line.Action, TJournalAction::CreateFile);
    EXPECT_EQ(line.Argument, "C:\\Program Files\\Orvand\\read me.txt");

    EXPECT_EQ(ParseJournalLine("CreateFolder C:\\x\\").Action, TJournalAction::CreateFolder);
    EXPECT_EQ(ParseJournalLine("CreteRegKey 1|k").Action, TJournalAction::CreateRegKey);
    EXPECT_EQ(ParseJournalLine("CreteRegValue 1|k|v").Action, TJournalAction::CreateRegValue);
    EXPECT_EQ(ParseJournalLine("RegisterServer C:\\b.ocx").Action, TJournalAction::RegisterServer);

    for (const char* skipped : {"createfile C:\\a", "CreateFiles C:\\a", "CreateRegKey 1|k", "CreateFile",
                                "########## Setup started at x ##########", "", " CreateFile C:\\a"}) {
        EXPECT_EQ(ParseJournalLine(skipped).Action, TJournalAction::None) << skipped;
    }
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

    ASSERT_TRUE(ParseRegKeyArgument("2147483649|Software\\Microsoft\\Internet Explorer\\MenuExt\\&Copy to Orvand", arg));
    EXPECT_EQ(arg.Key, "Software\\Microsoft\\Internet Explorer\\MenuExt\\&Copy to Orvand");

    EXPECT_FALSE(ParseRegKeyArgument("2147483649 Software", arg));
    EXPECT_FALSE(ParseRegValueArgument("2147483649|OnlyKey", arg));
    EXPECT_FALSE(ParseRegKeyArgument("|Software", arg));
    EXPECT_FALSE(ParseRegKeyArgument("HKCU|Software", arg));
    EXPECT_FALSE(ParseRegKeyArgument("99999999999999999999|Software", arg));
}

TEST(JournalFormat, RootIsTheLow32BitsOfASigned64BitNumber) {
    uint32_t root = 0;
    ASSERT_TRUE(ParseRegistryRoot("-2147483647", root));
    EXPECT_EQ(root, Journal::RootCurrentUser);
    ASSERT_TRUE(ParseRegistryRoot("6442450945", root));  // 0x180000001
    EXPECT_EQ(root, Journal::RootCurrentUser);
    ASSERT_TRUE(ParseRegistryRoot("-9223372036854775808", root));
    EXPECT_EQ(root, 0u);
    ASSERT_TRUE(ParseRegistryRoot("+0", root));
    EXPECT_EQ(root, 0u);
    EXPECT_FALSE(ParseRegistryRoot("9223372036854775808", root));
    EXPECT_FALSE(ParseRegistryRoot("", root));
    EXPECT_FALSE(ParseRegistryRoot("-", root));
    EXPECT_FALSE(ParseRegistryRoot(" 1", root));
}
