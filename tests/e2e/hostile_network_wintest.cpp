// Whole installation runs of the wizard (refresh, installers fetched and run,
// characters fetched) against hostile distributors: each ends in its
// documented message or skips what it refuses, runs no installer but the
// pinned one, writes nothing outside the target but what the journal names,
// and "install.exe -remove" brings the prefix back. HTTPS distributors are
// served by nginx with a test authority's certificate.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "install_fixture.h"
#include "wintest_http.h"

using namespace wintest;
using namespace ::testing;

namespace {

class HostileNetwork : public ::testing::Test {
protected:
    // One snapshot for all: each test must bring the prefix back to it.
    static void SetUpTestSuite() {
        // Trusted before the snapshot: the store is the machine's, not setup's.
        Authority = std::make_unique<TTrustedTestAuthority>();
        WarmUpWinInet();
        Prefix = std::make_unique<TPrefixWatch>(TargetFolder("Orvand Hostile"));
    }
    static void TearDownTestSuite() {
        Prefix.reset();
        Authority.reset();
    }
    void SetUp() override {
        ASSERT_FALSE(EnvPath("ORVAND_INSTALL_HOST").empty());
        ASSERT_GT(Agent.size(), 20000u);
        ASSERT_NE(Agent, Impostor);
        Prefix->RemoveLeftovers();
    }

    // Packs the sample with Packaged as its setup.xml and runs the host to its
    // end; returns its report without the download count. The journal must name
    // exactly what changed, and outside the target only the shortcuts may be new.
    // The Agent runtime that the pinned installer registers is taken away first.
    std::vector<std::string> Install(const std::string& Packaged) {
        PackSample(Package, Packaged);
        DeleteFileA(Scene.RunLog.c_str());
        RunHost(Package, Target, "none", 0, "--net \"" + Report + "\"");
        TComponents::Set("MSagent.exe", false);
        std::vector<std::string> report = SplitCrLf(ReadFileText(Report));
        std::erase_if(report, [](const std::string& line) { return line.starts_with("downloads "); });
        std::vector<snapshot::TChange> changes = Prefix->Changes();
        ExpectJournalNamesExactly(changes, Target);
        for (const snapshot::TChange& change : changes)
            EXPECT_THAT(change.Item,
                        AnyOf(Not(StartsWith("C:\\")), StartsWith(Target), EndsWith(".lnk"), EndsWith("\\Orvand\\")));
        return report;
    }

    // Another loopback address stands for another host.
    THttpServer Near, Far{"127.0.0.2"};
    const std::string Target = Prefix->Target();
    TScenario Scene{Target};
    const std::string Package = Scene.Temp.Path() + "setup.exe", Report = Scene.Temp.Path() + "report.txt";
    EnvGuard Timeout{"ORVAND_HOST_TIMEOUT", "1500"};
    const std::string Agent = ReadFileText(FixturePath("MSagent.exe"));
    // Another installer under the genuine one's name.
    const std::string Impostor = ReadFileText(FixturePath("spchapi.exe"));
    const std::string Character = "Pip, as the genuine distributor serves him";
    static inline std::unique_ptr<TTrustedTestAuthority> Authority;
    static inline std::unique_ptr<TPrefixWatch> Prefix;
};

}  // namespace

TEST_F(HostileNetwork, BrokenRepliesAndRedirectsEndInThePinnedInstallerAndOnlyBareCharacters) {
    // Fresh copy, reached through a redirect to another host: new distributors
    // and characters whose names climb out of data\ or name a drive.
    const std::string fresh =
        SetupXmlText({Near.Url("fail", "p/"), Near.Url("short", "p/"), Near.Url("moved", "r/"), Near.Url("ok", "p/")},
                     {{"Up", "..\\x.acs"},
                      {"Drive", "C:\\x.acs"},
                      {"Root", "\\x.acs"},
                      {"Deep", "..\\..\\x.acs"},
                      {"Vela", "Vela.acs"},
                      {"Pip", "Pip.acs"}},
                     {{"MSagent.exe", Md5Text(Agent)}});
    Far.Put("fresh/setup.xml", fresh);
    Near.Put("r/setup.xml", Far.Url("ok", "fresh/setup.xml"));
    Near.Put("p/setup.xml", fresh);
    // The installer: 500, cut short, then a redirect to the genuine one on the other host.
    Near.Put("p/MSagent.exe", Agent);
    Near.Put("r/MSagent.exe", Far.Url("ok", "m/MSagent.exe"));
    Far.Put("m/MSagent.exe", Agent);
    // The character: 500, cut short, a redirect to a local file, then the real one.
    Near.Put("p/Pip.acs", Character);
    Near.Put("r/Pip.acs", "file:///C:/windows/win.ini");
    Near.Put("x.acs", "climbed out");

    const std::string packaged = SetupXmlText(
        {Near.Url("fail", "p/"), Near.Url("short", "p/"), Near.Url("stall", "p/"), Near.Url("moved", "r/")},
        {{"Vela", "Vela.acs"}}, InstallerDigests());
    EXPECT_EQ(Install(packaged), (std::vector<std::string>{"offered Pip.acs", "end done"}));
    EXPECT_EQ(Scene.Runs(), "MSagent.exe \r\n");
    EXPECT_EQ(ReadFileText(Target + "temp\\setup.xml"), fresh);
    EXPECT_EQ(ReadFileText(Target + "data\\Pip.acs"), Character);
    EXPECT_EQ(Far.Paths(), (std::vector<std::string>{"/ok/fresh/setup.xml", "/ok/m/MSagent.exe"}));
    for (const std::string& path : Near.Paths()) EXPECT_THAT(path, Not(HasSubstr("x.acs")));
    Prefix->ExpectRemoveTakesItBack();
}

