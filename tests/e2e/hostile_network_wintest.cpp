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
#include "snapshot.h"
#include "wintest_http.h"
#include "wintest_util.h"

using namespace wintest;
using namespace snapshot;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string Brains =
    "The brains of your previous Orvand have been found in the target folder.\\r\\n"
    "Would you like to replace them with new brains?";

bool StartsWith(const std::string& Text, const std::string& Prefix) {
    return Text.size() >= Prefix.size() && _strnicmp(Text.c_str(), Prefix.c_str(), Prefix.size()) == 0;
}

bool EndsWith(const std::string& Text, const std::string& Suffix) {
    return Text.size() >= Suffix.size() && _stricmp(Text.c_str() + Text.size() - Suffix.size(), Suffix.c_str()) == 0;
}

class HostileNetwork : public ::testing::Test {
protected:
    // One snapshot for all: each test must bring the prefix back to it.
    static void SetUpTestSuite() {
        // Trusted before the snapshot: the store is the machine's, not setup's.
        Authority = std::make_unique<TTrustedTestAuthority>();
        Container = std::make_unique<KeyGuard>(HKEY_CURRENT_USER, MenuContainer);
        MakeMenuContainer();
        WarmUpWinInet();
        Before = std::make_unique<TSnapshot>(TSnapshot::Take(PrefixScope()));
    }
    static void TearDownTestSuite() {
        Before.reset();
        Container.reset();
        Authority.reset();
    }
    void SetUp() override {
        ASSERT_FALSE(EnvPath("ORVAND_INSTALL_HOST").empty());
        ASSERT_GT(Agent.size(), 20000u);
        ASSERT_NE(Agent, Impostor);
        ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, MenuContainer));
    }

    // Packs the sample with Packaged as its setup.xml and runs the host to its
    // end; returns its report without the download count. The journal must name
    // exactly what changed, and outside the target only the shortcuts may be new.
    // The Agent runtime that the pinned installer registers is taken away first.
    std::vector<std::string> Install(const std::string& Packaged) {
        PackSampleWithSetup(Packaged, Package);
        DeleteFileA(RunLog.c_str());
        RunHost(Package, Target, "none", 0, "--net \"" + Report + "\"");
        SetAgentRuntime(false);
        std::vector<std::string> report;
        for (const std::string& line : SplitCrLf(ReadFileText(Report)))
            if (!StartsWith(line, "downloads ")) report.push_back(line);
        std::vector<TChange> changes = Compare(*Before, TSnapshot::Take(Scope));
        ExpectJournalNamesExactly(changes, Target);
        for (const TChange& change : changes) {
            if (StartsWith(change.Item, "C:\\") && !StartsWith(change.Item, Target)) {
                EXPECT_TRUE(EndsWith(change.Item, ".lnk") || EndsWith(change.Item, "\\Orvand\\")) << change.Item;
            }
        }
        return report;
    }
    void ExpectRemoved() { ExpectRemoveTakesItBack(*Before, Scope, Target, Left); }

    static std::vector<std::string> Paths(const THttpServer& Server) {
        std::vector<std::string> paths;
        for (const THttpServer::TRequest& r : Server.Requests()) paths.push_back(r.Path);
        return paths;
    }

    // Another loopback address stands for another host.
    THttpServer Near, Far{"127.0.0.2"};
    TempFolder Temp;
    const std::string Package = Temp.Path() + "setup.exe", Report = Temp.Path() + "report.txt",
                      RunLog = Temp.Path() + "run.log";
    EnvGuard LogRuns{"ORVAND_FIXTURE_RUNLOG", RunLog.c_str()};
    EnvGuard Timeout{"ORVAND_HOST_TIMEOUT", "1500"};
    const std::string Agent = ReadFileText(FixturePath("MSagent.exe"));
    // Another installer under the genuine one's name.
    const std::string Impostor = ReadFileText(FixturePath("spchapi.exe"));
    const std::string Character = "Pip, as the genuine distributor serves him";
    const std::string Target = TargetFolder("Orvand Hostile");
    Leftovers Left{Target};
    const TScope Scope = PrefixScope();
    static inline std::unique_ptr<TTrustedTestAuthority> Authority;
    static inline std::unique_ptr<KeyGuard> Container;
    static inline std::unique_ptr<TSnapshot> Before;
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
        {{"Vela", "Vela.acs"}}, {{"MSagent.exe", Md5Text(Agent)}});
    EXPECT_EQ(Install(packaged), (std::vector<std::string>{"offered Pip.acs", "end done"}));
    EXPECT_EQ(ReadFileText(RunLog), "MSagent.exe \r\n");
    EXPECT_EQ(ReadFileText(Target + "temp\\setup.xml"), fresh);
    EXPECT_EQ(ReadFileText(Target + "data\\Pip.acs"), Character);
    EXPECT_EQ(Paths(Far), (std::vector<std::string>{"/ok/fresh/setup.xml", "/ok/m/MSagent.exe"}));
    for (const std::string& path : Paths(Near)) EXPECT_THAT(path, Not(HasSubstr("x.acs")));
    ExpectRemoved();
}

