// Setup killed (TerminateProcess) after every journal line of a whole
// installation, inside the extraction of large files and inside downloads, and
// between a written file's journal line and the clearing of its delete mark: the
// journal on disk names exactly the changes made (the last line there may name a
// file the mark took away), and "install.exe -remove" takes them back.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "install_fixture.h"
#include "wintest_http.h"

using namespace wintest;

TEST(InterruptedInstallation, AfterEveryKillTheJournalNamesWhatWasDoneAndRemoveTakesItBack) {
    ASSERT_FALSE(EnvPath("ORVAND_INSTALL_HOST").empty());
    PackageCopy package;
    // No installer to fetch; the refresh only finds the sample's distributors closed.
    TComponents agent(true, {"MSagent.exe"});
    WarmUpWinInet();
    TPrefixWatch prefix(TargetFolder("Orvand Killed"));
    const std::string& target = prefix.Target();

    // A whole run counts the points; its removal is the last round trip.
    DWORD counts = RunHost(package.Path(), target, "none", 0);
    ASSERT_NE(counts, Killed);
    ASSERT_NE(counts, 0xFFFFFFFFu) << "the installation run failed";
    const int lines = static_cast<int>(counts & 0xFFFF), blocks = static_cast<int>(counts >> 16);
    ASSERT_GE(lines, 20);
    ASSERT_GE(blocks, 8);

    std::vector<std::pair<const char*, int>> points;
    for (int k = 1; k <= lines; ++k) points.push_back({"line", k});
    for (int k : {1, 2, blocks / 4, blocks / 2, 3 * blocks / 4, blocks - 1, blocks}) points.push_back({"block", k});
    // The refreshed setup.xml, install.exe and bridge.ocx, each journalled and still marked for deletion.
    for (int k : {1, 2, 4}) points.push_back({"keep", k});
    points.push_back({"none", 0});

    for (const auto& [kind, k] : points) {
        SCOPED_TRACE(std::string("killed at ") + kind + " " + std::to_string(k));
        const DWORD end = std::string(kind) == "none" ? counts : Killed;
        ASSERT_EQ(RunHost(package.Path(), target, kind, k), end) << "the point was not reached, or the run differs";
        ExpectJournalNamesExactly(prefix.Changes(), target, kind);
        prefix.ExpectRemoveTakesItBack();
        if (HasFatalFailure()) return;
    }
    const int tried = static_cast<int>(points.size()) - 1;
    std::printf("[ figures  ] kill points tried: %d (%d journal lines, %d of %d extraction blocks, 3 keeps)\n", tried,
                lines, tried - lines - 3, blocks);
}

TEST(InterruptedInstallation, KilledInsideADownloadNoPartFileStaysAndRemoveTakesItBack) {
    ASSERT_FALSE(EnvPath("ORVAND_INSTALL_HOST").empty());
    THttpServer server;
    TempFolder temp;
    const std::string agent = ReadFileText(FixturePath("MSagent.exe"));
    ASSERT_GT(agent.size(), 20000u);
    const std::string character(5000, 'c');
    // Three blocks: a kill can land inside the refresh's download, and after its last block.
    const std::string fresh = SetupXmlText({server.Url("ok", "d/")}, {{"Vela", "Vela.acs"}, {"Pip", "Pip.acs"}},
                                           {{"MSagent.exe", Md5Text(agent)}}, 4500);
    server.Put("d/setup.xml", fresh);
    server.Put("d/MSagent.exe", agent);
    server.Put("d/Pip.acs", character);
    const std::string report = temp.Path() + "report.txt";
    const std::string package =
        PackSample(temp.Path() + "net.exe", SetupXmlText({server.Url("ok", "d/")}, {}, InstallerDigests()));
    WarmUpWinInet();
    TPrefixWatch prefix(TargetFolder("Orvand Killed Download"));
    const std::string& target = prefix.Target();

    // Whole runs are in HostileNetwork.*. Reads of 2,048 bytes: 3 blocks of the
    // refresh, then the installer's, then 3 of the character. Killed inside the
    // refresh and after its last block, inside the installer and after its last
    // block (whole, not yet journalled), inside the character.
    const int refresh = 3, installer = static_cast<int>((agent.size() + 2047) / 2048);
    const int downloads = refresh + installer + 3;
    std::vector<std::pair<const char*, int>> points;
    for (int k : {1, refresh, refresh + installer / 2, refresh + installer, downloads - 1})
        points.push_back({"download", k});
    // The installer and the character, each journalled and still marked for deletion.
    for (int k : {2, 11}) points.push_back({"keep", k});
    for (const auto& [kind, k] : points) {
        SCOPED_TRACE(std::string("killed at ") + kind + " " + std::to_string(k));
        ASSERT_EQ(RunHost(package, target, kind, k, "--net \"" + report + "\""), Killed);
        // Killed inside the character, the Agent runtime's installer has run.
        TComponents::Set("MSagent.exe", false);
        ExpectJournalNamesExactly(prefix.Changes(), target, kind);
        prefix.ExpectRemoveTakesItBack();
        if (HasFatalFailure()) return;
    }
    std::printf("[ figures  ] download kill points tried: %zu (of %d downloaded blocks, 2 keeps)\n", points.size(),
                downloads);
}
