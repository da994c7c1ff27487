#include "app/SetupRules.h"

#include <gtest/gtest.h>

TEST(ExceptionMessageText, AFullStopUnlessTheTextEndsInPunctuationOrIsEmpty) {
    EXPECT_EQ(ExceptionMessageText(""), "");
    EXPECT_EQ(ExceptionMessageText("Disk full"), "Disk full.");
    EXPECT_EQ(ExceptionMessageText("Done."), "Done.");
    // Codes at most that of ".": no full stop.
    EXPECT_EQ(ExceptionMessageText("Oops!"), "Oops!");
    EXPECT_EQ(ExceptionMessageText("(see log)"), "(see log)");
    EXPECT_EQ(ExceptionMessageText("a-"), "a-");
    EXPECT_EQ(ExceptionMessageText("line\r\n"), "line\r\n");
    EXPECT_EQ(ExceptionMessageText("blank "), "blank ");
    // Above it: one is added.
    EXPECT_EQ(ExceptionMessageText("Why?"), "Why?.");
    EXPECT_EQ(ExceptionMessageText("C:/"), "C:/.");
    EXPECT_EQ(ExceptionMessageText("C:\\"), "C:\\.");
    EXPECT_EQ(ExceptionMessageText("3"), "3.");
    // A letter above 127 is a letter, not a control character.
    EXPECT_EQ(ExceptionMessageText("Gr\xFC\xDF"), "Gr\xFC\xDF.");
}

TEST(IsAbsoluteFolderPath, OnlyDriveAndSharePathsAreAbsolute) {
    for (const char* path : {"C:\\", "c:\\Program Files\\Orvand\\", "Z:/apps/", "\\\\server\\share\\", "//host/x/"})
        EXPECT_TRUE(IsAbsoluteFolderPath(path)) << path;
    for (const char* path : {"", "\\", "Orvand\\", "C:", "C:Orvand\\", "1:\\", "\\Apps\\", "\\\\server\\", "\\\\\\x\\y",
                             "\\\\server\\\\"})
        EXPECT_FALSE(IsAbsoluteFolderPath(path)) << path;
}

TEST(ListPrerequisites, AgentWhenMissingThenTheTickedComponentsInFixedOrder) {
    auto shipped = [](const std::string& Name) { return Name == "tv_enua.exe"; };
    auto list = ListPrerequisites({false, true, true, true}, shipped);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].InstallerName, "MSagent.exe");
    EXPECT_EQ(list[1].InstallerName, "spchapi.exe");
    EXPECT_EQ(list[2].InstallerName, "tv_enua.exe");
    EXPECT_EQ(list[3].InstallerName, "lhttseng.exe");
    EXPECT_FALSE(list[0].InPackage);
    EXPECT_TRUE(list[2].InPackage);

    EXPECT_TRUE(ListPrerequisites({true, false, false, false}, shipped).empty());
    list = ListPrerequisites({true, false, false, true}, shipped);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].InstallerName, "lhttseng.exe");
}
