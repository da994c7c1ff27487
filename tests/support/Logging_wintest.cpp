#include "support/Logging.h"

#include <gtest/gtest.h>

#include "wintest_util.h"

using namespace wintest;

namespace {
// "[yyyy-mm-dd hh:nn:ss.zzz]" with the system's time separator.
bool IsStampedBracket(const std::string& Text, size_t At) {
    std::string stamp = TLog::Timestamp();
    return Text.size() >= At + stamp.size() + 2 && Text[At] == '[' && Text[At + stamp.size() + 1] == ']';
}
}  // namespace

TEST(Log, SwitchedOffWritesNothingAndCreatesNoFile) {
    TempFolder temp;
    TLog log(temp.Path() + "x.log");
    log.Debug("a");
    log.Error("b");
    log.Marker("c");
    EXPECT_FALSE(FileExists(temp.Path() + "x.log"));
    auto shared = GetLog();
    EXPECT_EQ(shared, GetLog());
    EXPECT_FALSE(static_cast<TLog*>(shared.get())->Enabled());
}

TEST(Log, FirstWriteStartsTheFileWithOneStartLine) {
    TempFolder temp;
    std::string file = temp.Path() + "x.log";
    {
        TLog log(file);
        log.SetEnabled(true);
        log.Debug("x");
        log.Error("100%d done");
    }
    std::vector<std::string> lines = SplitCrLf(ReadFileText(file));
    ASSERT_EQ(lines.size(), 3u);
    size_t stamp = TLog::Timestamp().size();
    EXPECT_TRUE(IsStampedBracket(lines[0], 0));
    EXPECT_EQ(lines[0].substr(stamp + 2), "[LOG_STARTED] " + std::string(40, '='));
    EXPECT_TRUE(IsStampedBracket(lines[1], 0));
    EXPECT_EQ(lines[1].substr(stamp + 2), "[DEBUG] x");
    EXPECT_EQ(lines[2].substr(stamp + 2), "[ERROR] 100%d done");
}

TEST(Log, AppendsToAnExistingFileWithoutAnExtraLineEnd) {
    TempFolder temp;
    std::string file = temp.Path() + "x.log";
    WriteFileText(file, "old bytes");
    {
        TLog log(file);
        log.SetEnabled(true);
        log.Marker("a");
        log.Debug("b");
    }
    std::string text = ReadFileText(file);
    ASSERT_EQ(text.rfind("old bytes[", 0), 0u) << text;
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 2u);
    // The marker has no line end: it shares its line with the next entry.
    size_t stamp = TLog::Timestamp().size();
    EXPECT_EQ(lines[1].substr(0, 12), "--- 0 --- a[");
    EXPECT_EQ(lines[1].substr(12 + stamp), "][DEBUG] b");
}

TEST(Log, TimestampFormat) {
    std::string t = TLog::Timestamp();
    char sep[8] = ":";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, sep, sizeof(sep));
    ASSERT_EQ(t.size(), 21 + 2 * std::string(sep).size());
    EXPECT_EQ(t[4], '-');
    EXPECT_EQ(t[7], '-');
    EXPECT_EQ(t[10], ' ');
    EXPECT_EQ(t[t.size() - 4], '.');
}

TEST(Log, KeepsClearOfTheJournalBesideTheUninstaller) {
    EXPECT_EQ(LogFileNameFor("C:\\Program Files\\Orvand\\install.exe"), "C:\\Program Files\\Orvand\\install-setup.log");
    EXPECT_EQ(LogFileNameFor("C:\\Program Files\\Orvand\\INSTALL.EXE"), "C:\\Program Files\\Orvand\\INSTALL-setup.log");
    EXPECT_EQ(LogFileNameFor("D:\\Setup\\orvand.exe"), "D:\\Setup\\orvand.log");
    EXPECT_EQ(LogFileNameFor("D:\\my.dir\\setup"), "D:\\my.dir\\setup.log");
    EXPECT_EQ(LogFileNameFor("C:prog"), "C:prog.log");
}
