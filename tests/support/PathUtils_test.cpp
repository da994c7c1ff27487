#include "support/PathUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "Components/SetupPaths.h"
#include "support/Exceptions.h"
#include "tests/test_util.h"

using ::testing::ThrowsMessage;

namespace {
bool NoLeadBytes(unsigned char) { return false; }
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

TEST(ExtractParentFolder, EitherSeparatorAndNoSeparator) {
    struct {
        const char *Path, *Parent;
    } cases[] = {{"C:\\Program Files\\Orvand\\", "C:\\Program Files\\"},
                 {"C:\\Program Files\\Orvand", "C:\\Program Files\\"},
                 {"C:\\a/b/", "C:\\a/"},
                 {"C:\\", "C:\\"},
                 {"data", "data"},
                 {"\\", "\\"},
                 {"/", "/"},
                 {"\\\\", "\\"},
                 {"a\\b\\c", "a\\b\\"},
                 // Bytes above 127: plain characters, or lead bytes whose trail is no separator.
                 {"C:\\\xE0x\\\x81", "C:\\\xE0x\\"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractParentFolder(c.Path), c.Parent) << c.Path;
        // Where no trail byte is a separator, the lead-byte rule changes nothing.
        for (TLeadBytePredicate lead : {static_cast<TLeadBytePredicate>(nullptr), &NoLeadBytes, &ShiftJisLead})
            EXPECT_EQ(ExtractParentFolderWith(c.Path, lead), c.Parent) << c.Path;
    }
    EXPECT_THROW(ExtractParentFolder(""), Exception);
    EXPECT_THAT([] { ExtractParentFolderWith("", ShiftJisLead); },
                ThrowsMessage<Exception>("Assertion failed (support/PathUtils): Path must not be empty"));
}

TEST(ExtractParentFolder, DoubleByteCharacterEndingIn5CIsNoSeparator) {
    // 0x95 0x5C and 0x83 0x5C are Shift-JIS characters whose trail byte looks like "\".
    EXPECT_EQ(ExtractParentFolderWith("C:\\\x95\x5C\\", ShiftJisLead), "C:\\");
    EXPECT_EQ(ExtractParentFolderWith("C:\\\x95\x5C", ShiftJisLead), "C:\\");
    EXPECT_EQ(ExtractParentFolderWith("C:\\\x95\x5C/x", ShiftJisLead), "C:\\\x95\x5C/");
    // Walking up a deeper path stops at every real separator and nowhere else.
    std::string path = "C:\\Apps\\\x95\x5C\\\x83\x5C\\";
    std::vector<std::string> steps;
    for (std::string parent; (parent = ExtractParentFolderWith(path, ShiftJisLead)) != path; path = parent)
        steps.push_back(parent);
    EXPECT_EQ(steps, (std::vector<std::string>{"C:\\Apps\\\x95\x5C\\", "C:\\Apps\\", "C:\\"}));
    // A trail byte other than 0x5C, and a lead byte at the very end, standing alone.
    EXPECT_EQ(ExtractParentFolderWith("C:\\\x83\x41\\", ShiftJisLead), "C:\\");
    EXPECT_EQ(ExtractParentFolderWith("a\\\x95", ShiftJisLead), "a\\");
    // Without a lead-byte rule the trail byte is a separator, as in a single-byte code page.
    EXPECT_EQ(ExtractParentFolderWith("C:\\\x95\x5C\\", NoLeadBytes), "C:\\\x95\x5C");
    EXPECT_EQ(ExtractParentFolderWith("C:\\\x95\x5C", NoLeadBytes), "C:\\");
    EXPECT_EQ(ExtractParentFolderWith("C:\\Apps\\\x95\x5C\\\x83\x5C\\", NoLeadBytes), "C:\\Apps\\\x95\x5C\\\x83\x5C");

    // The file name of a program path starts after the last whole-character separator.
    EXPECT_EQ(FileNameStart("C:\\temp\\\x95\x5C.exe", ShiftJisLead), 8u);
    EXPECT_EQ(FileNameStart("C:\\temp\\\x95\x5C.exe", NoLeadBytes), 10u);
    EXPECT_EQ(FileNameStart("C:\\a/b.exe", ShiftJisLead), 5u);
    EXPECT_EQ(FileNameStart("C:b.exe", ShiftJisLead), 2u);
    EXPECT_EQ(FileNameStart("b.exe", ShiftJisLead), 0u);
    EXPECT_EQ(FileNameStart("C:\\a\\", ShiftJisLead), 5u);
}

TEST(IsBareFileName, OnlyNamesThatStayInTheirFolder) {
    for (const char* good : {"MSagent.exe", "Vela.acs", "read me.htm", "{3F2A8C41}.db", "a.b.c"})
        EXPECT_TRUE(IsBareFileName(good)) << good;
    for (const char* bad : {"", "..", "...", "..\\x.acs", "../x.acs", "a..b", "data\\x.acs", "d/x", "C:x.acs",
                            "C:\\Windows\\x.exe", "\\\\host\\share\\x", "x?.acs", "con", "NUL.txt", "a\tb"})
        EXPECT_FALSE(IsBareFileName(bad)) << bad;
}

TEST(PathsBelowFolder, EveryStepOfAWriteBelowTheFolderOutermostFirst) {
    using V = std::vector<std::string>;
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "c:\\t\\a\\b\\f.txt", NoLeadBytes),
              (V{"c:\\t\\a", "c:\\t\\a\\b", "c:\\t\\a\\b\\f.txt"}));
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\T\\f.txt", NoLeadBytes), V{"C:\\T\\f.txt"});
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\T\\data\\", NoLeadBytes), V{"C:\\T\\data"});
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\T\\a\\\\b", NoLeadBytes), (V{"C:\\T\\a", "C:\\T\\a\\\\b"}));
    // Nothing outside the folder, nor the folder itself, is a step.
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\T\\", NoLeadBytes), V{});
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\Other\\f", NoLeadBytes), V{});
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\Tx\\f", NoLeadBytes), V{});
    EXPECT_EQ(PathsBelowFolder("", "C:\\f", NoLeadBytes), V{});
    // A double-byte character ending in 0x5C does not split a name.
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\T\\\x95\x5C\\f", ShiftJisLead),
              (V{"C:\\T\\\x95\x5C", "C:\\T\\\x95\x5C\\f"}));
    EXPECT_EQ(PathsBelowFolder("C:\\T\\", "C:\\T\\\x95\x5C\\f", NoLeadBytes), (V{"C:\\T\\\x95", "C:\\T\\\x95\x5C\\f"}));
}

