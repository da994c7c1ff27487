#include "support/VersionInfo.h"

#include <gtest/gtest.h>

#include "wintest_util.h"

using namespace wintest;

namespace {
std::string Module(const char* name) { return TestProgramFolder() + "verinfo_" + name + ".dll"; }
}  // namespace

TEST(VersionInfo, ReadsTheProgramsOwnResource) {
    std::string exe = InstallExePath();
    ASSERT_FALSE(exe.empty()) << "ORVAND_INSTALL_EXE not set";
    TVerInfo info(exe);
    EXPECT_EQ(info.GetProductVersion(), "2.2");
    EXPECT_EQ(info.GetProductRevision(), "93");
    EXPECT_EQ(info.GetVersionNumber(), 2020093);
    EXPECT_EQ(info.GetValue("ProductRevision"), "$Revision: 93$");
    EXPECT_EQ(info.GetFileDescription(), "Orvand");
    EXPECT_EQ(info.GetFileVersion(), "2.2");
    for (const std::string& text :
         {info.GetCompanyName(), info.GetLegalCopyright(), info.GetProductName(), info.GetProductHomepage()})
        EXPECT_FALSE(text.empty());
    EXPECT_EQ(info.GetValue("NoSuchValue"), "");
    TFixedFileInfo fixed = info.GetFixedFileInfo();
    EXPECT_EQ(fixed.Signature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.FileVersionMS, 0u);
    EXPECT_EQ(fixed.ProductVersionLS, 0u);
    EXPECT_EQ(fixed.FileOS, 4u);    // 32-bit Windows
    EXPECT_EQ(fixed.FileType, 1u);  // application
}

TEST(VersionInfo, VersionWithoutDotAndRevisionWithoutDollar) {
    TVerInfo info(Module("plain"));
    EXPECT_EQ(info.GetProductVersion(), "3");
    EXPECT_EQ(info.GetProductRevision(), "5");
    EXPECT_EQ(info.GetVersionNumber(), 30005);
    EXPECT_EQ(info.GetFixedFileInfo().FileVersionMS, 0x00010002u);
}

TEST(VersionInfo, MinorThatIsNoIntegerCountsZero) {
    TVerInfo info(Module("dotted"));
    EXPECT_EQ(info.GetProductVersion(), "2.10.1");
    EXPECT_EQ(info.GetProductRevision(), "7");
    EXPECT_EQ(info.GetVersionNumber(), 2000007);
}

TEST(VersionInfo, NoTranslationMeansNoStrings) {
    TVerInfo info(Module("notrans"));
    EXPECT_EQ(info.GetProductVersion(), "");
    EXPECT_EQ(info.GetCompanyName(), "");
    EXPECT_EQ(info.GetVersionNumber(), 0);
    EXPECT_EQ(info.GetFixedFileInfo().Signature, 0xFEEF04BDu);
}

TEST(VersionInfo, ModuleWithoutResourceOrFile) {
    // A block under another root key counts as none, though its fixed part looks valid.
    for (std::string file :
         {TestProgramFolder() + "verinfo_none.dll", std::string("C:\\no\\such\\file.dll"), Module("rootkey")}) {
        TVerInfo info(file);
        EXPECT_EQ(info.GetProductVersion(), "") << file;
        EXPECT_EQ(info.GetProductRevision(), "");
        EXPECT_EQ(info.GetVersionNumber(), 0);
        EXPECT_EQ(info.GetFixedFileInfo().Signature, 0u);
    }
}

TEST(VersionInfo, AppVersionInfoIsAFreshReaderOfTheRunningProgram) {
    auto a = GetAppVersionInfo();
    auto b = GetAppVersionInfo();
    EXPECT_NE(a.get(), b.get());
    // The test program carries the program's own version resource.
    EXPECT_EQ(a->GetProductVersion(), "2.2");
    EXPECT_EQ(a->GetProductRevision(), "93");
}
