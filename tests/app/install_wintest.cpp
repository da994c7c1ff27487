#include <gtest/gtest.h>

#include "app/SilentRun.h"
#include "app/Utils.h"
#include "wintest_util.h"

using namespace wintest;

namespace {

std::string InstallExe() { return InstallExePath(); }
// The wizard checks its package: it starts only from a packed program.
std::string PackedExe() { return EnvPath("ORVAND_SAMPLE_EXE"); }

// Starts the packed install.exe; true when it opened the wizard window (then closed again).
bool OpensWizard(const std::string& Arguments, std::string* Caption = nullptr, std::string* Title = nullptr) {
    PROCESS_INFORMATION p = StartProgram(PackedExe(), Arguments);
    HWND wizard = WaitProcessWindow(p.dwProcessId, "TSetupForm", 8000);
    if (wizard) {
        if (Caption) *Caption = WindowText(wizard);
        if (Title) {
            HWND app = FindProcessWindow(p.dwProcessId, "TApplication", false);
            *Title = app ? WindowText(app) : "(none)";
        }
        PostMessageA(wizard, WM_CLOSE, 0, 0);
        // Closing asks first.
        HWND box = WaitMessageBox(p.dwProcessId, 10000);
        EXPECT_NE(box, nullptr);
        if (box) PressMessageBoxButton(box, IDYES);
    }
    DWORD code = WaitExit(p, 10000);
    if (code == STILL_ACTIVE) TerminateProcess(p.hProcess, 1);
    CloseHandle(p.hProcess);
    EXPECT_EQ(code, 0u) << "exit code for \"" << Arguments << "\"";
    return wizard != nullptr;
}

// Starts install.exe for uninstalling; true when it asked for confirmation and
// nothing else, and ended with 0 once the answer was No.
bool AsksToUninstall(const std::string& Arguments) {
    PROCESS_INFORMATION p = StartProgram(InstallExe(), Arguments);
    HWND box = WaitMessageBox(p.dwProcessId, 10000);
    bool asked = box && MessageBoxText(box) == "Are you sure you want to remove Orvand from your computer";
    bool other = FindProcessWindow(p.dwProcessId, "TSetupForm", true) ||
                 FindProcessWindow(p.dwProcessId, "TFormUninstall", true);
    if (box) PressMessageBoxButton(box, IDNO);
    DWORD code = WaitExit(p, 10000);
    if (code == STILL_ACTIVE) TerminateProcess(p.hProcess, 1);
    CloseHandle(p.hProcess);
    return asked && !other && code == 0;
}

}  // namespace

TEST(ProgramEntry, NoArgumentOpensTheWizardWithVersionInCaption) {
    ASSERT_FALSE(PackedExe().empty());
    std::string caption, title;
    ASSERT_TRUE(OpensWizard("", &caption, &title));
    EXPECT_EQ(caption, "Orvand Setup  - Version 2.2.93");
    EXPECT_EQ(title, "Orvand Setup ");
}

TEST(ProgramEntry, OnlyTheExactFirstArgumentUninstalls) {
    EXPECT_TRUE(AsksToUninstall("-remove"));
    EXPECT_TRUE(AsksToUninstall("-uninstall"));
    EXPECT_TRUE(AsksToUninstall("-remove extra"));
    // Only "-silent" exactly, and right after it, makes the removal silent.
    EXPECT_TRUE(AsksToUninstall("-remove -Silent"));
    EXPECT_TRUE(AsksToUninstall("-uninstall extra -silent"));
    EXPECT_TRUE(OpensWizard("-Remove"));
    EXPECT_TRUE(OpensWizard("-REMOVE"));
    EXPECT_TRUE(OpensWizard("extra -remove"));
    EXPECT_TRUE(OpensWizard("extra -silent"));
    EXPECT_TRUE(OpensWizard("-SILENT"));
    EXPECT_TRUE(OpensWizard("\"-remove \""));
}

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
