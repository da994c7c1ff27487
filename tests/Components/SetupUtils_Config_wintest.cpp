#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "Components/SetupUtils.h"
#include "config/HTTPUnit.h"
#include "install_fixture.h"
#include "scripted_ui.h"
#include "tests/Components/PackageTestUtil.h"
#include "wintest_http.h"

using namespace wintest;
using namespace packtest;
using namespace ::testing;

namespace {

std::string Fixture(const char* Name) {
    std::string bytes = ReadFileText(FixturePath(Name));
    if (bytes.empty()) ADD_FAILURE() << Name << " not found; is ORVAND_FIXTURES_DIR set?";
    return bytes;
}

// A setup.xml with these distributors and digests, and a character named in ISO-8859-1.
std::string SetupText(const std::vector<std::string>& Urls, const TPairs& Digests) {
    return SetupXmlText(Urls, {{"Zo\xEB", "Zoe.acs"}}, Digests);
}

std::vector<std::string> Urls(IXMLSetupType& Setup) { return DistributorUrls(*Setup.FileDistributors()); }

class Config : public ::testing::Test {
protected:
    void TearDown() override { SetDownloadTimeout(30000); }

    // An engine on a package whose only file is this setup.xml, with its
    // target and temp folders made as the wizard makes them.
    void MakeInstaller(const std::string& PackagedSetup, std::vector<TFile> Shipped = {}) {
        Installer.reset();  // it holds the package against writers
        Packaged = PackagedSetup;
        Shipped.push_back({".\\temp\\", "setup.xml", Text(PackagedSetup), true});
        Bytes package = Build(BareExe(), Shipped);
        std::string file = Temp.Path() + "setup.exe";
        WriteFileText(file, std::string(package.begin(), package.end()));
        MakeTree(Target, {{"temp\\", ""}});
        Installer = std::make_unique<TInstaller>(file);
        Installer->SetTargetFolder(Target);
        Installer->SetUI(&UI);
    }
    // The engine as a run has it once the configuration is refreshed, its journal taken, no error shown.
    void Prepare(const std::string& PackagedSetup) {
        UI.Errors.clear();
        MakeInstaller(PackagedSetup);
        Installer->RefreshConfiguration();
        Installer->TakePendingJournal();
    }
    std::vector<std::string> Journal() const { return SplitCrLf(Installer->PendingJournal()); }
    // "fetched", or "halted" after the error box.
    std::string Fetch(const std::string& Name, const std::string& Dest) {
        try {
            Installer->FetchFile(Name, Dest, Host.Label(), Host.Bar());
        } catch (const THalted&) {
            return "halted";
        }
        return "fetched";
    }
    // The installation run's step: Dest fetched as Fetched, or else checked and held, then
    // started with Arguments; "ran", or "halted" after the error box.
    std::string Run(const std::string& Dest, const std::string& Arguments, const char* Fetched = nullptr) {
        try {
            if (Fetched)
                Installer->FetchFile(Fetched, Dest, Host.Label(), Host.Bar());
            else
                Installer->HoldInstaller(Dest);
            Installer->RunAndWait(Dest, "\"" + Dest + "\" " + Arguments);
        } catch (const THalted&) {
            return "halted";
        }
        return "ran";
    }
    std::string WorkingCopy() const { return Target + "temp\\setup.xml"; }

    ComScope Com;
    THttpServer Server;
    // The stand-ins log their starts into the folder they start in.
    TScenario Scene{"", "runs.log"};
    const TempFolder& Temp = Scene.Temp;
    const std::string Target = Scene.Target;
    TTestHost Host;
    TScriptedUI UI;
    std::string Packaged;
    std::unique_ptr<TInstaller> Installer;
};

}  // namespace

