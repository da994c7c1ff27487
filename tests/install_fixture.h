#pragma once
// What tests of whole installations share: a target folder, a copy of the
// packed sample product, and the removal of whatever a run left behind.
#include <optional>
#include <string>
#include <vector>

#include "snapshot.h"
#include "wintest_util.h"

namespace wintest {

inline constexpr const char* MenuContainer = "Software\\Microsoft\\Internet Explorer\\MenuExt";
inline constexpr const char* MenuText = "&Copy to Orvand";

// A target folder with a blank in its path, in the Program Files folder.
std::string TargetFolder(const std::string& Name);

// A copy of the packed sample product beside the test program, outside the snapshot.
class PackageCopy {
public:
    PackageCopy();
    ~PackageCopy();
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// Takes away whatever an installation into Target may have left, before the
// test (a run that was killed) and after it (a test that failed half-way).
class Leftovers {
public:
    explicit Leftovers(const std::string& Target);
    ~Leftovers();
    void Remove();

private:
    std::string FTarget;
    // Also the menu-extension container, when the installation had to make it.
    std::optional<KeyGuard> FMenuContainer;
};

// Makes the container of browser menu extensions, which is there on every real
// system, when it is missing; a Leftovers made before takes it away again.
bool MakeMenuContainer();

// WinInet makes its per-user store (cookie index, proxy setting) at its first
// use in a prefix. Called before a snapshot, so that store is no change of setup's.
void WarmUpWinInet();

// The stand-in Agent runtime (fixtures/prereq.cpp) registered or taken away
// again. Its registration is the runtime installer's, which setup neither
// journals nor undoes: a test makes or removes it outside its snapshots.
void SetAgentRuntime(bool Installed);

// The Agent runtime there for the life of the object, so that a run lists no
// installer and needs no distributor.
struct AgentRuntime {
    AgentRuntime() { SetAgentRuntime(true); }
    ~AgentRuntime() { SetAgentRuntime(false); }
};

// The exit code RunHost gives for a host it killed.
inline constexpr DWORD Killed = 0xDEAD;

// Runs the test host (tests/e2e/install_host.cpp, from ORVAND_INSTALL_HOST) on
// Package into Target (ending in "\"), to its end or to point N of Kind ("line",
// "block", "download"), where it is killed; Extra goes at the end of its command
// line. Killed, or the host's exit code.
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

// Runs "install.exe -remove" in Target (a copy placed there first when the run
// died before extracting it) and expects the prefix back at Before, but for
// that copy and its folder, which go at the next restart where a journal was
// there; then takes those away.
void ExpectRemoveTakesItBack(const snapshot::TSnapshot& Before, const snapshot::TScope& Scope,
                             const std::string& Target, Leftovers& Left);

// A setup.xml in ISO-8859-1: the distributors' addresses, the characters
// (name, fileName) and the digests (file name, MD5), padded with a comment to
// at least PadTo bytes.
using TPairs = std::vector<std::pair<std::string, std::string>>;
std::string SetupXmlText(const std::vector<std::string>& Urls, const TPairs& Characters, const TPairs& Digests,
                         size_t PadTo = 0);
// The MD5 digest of Bytes in hexadecimal.
std::string Md5Text(const std::string& Bytes);

// The sample product's package with another setup.xml, written to File.
void PackSampleWithSetup(const std::string& SetupXml, const std::string& File);

}  // namespace wintest
