#include "app/PathUtils.h"

#include <gtest/gtest.h>

#include "Components/SetupPaths.h"
#include "support/Exceptions.h"

namespace {
bool NoLeadBytes(unsigned char) { return false; }
// Lead bytes of code page 932 (Shift-JIS).
bool ShiftJisLead(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
}  // namespace

TEST(NormalizeFolderPath, TrimsBlanksAndControlsAndEnsuresOneSeparator) {
    EXPECT_EQ(NormalizeFolderPathWith("  C:\\Apps  ", NoLeadBytes), "C:\\Apps\\");
    EXPECT_EQ(NormalizeFolderPathWith("\t\r\nC:\\Apps\\\x01", NoLeadBytes), "C:\\Apps\\");
    EXPECT_EQ(NormalizeFolderPathWith("C:/Apps/", NoLeadBytes), "C:/Apps/");
    EXPECT_EQ(NormalizeFolderPathWith("C:\\Program Files\\Orvand", NoLeadBytes), "C:\\Program Files\\Orvand\\");
    EXPECT_EQ(NormalizeFolderPathWith("", NoLeadBytes), "\\");
    EXPECT_EQ(NormalizeFolderPathWith("    ", NoLeadBytes), "\\");
    // Bytes above 127 are not blanks.
    EXPECT_EQ(NormalizeFolderPathWith("\xA0x\xA0", NoLeadBytes), "\xA0x\xA0\\");
}

TEST(NormalizeFolderPath, DoubleByteCharacterEndingIn5CIsNoSeparator) {
    // 0x95 0x5C is one Shift-JIS character whose trail byte looks like "\".
    std::string path = "C:\\\x95\x5C";
    EXPECT_EQ(NormalizeFolderPathWith(path, ShiftJisLead), path + "\\");
    EXPECT_EQ(NormalizeFolderPathWith(path, NoLeadBytes), path);
    // A real separator after a double-byte character still counts.
    EXPECT_EQ(NormalizeFolderPathWith(path + "\\", ShiftJisLead), path + "\\");
    // A lead byte at the very end stands alone.
    EXPECT_EQ(NormalizeFolderPathWith("a\x95", ShiftJisLead), "a\x95\\");
}

TEST(SameTextAscii, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(SameTextAscii("SETUP.XML", "setup.xml"));
    EXPECT_FALSE(SameTextAscii("setup.xm", "setup.xml"));
    EXPECT_FALSE(SameTextAscii("\xC4", "\xE4"));  // Latin-1 A/a umlaut differ
    EXPECT_FALSE(SameTextAscii("[", "{"));        // 0x5B and 0x7B are no letters
    EXPECT_EQ(LowerAscii("File.DB\xC4"), "file.db\xC4");
}

TEST(ExtractParentFolder, EitherSeparatorAndNoSeparator) {
    EXPECT_EQ(ExtractParentFolder("C:\\Program Files\\Orvand\\"), "C:\\Program Files\\");
    EXPECT_EQ(ExtractParentFolder("C:\\Program Files\\Orvand"), "C:\\Program Files\\");
    EXPECT_EQ(ExtractParentFolder("C:\\a/b/"), "C:\\a/");
    EXPECT_EQ(ExtractParentFolder("C:\\"), "C:\\");
    EXPECT_EQ(ExtractParentFolder("data"), "data");
    EXPECT_EQ(ExtractParentFolder("\\"), "\\");
    EXPECT_EQ(ExtractParentFolder("\\\\"), "\\");
    EXPECT_THROW(ExtractParentFolder(""), Exception);
}

TEST(IsBareFileName, OnlyNamesThatStayInTheirFolder) {
    for (const char* good : {"MSagent.exe", "Vela.acs", "read me.htm", "{3F2A8C41}.db", "a.b.c"})
        EXPECT_TRUE(IsBareFileName(good)) << good;
    for (const char* bad : {"", "..", "...", "..\\x.acs", "../x.acs", "a..b", "data\\x.acs", "d/x", "C:x.acs",
                            "C:\\Windows\\x.exe", "\\\\host\\share\\x", "x?.acs", "con", "NUL.txt", "a\tb"})
        EXPECT_FALSE(IsBareFileName(bad)) << bad;
}