TEST_F(HostileNetwork, OverHttpsEverythingArrivesPastADistributorWhoseCertificateDoesNotVerify) {
    // Both fronts pass requests on to Near; only the one with the trusted
    // certificate gets any through.
    TTlsFront rogue(Near, true), secure(Near);
    // The second sends the installer on to its plain HTTP twin: refused, the third serves it.
    const std::string fresh = SetupXmlText({rogue.Url("ok", "p/"), secure.Url("moved", "h/"), secure.Url("ok", "p/")},
                                           {{"Pip", "Pip.acs"}}, {{"MSagent.exe", Md5Text(Agent)}});
    Near.Put("h/MSagent.exe", Near.Url("ok", "p/MSagent.exe"));
    Near.Put("p/setup.xml", fresh);
    Near.Put("p/MSagent.exe", Agent);
    Near.Put("p/Pip.acs", Character);
    // The packaged distributors: the rogue one, then one that moved to HTTPS.
    Near.Put("r/setup.xml", secure.Url("ok", "p/setup.xml"));
    const std::string packaged = SetupXmlText({rogue.Url("ok", "p/"), Near.Url("moved", "r/")}, {{"Vela", "Vela.acs"}},
                                              {{"MSagent.exe", Md5Text(Agent)}});
    EXPECT_EQ(Install(packaged), (std::vector<std::string>{"offered Pip.acs", "end done"}));
    EXPECT_EQ(ReadFileText(RunLog), "MSagent.exe \r\n");
    EXPECT_EQ(ReadFileText(Target + "temp\\setup.xml"), fresh);
    EXPECT_EQ(ReadFileText(Target + "data\\Pip.acs"), Character);
    // The move to the twin is seen only after it was followed (the second "/ok/p/MSagent.exe").
    EXPECT_EQ(Paths(Near), (std::vector<std::string>{"/moved/r/setup.xml", "/ok/p/setup.xml", "/moved/h/MSagent.exe",
                                                     "/ok/p/MSagent.exe", "/ok/p/MSagent.exe", "/moved/h/Pip.acs",
                                                     "/ok/p/Pip.acs"}));
    ExpectRemoved();
}

TEST_F(HostileNetwork, AManInTheMiddleServingATamperedConfigurationAndInstallerOrASwapBeforeTheRunGetsACrcError) {
    // His setup.xml lists his distributors and his installer's digest.
    Near.Put("mitm/setup.xml", SetupXmlText({Near.Url("moved", "jump/"), Near.Url("ok", "evil/")}, {{"Pip", "Pip.acs"}},
                                            {{"MSagent.exe", Md5Text(Impostor)}}));
    Near.Put("jump/MSagent.exe", Far.Url("ok", "evil/MSagent.exe"));
    Far.Put("evil/MSagent.exe", Impostor);
    Near.Put("evil/MSagent.exe", Impostor);

    EXPECT_EQ(Install(SetupXmlText({Near.Url("ok", "mitm/")}, {}, {{"MSagent.exe", Md5Text(Agent)}})),
              (std::vector<std::string>{"error CRC Error.\\r\\nFile: MSagent.exe", "end halted"}));
    EXPECT_FALSE(FileExists(RunLog)) << ReadFileText(RunLog);
    EXPECT_EQ(Paths(Far), std::vector<std::string>{"/ok/evil/MSagent.exe"});
    ExpectRemoved();

    // The genuine installer, replaced after its check (at the first file extracted after it) and
    // before its run: checked again as it is held for the run, it never runs.
    Near.Put("p/MSagent.exe", Agent);
    EnvGuard swap("ORVAND_HOST_SWAP", ("3|" + FixturePath("spchapi.exe") + "|" + Target + "temp\\MSagent.exe").c_str());
    EXPECT_EQ(Install(SetupXmlText({Near.Url("ok", "p/")}, {}, {{"MSagent.exe", Md5Text(Agent)}})),
              (std::vector<std::string>{"error CRC Error.\\r\\nFile: MSagent.exe", "end halted"}));
    EXPECT_FALSE(FileExists(RunLog)) << ReadFileText(RunLog);
    ExpectRemoved();
}

