#include "support/Logging.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Exceptions.h"
#include "wintest_util.h"

using namespace wintest;
using namespace ::testing;

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
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    {
        TLog log(file);
        log.SetEnabled(true);
        log.Debug("x");
        log.Error("100%d done");
    }
    GetLocalTime(&after);
    std::vector<std::string> lines = SplitCrLf(ReadFileText(file));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(IsStampedLine(lines[0], before, after, "[LOG_STARTED] " + std::string(40, '='))) << lines[0];
    EXPECT_TRUE(IsStampedLine(lines[1], before, after, "[DEBUG] x")) << lines[1];
    EXPECT_TRUE(IsStampedLine(lines[2], before, after, "[ERROR] 100%d done")) << lines[2];
}

TEST(Log, AppendsToAnExistingFileWithoutAnExtraLineEnd) {
    TempFolder temp;
    std::string file = temp.Path() + "x.log";
    WriteFileText(file, "old bytes");
    SYSTEMTIME before, after;
    GetLocalTime(&before);
    {
        TLog log(file);
        log.SetEnabled(true);
        log.Marker("a");
        log.Debug("b");
    }
    GetLocalTime(&after);
    std::string text = ReadFileText(file);
    ASSERT_THAT(text, StartsWith("old bytes["));
    std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 2u);
    // The marker has no line end: it shares its line with the next entry.
    EXPECT_EQ(lines[1].substr(0, 11), "--- 0 --- a");
    EXPECT_TRUE(IsStampedLine(lines[1].substr(11), before, after, "[DEBUG] b")) << lines[1];
}

TEST(Log, TimestampFollowsTheUsersTimeSeparator) {
    char old[8] = "";
    ASSERT_GT(GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, old, sizeof(old)), 0);
    for (const char* separator : {".", ":"}) {
        ASSERT_TRUE(SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator));
        SYSTEMTIME before, after;
        GetLocalTime(&before);
        std::string t = TLog::Timestamp();
        GetLocalTime(&after);
        EXPECT_TRUE(IsStampedLine("[" + t + "]", before, after, "")) << t;
        EXPECT_EQ(t.substr(13, 1) + t.substr(16, 1), std::string(separator) + separator) << t;
    }
    SetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, old);
}

TEST(Log, KeepsClearOfTheJournalBesideTheUninstaller) {
    for (const auto& [program, log] : {std::pair{"C:\\Orvand\\install.exe", "C:\\Orvand\\install-setup.log"},
                                       {"C:\\Orvand\\INSTALL.EXE", "C:\\Orvand\\INSTALL-setup.log"},
                                       {"D:\\Setup\\orvand.exe", "D:\\Setup\\orvand.log"},
                                       {"D:\\my.dir\\setup", "D:\\my.dir\\setup.log"},
                                       {"C:prog", "C:prog.log"}})
        EXPECT_EQ(LogFileNameFor(program), log);
}

// An elevated setup writes its log wherever -log names: a link there is refused, not
// followed. (Wine shows only links to folders; a link to a file only Windows shows.)
TEST(Log, ALinkAtItsNameIsRefusedNotFollowed) {
    TempFolder temp, elsewhere;
    MakeUnixLink(temp.Path() + "x.log", elsewhere.Path());
    TLog log(temp.Path() + "x.log");
    log.SetEnabled(true);
    EXPECT_THAT([&] { log.Debug("x"); },
                ThrowsMessage<EStreamError>(HasSubstr("x.log\" is a link; setup does not write its log through it.")));
}