TEST_F(Config, RefreshTakesTheFirstFreshCopyThatParsesAndLaterFetchesUseIt) {
    std::string extra = "extra installer bytes";
    std::string fresh = SetupText({Server.Url("ok", "new/")}, {{"extra.bin", Md5Text(extra)}});
    Server.Put("bad/setup.xml", "<setup><fileDistributors>");
    Server.Put("good/setup.xml", fresh);
    Server.Put("later/setup.xml", SetupText({}, {}));
    Server.Put("new/extra.bin", extra);
    MakeInstaller(SetupText(
        {Server.ClosedUrl(), Server.Url("ok", "bad/"), Server.Url("ok", "good/"), Server.Url("ok", "later/")}, {}));
    // A copy left by an earlier run, already cached: the refresh replaces both.
    WriteFileText(WorkingCopy(), SetupText({"http://leftover/"}, {}));
    auto before = Installer->GetConfiguration();

    Installer->RefreshConfiguration();
    EXPECT_EQ(ReadFileText(WorkingCopy()), fresh);
    EXPECT_FALSE(FileExists(WorkingCopy() + ".new"));
    // The packaged copy was extracted and journalled; the fresh one took its place.
    EXPECT_EQ(Journal(), std::vector<std::string>{"CreateFile " + WorkingCopy()});
    EXPECT_EQ(Server.Paths(), (std::vector<std::string>{"/ok/bad/setup.xml", "/ok/good/setup.xml"}));
    for (const THttpServer::TRequest& r : Server.Requests()) EXPECT_EQ(r.Agent, "Orvand/2.2.93");
    EXPECT_TRUE(UI.Errors.empty());

    // Later calls read the fresh copy: its distributors and its digests.
    auto after = Installer->GetConfiguration();
    EXPECT_NE(after, before);
    EXPECT_EQ(Installer->GetConfiguration(), after);
    EXPECT_EQ(Urls(*after), std::vector<std::string>{Server.Url("ok", "new/")});
    std::string dest = Target + "temp\\extra.bin";
    EXPECT_EQ(Fetch("extra.bin", dest), "fetched");
    EXPECT_EQ(ReadFileText(dest), extra);
    EXPECT_EQ(Server.Paths().back(), "/ok/new/extra.bin");
}

TEST_F(Config, UnusableFreshCopiesLeaveThePackagedCopyInForce) {
    Server.Put("a/setup.xml", "<setup><fileDistributors><url>http://evil/</url></setup>");
    Server.Put("b/setup.xml",
               "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY e \"http://evil/\">]>"
               "<setup><fileDistributors><url>&e;</url></fileDistributors></setup>");
    Server.Put("c/setup.xml", "<config><fileDistributors><url>http://evil/</url></fileDistributors></config>");
    std::vector<std::string> urls = {Server.Url("ok", "a/"), Server.Url("ok", "b/"), Server.Url("short", "a/"),
                                     Server.Url("ok", "none/"), Server.Url("ok", "c/")};
    MakeInstaller(SetupText(urls, {}));

    Installer->RefreshConfiguration();
    EXPECT_EQ(ReadFileText(WorkingCopy()), Packaged);
    EXPECT_EQ(Urls(*Installer->GetConfiguration()), urls);
    // Every distributor was asked once, in document order.
    EXPECT_EQ(Server.Paths(), (std::vector<std::string>{"/ok/a/setup.xml", "/ok/b/setup.xml", "/short/a/setup.xml",
                                                        "/ok/none/setup.xml", "/ok/c/setup.xml"}));
    // No unusable copy stays beside it: no journal line would name it.
    EXPECT_FALSE(FileExists(WorkingCopy() + ".new"));
    EXPECT_EQ(Journal(), std::vector<std::string>{"CreateFile " + WorkingCopy()});
    EXPECT_TRUE(UI.Errors.empty());
}

TEST_F(Config, TheFirstGoodDistributorWinsAfterUnreachableAndSilentOnes) {
    SetDownloadTimeout(1500);
    std::string agent = Fixture("MSagent.exe");
    Server.Put("m/MSagent.exe", agent);
    Server.Put("later/MSagent.exe", agent);
    std::string good = Server.Url("ok", "m/");
    Prepare(SetupText({Server.ClosedUrl(), Server.Url("stall", "m/"), good, Server.Url("ok", "later/")},
                      {{"MSagent.exe", Md5Text(agent)}}));

    std::string dest = Installer->GetTempFolder() + "MSagent.exe";
    DWORD start = GetTickCount();
    EXPECT_EQ(Fetch("MSagent.exe", dest), "fetched");
    EXPECT_LT(GetTickCount() - start, 8000u);
    EXPECT_TRUE(UI.Errors.empty());
    EXPECT_EQ(ReadFileText(dest), agent);
    EXPECT_EQ(Journal(), std::vector<std::string>{"CreateFile " + dest});
    EXPECT_EQ(WindowText(Host.Label()), "Downloading: " + good + "MSagent.exe");
    EXPECT_EQ(UI.Pumps, 3);
    EXPECT_EQ(Server.Paths().back(), "/ok/m/MSagent.exe");
    EXPECT_EQ(Host.Positions.front(), 0);
    EXPECT_TRUE(IsWindowVisible(Host.Bar()));
}