// A step that is a junction, mount point or symbolic link sends a write elsewhere; a
// deduplicated file or a cloud placeholder is a reparse point that does not.
TEST(PathsBelowFolder, OnlyReparsePointsThatNameAnotherPathAreLinks) {
    const uint32_t reparse = 0x400, folder = 0x10;
    EXPECT_TRUE(RedirectsElsewhere(reparse | folder, 0xA0000003));   // junction, mount point
    EXPECT_TRUE(RedirectsElsewhere(reparse, 0xA000000C));            // symbolic link
    EXPECT_TRUE(RedirectsElsewhere(reparse | folder, 0));            // Wine's links carry no tag
    EXPECT_FALSE(RedirectsElsewhere(reparse, 0x80000013));           // deduplicated
    EXPECT_FALSE(RedirectsElsewhere(reparse | folder, 0x9000601A));  // cloud placeholder
    EXPECT_FALSE(RedirectsElsewhere(reparse, 0x8000001B));           // AppExecLink
    EXPECT_FALSE(RedirectsElsewhere(folder, 0xA000000C));            // no reparse point at all
}

TEST(Utf8Paths, SequencesAreWholeCharactersWhereDoubleByteRulesWouldSwallowSeparators) {
    const TCharSet utf8 = TCharSet::Utf8();
    // "C:\Łukasz\x": the trail byte 0x81 of "Ł" is a Shift-JIS lead byte, which
    // would take the "\" after it for its trail.
    const std::string lukasz = "C:\\\xC5\x81\\x";
    EXPECT_EQ(ExtractParentFolderWith(lukasz, utf8), "C:\\\xC5\x81\\");
    EXPECT_EQ(ExtractParentFolderWith(lukasz, ShiftJisLead), "C:\\");
    EXPECT_EQ(FileNameStart(lukasz, utf8), 6u);
    // "C:\Программы\" ends in "ы" (0xD1 0x8B): with a double-byte rule its folder
    // would get a second separator and lose its parent.
    const std::string programs = "C:\\\xD0\x9F\xD1\x80\xD0\xBE\xD0\xB3\xD1\x80\xD0\xB0\xD0\xBC\xD0\xBC\xD1\x8B\\";
    EXPECT_EQ(NormalizeFolderPathWith(programs, utf8), programs);
    EXPECT_EQ(NormalizeFolderPathWith(programs, ShiftJisLead), programs + "\\");
    EXPECT_EQ(ExtractParentFolderWith(programs + "Orvand\\", utf8), programs);
    EXPECT_EQ(PathsBelowFolder(programs, programs + "data\\\xC5\x81.acs", utf8),
              (std::vector<std::string>{programs + "data", programs + "data\\\xC5\x81.acs"}));
    // Broken sequences are single bytes, so the ASCII byte after them still counts.
    for (const char* broken : {"\xC5", "\xE0\x80", "\xF0\x9F", "\x81", "\xC0", "\xED\xA0"}) {
        const std::string path = std::string("C:\\a") + broken + "\\x";
        EXPECT_EQ(ExtractParentFolderWith(path, utf8), path.substr(0, path.size() - 1)) << path;
        EXPECT_TRUE(EndsWithSeparator(std::string(broken) + "\\", utf8)) << broken;
    }
    // The last character's start is that of its whole sequence.
    EXPECT_EQ(utf8.Next("\xF0\x9F\x98\x80", 0), 4u);
    EXPECT_EQ(utf8.Next("\xE2\x82\xAC", 0), 3u);
    EXPECT_EQ(utf8.Next("\xE2\x82", 0), 1u);
}

// An opening quotation mark alone is no quoting.
TEST(QuotedProgram, OnlyAPathWithBlanksIsQuotedAndOnlyOnce) {
    for (const auto& [path, quoted] : {std::pair{"C:\\Orvand\\install.exe", "C:\\Orvand\\install.exe"},
                                       {"C:\\Program Files\\install.exe", "\"C:\\Program Files\\install.exe\""},
                                       {"\"C:\\Program Files\\install.exe\"", "\"C:\\Program Files\\install.exe\""},
                                       {"\"C:\\Program Files\\install.exe", "\"\"C:\\Program Files\\install.exe\""},
                                       {"\" \"", "\" \""},
                                       {"", ""}})
        EXPECT_EQ(QuotedProgram(path), quoted) << path;
}