TEST_F(HostileNetwork, AManInTheMiddleServingATamperedConfigurationAndInstallerOrASwapBeforeTheRunGetsACrcError) {
    // His setup.xml lists his distributors and his installer's digest.
    Near.Put("mitm/setup.xml", SetupXmlText({Near.Url("moved", "jump/"), Near.Url("ok", "evil/")}, {{"Pip", "Pip.acs"}},
                                            {{"MSagent.exe", Md5Text(Impostor)}}));
    Near.Put("jump/MSagent.exe", Far.Url("ok", "evil/MSagent.exe"));
    Far.Put("evil/MSagent.exe", Impostor);
    Near.Put("evil/MSagent.exe", Impostor);

    EXPECT_EQ(Install(SetupXmlText({Near.Url("ok", "mitm/")}, {}, InstallerDigests())),
              (std::vector<std::string>{"error CRC Error.\\r\\nFile: MSagent.exe", "end halted"}));
    EXPECT_FALSE(FileExists(Scene.RunLog)) << Scene.Runs();
    EXPECT_EQ(Far.Paths(), std::vector<std::string>{"/ok/evil/MSagent.exe"});
    Prefix->ExpectRemoveTakesItBack();

    // The genuine installer, replaced after its check (at the first file extracted after it) and
    // before its run: checked again as it is held for the run, it never runs.
    Near.Put("p/MSagent.exe", Agent);
    EnvGuard swap("ORVAND_HOST_SWAP", ("3|" + FixturePath("spchapi.exe") + "|" + Target + "temp\\MSagent.exe").c_str());
    EXPECT_EQ(Install(SetupXmlText({Near.Url("ok", "p/")}, {}, InstallerDigests())),
              (std::vector<std::string>{"error CRC Error.\\r\\nFile: MSagent.exe", "end halted"}));
    EXPECT_FALSE(FileExists(Scene.RunLog)) << Scene.Runs();
    Prefix->ExpectRemoveTakesItBack();
}

// Before anything is extracted, and whatever the last one is: one that answers, or nobody.
TEST_F(HostileNetwork, WhenNoDistributorDeliversTheLastOnesMessageEndsTheRunAndNoPartFileStays) {
    Near.Put("p/MSagent.exe", Agent);
    // A redirect to itself.
    Near.Put("loop/MSagent.exe", Near.Url("moved", "loop/MSagent.exe"));
    const std::string last = Near.Url("fail", "p/");
    const TPairs digests = InstallerDigests();
    for (const auto& [distributors, message] :
         {std::pair{std::vector<std::string>{Near.Url("short", "p/"), Near.Url("moved", "loop/"), last},
                    "Could not download file " + last + "MSagent.exe"},
          std::pair{std::vector<std::string>{Near.Url("ok", "none/"), Near.ClosedUrl()},
                    std::string("Could not connect to host")}}) {
        SCOPED_TRACE(message);
        EXPECT_EQ(Install(SetupXmlText(distributors, {}, digests)),
                  (std::vector<std::string>{"error " + message, "end halted"}));
        EXPECT_FALSE(FileExists(Target + "temp\\MSagent.exe"));
        EXPECT_FALSE(FileExists(Target + "install.exe")) << "extracted";
        EXPECT_FALSE(FileExists(Scene.RunLog));
        Prefix->ExpectRemoveTakesItBack();
    }
}