// An HTTPS distributor serves the refresh and the installer; one whose certificate does not
// verify is passed over like any failing one, and so is one that sends the installer on to its
// plain HTTP twin (the move is seen only after it was followed: the first "/ok/p/MSagent.exe").
TEST_F(Config, HttpsDistributorsServePastOnesThatDoNotVerifyOrMoveBackToHttp) {
    const std::string agent = Fixture("MSagent.exe");
    TTlsFront rogue(Server, true);
    TTrustedTestAuthority trusted;
    TTlsFront secure(Server);
    const TPairs digests = {{"MSagent.exe", Md5Text(agent)}};
    const std::string fresh =
        SetupText({rogue.Url("ok", "p/"), secure.Url("moved", "h/"), secure.Url("ok", "p/")}, digests);
    Server.Put("p/setup.xml", fresh);
    Server.Put("p/MSagent.exe", agent);
    Server.Put("h/MSagent.exe", Server.Url("ok", "p/MSagent.exe"));
    Prepare(SetupText({rogue.Url("ok", "p/"), secure.Url("ok", "p/")}, digests));
    EXPECT_EQ(ReadFileText(WorkingCopy()), fresh);
    const std::string dest = Installer->GetTempFolder() + "MSagent.exe";
    EXPECT_EQ(Fetch("MSagent.exe", dest), "fetched");
    EXPECT_EQ(ReadFileText(dest), agent);
    EXPECT_EQ(Server.Paths(), (std::vector<std::string>{"/ok/p/setup.xml", "/moved/h/MSagent.exe", "/ok/p/MSagent.exe",
                                                        "/ok/p/MSagent.exe"}));
    EXPECT_TRUE(UI.Errors.empty());
}

TEST_F(Config, TwoCorruptCopiesEndTheProgramWithACrcError) {
    std::string agent = Fixture("MSagent.exe");
    Server.Put("one/MSagent.exe", agent + "tampered");
    Server.Put("two/MSagent.exe", agent.substr(0, agent.size() / 2));
    // Listed in lower case: the lookup ignores ASCII case.
    Prepare(SetupText({Server.Url("ok", "one/"), Server.Url("ok", "two/")}, {{"msagent.exe", Md5Text(agent)}}));

    std::string dest = Installer->GetTempFolder() + "MSagent.exe";
    EXPECT_EQ(Fetch("MSagent.exe", dest), "halted");
    EXPECT_EQ(UI.Errors, std::vector<std::string>{"CRC Error.\r\nFile: MSagent.exe"});
    EXPECT_EQ(UI.ErrorCaptions, std::vector<std::string>{"Error"});
    EXPECT_EQ(UI.Halts, 1);
    EXPECT_EQ(Journal(), (std::vector<std::string>{"CreateFile " + dest, "CreateFile " + dest}));
}

TEST_F(Config, TotalFailureShowsTheLastDistributorsMessage) {
    const std::string missing = Server.Url("ok", "none/"), dest = Target + "Pip.acs";
    // No distributors at all: an empty error box.
    for (const auto& [urls, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{missing, Server.ClosedUrl()}, "Could not connect to host"},
             {{Server.ClosedUrl(), missing}, "Could not download file " + missing + "Pip.acs"},
             {{}, ""}}) {
        Prepare(SetupText(urls, {}));
        EXPECT_EQ(Fetch("Pip.acs", dest), "halted");
        EXPECT_EQ(UI.Errors, std::vector<std::string>{message});
        EXPECT_FALSE(FileExists(dest));
        EXPECT_TRUE(Journal().empty());
    }
}