TEST_F(HostileNetwork, FreshCopiesWithADtdAnEntityBombOrExternalEntitiesAreRefused) {
    const std::string evilDtd = Far.Url("ok", "evil.dtd");
    const std::string body = "<setup><fileDistributors><url>" + Far.Url("ok", "evil/") +
                             "</url></fileDistributors><agentCharacters><character name=\"E\" fileName=\"&e;\"/>"
                             "</agentCharacters></setup>";
    Far.Put("evil.dtd", "<!ENTITY e \"Evil.acs\">");
    Near.Put("dtd/setup.xml", "<?xml version=\"1.0\"?><!DOCTYPE setup SYSTEM \"" + evilDtd + "\">" + body);
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i) {
        bomb += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) bomb += "&l" + std::to_string(i - 1) + ";";
        bomb += "\">";
    }
    Near.Put("bomb/setup.xml", bomb + "<!ENTITY e \"&l9;\">]>" + body);
    Near.Put("ext/setup.xml",
             "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY e SYSTEM \"file:///C:/windows/win.ini\">"
             "<!ENTITY % d SYSTEM \"" +
                 evilDtd + "\"> %d;]>" + body);
    Near.Put("p/MSagent.exe", Agent);
    Near.Put("p/Pip.acs", Character);

    const std::string packaged =
        SetupXmlText({Near.Url("ok", "dtd/"), Near.Url("ok", "bomb/"), Near.Url("ok", "ext/"), Near.Url("ok", "p/")},
                     {{"Vela", "Vela.acs"}, {"Pip", "Pip.acs"}}, {{"MSagent.exe", Md5Text(Agent)}});
    EXPECT_EQ(Install(packaged), (std::vector<std::string>{"offered Pip.acs", "end done"}));
    // The packaged copy stays in force; the refused ones are gone.
    EXPECT_EQ(ReadFileText(Target + "temp\\setup.xml"), packaged);
    EXPECT_FALSE(FileExists(Target + "temp\\setup.xml.new"));
    EXPECT_EQ(ReadFileText(RunLog), "MSagent.exe \r\n");
    // Neither their DTD nor their distributors were ever asked.
    EXPECT_TRUE(Paths(Far).empty());
    // Again into the same folder: Pip is in data\ now and is not offered again.
    EXPECT_EQ(Install(packaged), (std::vector<std::string>{"question " + Brains, "end done"}));
    ExpectRemoved();
}

TEST_F(HostileNetwork, WhenNoDistributorDeliversTheLastOnesMessageEndsTheRunAndNoPartFileStays) {
    Near.Put("p/MSagent.exe", Agent);
    // A redirect to itself.
    Near.Put("loop/MSagent.exe", Near.Url("moved", "loop/MSagent.exe"));
    const std::string last = Near.Url("fail", "p/");

    EXPECT_EQ(Install(SetupXmlText({Near.Url("short", "p/"), Near.Url("moved", "loop/"), last}, {},
                                   {{"MSagent.exe", Md5Text(Agent)}})),
              (std::vector<std::string>{"error Could not download file " + last + "MSagent.exe", "end halted"}));
    EXPECT_FALSE(FileExists(Target + "temp\\MSagent.exe"));
    EXPECT_FALSE(FileExists(RunLog));
    ExpectRemoved();
}
