#include <gtest/gtest.h>

#include "app/SilentRun.h"
#include "app/Utils.h"
#include "wintest_util.h"

using namespace wintest;

// Wine runs no program as LocalSystem: the account comes through the seam, as Windows would give it.
TEST(SilentRun, ASilentInstallRunAsLocalSystemIsForAllUsers) {
    EXPECT_FALSE(RunsAsLocalSystem());
    static std::vector<uint8_t> given;
    struct Restore {
        ~Restore() { ProcessAccountSid = ProcessAccountSidFromToken; }
    } restore;
    ProcessAccountSid = [](std::vector<uint8_t>& Sid) { return !(Sid = given).empty(); };
    for (auto [type, system] : {std::pair{WinLocalSystemSid, true}, {WinLocalServiceSid, false}}) {
        DWORD size = SECURITY_MAX_SID_SIZE;
        given.assign(size, 0);
        ASSERT_TRUE(CreateWellKnownSid(type, nullptr, given.data(), &size));
        given.resize(size);
        EXPECT_EQ(InstallsForAllUsers(ParseCommandLine({"-silent"}), RunsAsLocalSystem()), system) << type;
    }
    given = {1, 200, 0, 0, 0, 0, 0, 5};  // more sub-authorities than bytes
    EXPECT_FALSE(RunsAsLocalSystem());
}

TEST(Utils, ProgramFolderIsTheExecutablesFolder) {
    EXPECT_EQ(ProgramFolder, TestProgramFolder());
    EXPECT_EQ(GetProgramFolder(), TestProgramFolder());
    EXPECT_EQ(NormalizeFolderPath("  C:\\Apps  "), "C:\\Apps\\");
    EXPECT_EQ(NormalizeFolderPath(""), "\\");
    EXPECT_EQ(FindRunningInstance(), nullptr);
}

TEST(Utils, TheCodePageRulesFollowTheProcessAndLegacyJournalLinesAreRecoded) {
    // This test program keeps the system's code page, as on a system that ignores
    // the manifest's; the product itself speaks UTF-8.
    const UINT legacy = LegacyCodePage();
    EXPECT_NE(legacy, static_cast<UINT>(CP_UTF8));
    EXPECT_EQ(AnsiCharSet().IsUtf8(), GetACP() == CP_UTF8);
    if (GetACP() != CP_UTF8) {
        EXPECT_EQ(GetACP(), legacy);
        EXPECT_EQ(JournalLineToAnsi("CreateFile C:\\Zo\xEB.acs"), "CreateFile C:\\Zo\xEB.acs");
    }
    // A line of an older build in code page 1252, read by a UTF-8 process.
    EXPECT_EQ(Recode("CreateFile C:\\Zo\xEB\\\x80.acs", 1252, CP_UTF8), "CreateFile C:\\Zo\xC3\xAB\\\xE2\x82\xAC.acs");
    EXPECT_EQ(Recode("\xC5\x81ucja", CP_UTF8, CP_UTF8), "\xC5\x81ucja");
    EXPECT_EQ(Recode("", 1252, CP_UTF8), "");
}