TEST_F(Config, UnlistedFilesNeedNoDigestButMustArriveWhole) {
    std::string character = std::string(5000, 'c') + "haracter";
    Server.Put("d/Pip.acs", character);
    Prepare(SetupText({Server.Url("short", "d/"), Server.Url("ok", "d/")}, {{"MSagent.exe", Md5Text("x")}}));
    CreateDirectoryA((Target + "data\\").c_str(), nullptr);
    std::string dest = Target + "data\\Pip.acs";
    EXPECT_EQ(Fetch("Pip.acs", dest), "fetched");
    EXPECT_EQ(ReadFileText(dest), character);
    // The copy cut short was neither kept nor journalled.
    EXPECT_EQ(Journal(), std::vector<std::string>{"CreateFile " + dest});

    Prepare(SetupText({Server.Url("short", "d/")}, {}));
    DeleteFileA(dest.c_str());
    EXPECT_EQ(Fetch("Pip.acs", dest), "halted");
    EXPECT_EQ(UI.Errors, std::vector<std::string>{"Could not download file " + Server.Url("short", "d/Pip.acs")});
    EXPECT_FALSE(FileExists(dest));
    EXPECT_TRUE(Journal().empty());
}

TEST_F(Config, PackagedDigestsStandAgainstARefreshedCopy) {
    std::string agent = Fixture("MSagent.exe");
    std::string impostor = Fixture("spchapi.exe");
    std::string newcomer = "a file the package does not list";
    // The refreshed copy moves the distributors and swaps the digest for the impostor's.
    Server.Put("p/setup.xml", SetupText({Server.Url("ok", "q/")}, {{"MSagent.exe", Md5Text(impostor)},
                                                                   {"newcomer.exe", Md5Text(newcomer)},
                                                                   {"tv_enua.exe", Md5Text(Fixture("tv_enua.exe"))}}));
    Server.Put("q/tv_enua.exe", Fixture("tv_enua.exe"));
    Server.Put("q/MSagent.exe", impostor);
    Server.Put("q/newcomer.exe", newcomer);
    Prepare(SetupText({Server.Url("ok", "p/")}, {{"MSagent.exe", Md5Text(agent)}}));
    ASSERT_EQ(Urls(*Installer->GetConfiguration()), std::vector<std::string>{Server.Url("ok", "q/")});

    // The installation run: fetch, then start what was fetched.
    const std::string runLog = Installer->GetTempFolder() + "runs.log";
    std::string dest = Installer->GetTempFolder() + "MSagent.exe";
    EXPECT_EQ(Run(dest, "-noregister", "MSagent.exe"), "halted");
    EXPECT_EQ(UI.Errors, std::vector<std::string>{"CRC Error.\r\nFile: MSagent.exe"});
    EXPECT_FALSE(FileExists(runLog));

    // The genuine installer passes although the refreshed copy lists another digest.
    Server.Put("q/MSagent.exe", agent);
    EXPECT_EQ(Run(dest, "-noregister", "MSagent.exe"), "ran");
    EXPECT_EQ(ReadFileText(runLog).substr(0, 12), "MSagent.exe ");

    // A file only the refreshed copy lists is checked against its digest there.
    std::string other = Installer->GetTempFolder() + "newcomer.exe";
    EXPECT_EQ(Fetch("newcomer.exe", other), "fetched");
    Server.Put("q/newcomer.exe", newcomer + "!");
    EXPECT_EQ(Fetch("newcomer.exe", other), "halted");
    EXPECT_EQ(UI.Errors.back(), "CRC Error.\r\nFile: newcomer.exe");

    // An installer runs as administrator: only on a digest of the package's own, so one
    // only the refreshed copy lists is neither fetched nor run.
    const size_t asked = Server.Requests().size();
    const std::string engine = Installer->GetTempFolder() + "tv_enua.exe";
    EXPECT_EQ(Fetch("tv_enua.exe", engine), "halted");
    EXPECT_EQ(UI.Errors.back(), "CRC Error.\r\nFile: tv_enua.exe");
    EXPECT_EQ(Server.Requests().size(), asked);
    WriteFileText(engine, Fixture("tv_enua.exe"));
    EXPECT_THROW(Installer->HoldInstaller(engine), THalted);
    EXPECT_EQ(UI.Errors.back(), "CRC Error.\r\nFile: tv_enua.exe");
}

