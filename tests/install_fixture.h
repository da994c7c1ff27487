#pragma once
// What tests of whole installations share: a scenario's folders, the stand-in
// prerequisite components, packages of the sample product, the watch of the
// prefix that shows what an installation left, and the test host's runs.
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "config/setup_xml.h"
#include "snapshot.h"
#include "test_util.h"
#include "wintest_util.h"

namespace wintest {

// Asked before an installation writes over the brains (.db files) a previous one left.
inline const char* const BrainsText =
    "The brains of your previous Orvand have been found in the target folder.\r\n"
    "Would you like to replace them with new brains?";

// A target folder with a blank in its path, in the Program Files folder.
std::string TargetFolder(const std::string& Name);

// A scenario's scratch folder, the target (by default "Orvand\" in it) and the log of
// the stand-in programs' starts (ORVAND_FIXTURE_RUNLOG), for the life of the object.
struct TScenario {
    explicit TScenario(const std::string& Target = "", const std::string& RunLog = "");
    TempFolder Temp;
    const std::string Target, RunLog;
    EnvGuard LogRuns;
    // The starts logged so far, one "NAME ARGUMENTS" line each; "" when none.
    std::string Runs() const { return ReadFileText(RunLog); }
};

// The installers of the stand-in prerequisite components (fixtures/prereq.cpp).
inline const char* const ComponentInstallers[] = {"MSagent.exe", "spchapi.exe", "tv_enua.exe", "lhttseng.exe"};

// The stand-in components registered (Installed) or taken away for the life of the
// object, and taken away at its end: Which, or all four. Their registration is the
// installers' own, which setup neither journals nor undoes: a test changes it outside
// its snapshots, and these runs are not logged as setup's.
class TComponents {
public:
    explicit TComponents(bool Installed, std::initializer_list<const char*> Which = {});
    ~TComponents();
    TComponents(const TComponents&) = delete;
    TComponents& operator=(const TComponents&) = delete;
    // Runs one stand-in installer: it registers its component, or with Installed false removes it.
    static void Set(const std::string& Installer, bool Installed);
    // Takes them away now.
    void Remove();

private:
    std::vector<std::string> FWhich;
    bool FHadEngineFolder;
};

// WinInet makes its per-user store (cookie index, proxy setting) at its first
// use in a prefix. Called before a snapshot, so that store is no change of setup's.
void WarmUpWinInet();

// The prefix as a test found it, to show that whatever an installation into Target
// changed is taken back. Whatever such an installation may have left (a run that was
// killed, a test that failed half-way) is taken away before the snapshot and at the end.
// The browser's menu-extension container, there on every real system, is made first.
class TPrefixWatch {
public:
    explicit TPrefixWatch(const std::string& Target);
    ~TPrefixWatch();
    const std::string& Target() const { return FTarget; }
    // The snapshot again: for a test that puts things of its own in place first.
    void TakeSnapshot();
    // What changed since the snapshot.
    std::vector<snapshot::TChange> Changes() const;
    // After the uninstaller ran: nothing is left but Target's install.exe (the running
    // uninstaller), More ("+ item" as snapshot::Lines names them) and, where FolderMade,
    // Target itself; the uninstaller and that folder are to go at the next restart.
    void ExpectOnlyUninstallerLeft(bool FolderMade = true, const std::vector<std::string>& More = {});
    // Runs "install.exe -remove" in Target (a copy placed there first when the run died
    // before extracting it) and expects the prefix back at the snapshot but for that copy
    // and its folder, which are to go at the next restart where a journal was there; then
    // takes those away too.
    void ExpectRemoveTakesItBack();
    // Takes away whatever an installation into Target may have left.
    void RemoveLeftovers();

private:
    void ExpectLeft(bool FolderNew, bool Deletions, const std::vector<std::string>& More);
    std::string FTarget;
    std::optional<KeyGuard> FMenuContainer;
    snapshot::TScope FScope;
    snapshot::TSnapshot FBefore;
};

// A copy of the packed sample product beside the test program, outside the snapshot.
class PackageCopy {
public:
    PackageCopy();
    ~PackageCopy();
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Packs the sample product as its manifest lists it into File with the build's packer
// (ORVAND_PACK_EXE), with Configuration (when given) as its setup.xml and the Extra
// manifest lines ("FOLDER NAME SOURCE"), a line for a file the sample has in place of
// the sample's. Answers File.
std::string PackSample(const std::string& File, const std::string& Configuration = "",
                       const std::vector<std::string>& Extra = {});
// The manifest line of a built fixture (FixturePath) packed as Folder\Name.
std::string FixtureLine(const std::string& Folder, const std::string& Name, const std::string& Fixture = "");
// The sample's setup.xml as the build wrote it (the stand-in installers' digests), with Urls as its distributors.
std::string SampleConfiguration(const std::vector<std::string>& Urls);

// A setup.xml in ISO-8859-1: the distributors' addresses, the characters
// (name, fileName) and the digests (file name, MD5), padded with a comment to
// at least PadTo bytes.
using TPairs = std::vector<std::pair<std::string, std::string>>;
std::string SetupXmlText(const std::vector<std::string>& Urls, const TPairs& Characters, const TPairs& Digests,
                         size_t PadTo = 0);
// The four stand-in installers' names and digests, as a setup.xml must list them: setup runs no installer without.
TPairs InstallerDigests();
// A loaded setup.xml's distributors, whose addresses the tests keep to ASCII.
std::vector<std::string> DistributorUrls(IXMLFiledistributorsType& List);

// The exit code RunHost gives for a host it killed.
inline constexpr DWORD Killed = 0xDEAD;

// Runs the test host (tests/e2e/install_host.cpp, from ORVAND_INSTALL_HOST) on
// Package into Target (ending in "\"), to its end or to point N of Kind ("line",
// "block", "download", "keep"), where it is killed; Extra goes at the end of its
// command line. Killed, or the host's exit code.
DWORD RunHost(const std::string& Package, const std::string& Target, const char* Kind, int N,
              const std::string& Extra = "");

// Every change since the snapshot before the run is named by a line of the
// journal on disk (or is the journal itself, or the target folder while no
// journal is open yet), and every line names a change that is there.
// Killed at a journal line (KilledAt "line"), the last line (and any earlier one naming
// the same file) may name a file that its delete mark took away; killed between a
// file's journal line and the clearing of that mark ("keep"), it must.
void ExpectJournalNamesExactly(const std::vector<snapshot::TChange>& Changes, const std::string& Target,
                               const std::string& KilledAt = "");

}  // namespace wintest