namespace {

// Each way another user could put other bytes in place of a held file. Empty when all are refused.
std::vector<std::string> SwapsLetThrough(const std::string& File, const std::string& Impostor) {
    std::vector<std::string> through;
    if (DeleteFileA(File.c_str())) through.push_back("DeleteFile");
    if (MoveFileExA(Impostor.c_str(), File.c_str(), MOVEFILE_REPLACE_EXISTING)) through.push_back("MoveFileEx over it");
    if (MoveFileExA(File.c_str(), (File + ".aside").c_str(), 0)) through.push_back("MoveFileEx away");
    auto opens = [&](DWORD Access, DWORD Disposition) {
        return static_cast<bool>(
            TFileHandle(CreateFileA(File.c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, Disposition, 0, nullptr)));
    };
    for (DWORD access : {DWORD(GENERIC_WRITE), DWORD(FILE_APPEND_DATA), DWORD(DELETE)})
        if (opens(access, OPEN_EXISTING)) through.push_back("CreateFile for access " + std::to_string(access));
    if (opens(GENERIC_WRITE, CREATE_ALWAYS)) through.push_back("CreateFile CREATE_ALWAYS");
    return through;
}

}  // namespace

// Setup runs elevated: between the check and the start nobody may put other bytes there.
TEST_F(Config, AFetchedInstallerRunsAsCheckedFromItsOwnFolder) {
    std::string agent = Fixture("MSagent.exe");
    Server.Put("m/MSagent.exe", agent);
    Prepare(SetupText({Server.Url("ok", "m/")}, {{"MSagent.exe", Md5Text(agent)}}));
    std::string dest = Installer->GetTempFolder() + "MSagent.exe";
    std::string impostor = Temp.Path() + "impostor.exe";
    WriteFileText(impostor, Fixture("spchapi.exe"));

    // Swapped after the download's check, before the run's: nothing starts.
    ASSERT_EQ(Fetch("MSagent.exe", dest), "fetched");
    ASSERT_TRUE(CopyFileA(impostor.c_str(), dest.c_str(), FALSE));
    EXPECT_EQ(Run(dest, "-noregister"), "halted");
    EXPECT_EQ(UI.Errors, std::vector<std::string>{"CRC Error.\r\nFile: MSagent.exe"});
    EXPECT_FALSE(FileExists(Installer->GetTempFolder() + "runs.log"));

    // Held from the check on: every swap is refused, readers are still let in.
    ASSERT_EQ(Fetch("MSagent.exe", dest), "fetched");
    Installer->HoldInstaller(dest);
    EXPECT_EQ(SwapsLetThrough(dest, impostor), std::vector<std::string>{});
    EXPECT_TRUE(
        TFileHandle(CreateFileA(dest.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_TRUE(ReadFileText(dest) == agent) << "the held file changed";
    EXPECT_EQ(UI.Halts, 1);

    // The checked installer starts, in its own folder, its TEMP setup's own, and the hold ends with the start.
    Installer->RunAndWait(dest, "\"" + dest + "\" -noregister -report-temp");
    const std::string temp = Target + "temp";
    EXPECT_EQ(ReadFileText(Installer->GetTempFolder() + "runs.log"),
              "MSagent.exe -noregister -report-temp TEMP=" + temp + " TMP=" + temp + "\r\n");
    EXPECT_FALSE(FileExists("runs.log")) << "started in the test's current folder";
    DeleteFileA("runs.log");
    EXPECT_TRUE(DeleteFileA(dest.c_str())) << "still held after the run";
    EXPECT_EQ(UI.Halts, 1);

    // Held by another writer, it cannot be checked and so is not run.
    ASSERT_EQ(Fetch("MSagent.exe", dest), "fetched");
    {
        TFileHandle writer(CreateFileA(dest.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(writer);
        EXPECT_EQ(Run(dest, "-noregister"), "halted");
    }
    EXPECT_EQ(UI.Errors.back(), "Counld not run " + dest);
    EXPECT_EQ(SplitCrLf(ReadFileText(Installer->GetTempFolder() + "runs.log")).size(), 1u);
}

TEST_F(Config, AShippedInstallerIsCheckedAgainstThePackagesCopyAndHeldUntilItStarts) {
    std::string speech = Fixture("spchapi.exe");
    MakeInstaller(SetupText({}, {}), {{".\\temp\\", "spchapi.exe", Text(speech), true}});
    Installer->ExtractPackage(nullptr, nullptr);
    std::string dest = Installer->GetTempFolder() + "spchapi.exe";
    ASSERT_EQ(ReadFileText(dest), speech);
    std::string impostor = Temp.Path() + "impostor.exe";
    WriteFileText(impostor, Fixture("MSagent.exe"));

    // Changed since its extraction: the package's copy tells.
    ASSERT_TRUE(CopyFileA(impostor.c_str(), dest.c_str(), FALSE));
    EXPECT_THROW(Installer->HoldInstaller(dest), THalted);
    EXPECT_EQ(UI.Errors, std::vector<std::string>{"CRC Error.\r\nFile: spchapi.exe"});

    Installer->ExtractPackage(nullptr, nullptr);
    Installer->HoldInstaller(dest);
    EXPECT_EQ(SwapsLetThrough(dest, impostor), std::vector<std::string>{});
    Installer->RunAndWait(dest, "\"" + dest + "\" -noregister");
    EXPECT_EQ(ReadFileText(Installer->GetTempFolder() + "runs.log"), "spchapi.exe -noregister\r\n");
    EXPECT_EQ(UI.Halts, 1);
}

TEST_F(Config, FetchRefusesNamesThatAreNotBareFileNames) {
    Server.Put("x/evil.exe", "evil");
    Prepare(SetupText({Server.Url("ok", "x/")}, {}));
    size_t requests = Server.Requests().size();
    for (const std::string name : {"", "..\\evil.exe", "../evil.exe", "sub\\evil.exe", "C:evil.exe", "..",
                                   "evil.exe:stream", "\\\\host\\share\\evil.exe"})
        EXPECT_THAT([&] { Installer->FetchFile(name, Target + "data\\" + name, Host.Label(), Host.Bar()); },
                    ThrowsMessage<EInstallException>(HasSubstr("\"" + name + "\"")));
    // A bare name, but data\ is a link someone placed in the target: nothing goes through it.
    TempFolder elsewhere;
    MakeUnixLink(Target + "data", elsewhere.Path());
    EXPECT_THAT([&] { Installer->FetchFile("Zoe.acs", Target + "data\\Zoe.acs", Host.Label(), Host.Bar()); },
                ThrowsMessage<EInstallException>(
                    "\"" + Target + "data\" is a link inside the target folder; setup does not write through it."));
    EXPECT_FALSE(FileExists(elsewhere.Path() + "Zoe.acs"));
    EXPECT_EQ(Server.Requests().size(), requests);
    EXPECT_TRUE(Journal().empty());
    EXPECT_TRUE(UI.Errors.empty());
}

TEST_F(Config, DigestAndConfigurationErrorsLeaveAsInstallErrors) {
    MakeInstaller(SetupText({Server.Url("ok", "y/")}, {{"bad.exe", "xyz"}}));
    // Nothing extracted yet: the working copy is missing, and the cache stays empty.
    EXPECT_THROW(Installer->GetConfiguration(), EInstallException);
    EXPECT_FALSE(Installer->HasConfiguration());
    Installer->RefreshConfiguration();
    ASSERT_NE(Installer->GetConfiguration(), nullptr);

    Server.Put("y/bad.exe", "bad");
    EXPECT_THAT([&] { Installer->FetchFile("bad.exe", Target + "bad.exe", Host.Label(), Host.Bar()); },
                ThrowsMessage<EInstallException>("xyz is not a valid MD5 value"));

    const std::string file = Target + "digest.bin", abc = "900150983cd24fb0d6963f7d28e17f72";
    WriteFileText(file, "abc");
    EXPECT_TRUE(Installer->CheckFileDigest(file, "900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_FALSE(Installer->CheckFileDigest(file, "900150983cd24fb0d6963f7d28e17f73"));
    EXPECT_THROW(Installer->CheckFileDigest(Target + "missing.bin", abc), EInstallException);
    // Read beside a virus scanner that reads it too, and after one that held it alone for a moment;
    // never while a writer has it.
    auto open = [&](DWORD Access, DWORD Share) {
        return TFileHandle(CreateFileA(file.c_str(), Access, Share, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    for (DWORD share : {DWORD(FILE_SHARE_READ), DWORD(0)}) {
        std::thread letGo([scanner = open(GENERIC_READ, share)]() mutable {
            Sleep(500);
            scanner.Reset();
        });
        EXPECT_TRUE(Installer->CheckFileDigest(file, abc));
        letGo.join();
    }
    TFileHandle writer = open(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_THROW(Installer->CheckFileDigest(file, abc), EInstallException);
}
