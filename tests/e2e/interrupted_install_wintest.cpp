// Setup killed (TerminateProcess) after every journal line of a whole
// installation and inside the extraction of large files: the journal on disk
// names exactly the changes made, and "install.exe -remove" takes them back.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "Components/JournalFormat.h"
#include "install_fixture.h"
#include "snapshot.h"
#include "wintest_util.h"

using namespace wintest;
using namespace snapshot;

namespace {

bool SameText(const std::string& A, const std::string& B) { return _stricmp(A.c_str(), B.c_str()) == 0; }

bool StartsWith(const std::string& Text, const std::string& Prefix) {
    return Text.size() >= Prefix.size() && _strnicmp(Text.c_str(), Prefix.c_str(), Prefix.size()) == 0;
}

const DWORD Killed = 0xDEAD;

// Runs the host (the target's final "\" doubled before its closing quote), to its end or to point N of Kind ("line", "block"), where it is
// killed. Killed, or the host's exit code.
DWORD RunHost(const std::string& Package, const std::string& Target, const char* Kind, int N) {
    std::string name = "OrvandKillPoint-" + std::to_string(GetCurrentProcessId());
    HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    PROCESS_INFORMATION p = StartProgram(EnvPath("ORVAND_INSTALL_HOST"), "\"" + Package + "\" \"" + Target + "\\\" " +
                                                                             Kind + " " + std::to_string(N) + " " + name);
    HANDLE both[2] = {reached, p.hProcess};
    DWORD which = WaitForMultipleObjects(2, both, FALSE, 60000);
    DWORD code = Killed;
    if (which != WAIT_OBJECT_0) code = WaitExit(p, 0);
    if (code == Killed || code == STILL_ACTIVE) {
        TerminateProcess(p.hProcess, 1);
        WaitForSingleObject(p.hProcess, INFINITE);
    }
    CloseHandle(p.hProcess);
    CloseHandle(reached);
    return code;
}

std::string RootName(uint32_t Root) {
    switch (Root) {
        case Journal::RootClassesRoot: return "HKCR";
        case Journal::RootCurrentUser: return "HKCU";
        case Journal::RootLocalMachine: return "HKLM";
        default: return "?";
    }
}

// The snapshot item that a journal line says was made.
std::string NamedItem(const TJournalLine& Line) {
    TRegistryArgument reg;
    switch (Line.Action) {
        case TJournalAction::CreateFolder:
        case TJournalAction::CreateFile: return Line.Argument;
        case TJournalAction::CreateRegKey:
            return ParseRegKeyArgument(Line.Argument, reg) ? RootName(reg.Root) + "\\" + reg.Key : "?";
        case TJournalAction::CreateRegValue:
            return ParseRegValueArgument(Line.Argument, reg)
                       ? RootName(reg.Root) + "\\" + reg.Key + "|" + (reg.ValueName.empty() ? "(default)" : reg.ValueName)
                       : "?";
        case TJournalAction::RegisterServer: return std::string("HKCR\\") + BridgeClassKey;
        case TJournalAction::None: break;
    }
    return "";
}

// Whether a change in the prefix is one the journal line accounts for: the item
// it names, everything inside a key it made, what registering the bridge writes.
bool Covers(const TJournalLine& Line, const std::string& Item) {
    std::string named = NamedItem(Line);
    if (named.empty()) return false;
    if (SameText(named, Item)) return true;
    if (Line.Action == TJournalAction::CreateRegKey) return StartsWith(Item, named + "\\") || StartsWith(Item, named + "|");
    if (Line.Action != TJournalAction::RegisterServer) return false;
    for (const char* classes : {"HKCR\\", "HKLM\\Software\\Classes\\", "HKCU\\Software\\Classes\\"}) {
        if (!StartsWith(Item, classes)) continue;
        std::string rest = Item.substr(std::strlen(classes));
        if (StartsWith(rest, BridgeClassKey) || StartsWith(rest, "Orvand.Bridge")) return true;
    }
    return false;
}

// Every change since Before is named by a line of the journal on disk (or is
// the journal itself, or the target folder while no journal is open yet), and
// every line names a change that is there.
void ExpectJournalNamesExactly(const std::vector<TChange>& Changes, const std::string& Target) {
    const std::string journalPath = Target + "install.log";
    std::vector<TJournalLine> lines;
    if (FileExists(journalPath))
        for (const std::string& text : SplitJournalLines(ReadFileText(journalPath))) {
            TJournalLine line = ParseJournalLine(text);
            if (line.Action != TJournalAction::None) lines.push_back(line);
        }
    for (const TJournalLine& line : lines) {
        std::string named = NamedItem(line);
        bool there = false;
        for (const TChange& change : Changes) there = there || (change.Kind == '+' && SameText(change.Item, named));
        EXPECT_TRUE(there) << "journalled but not made: " << line.Keyword << " " << line.Argument;
    }
    for (const TChange& change : Changes) {
        bool named = change.Kind != '-' && SameText(change.Item, journalPath);
        named = named || (change.Kind == '+' && SameText(change.Item, Target) && !FileExists(journalPath));
        for (const TJournalLine& line : lines) named = named || (change.Kind != '-' && Covers(line, change.Item));
        EXPECT_TRUE(named) << "not in the journal: " << Describe({change});
    }
}

}  // namespace

TEST(InterruptedInstallation, AfterEveryKillTheJournalNamesWhatWasDoneAndRemoveTakesItBack) {
    ASSERT_FALSE(EnvPath("ORVAND_INSTALL_HOST").empty());
    PackageCopy package;
    const std::string target = TargetFolder("Orvand Killed");
    Leftovers leftovers(target);
    // The container of browser menu extensions is there on every real system.
    HKEY container;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, MenuContainer, 0, nullptr, 0, KEY_READ, nullptr, &container, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(container);
    const TScope scope = PrefixScope();
    const TSnapshot before = TSnapshot::Take(scope);
    const std::vector<std::string> onlyTheCopy = {"+ " + target, "+ " + target + "install.exe"};

    // A whole run counts the points; its removal is the last round trip.
    DWORD counts = RunHost(package.Path(), target, "none", 0);
    ASSERT_NE(counts, Killed);
    ASSERT_NE(counts, 0xFFFFFFFFu) << "the scripted installation failed";
    const int lines = static_cast<int>(counts & 0xFFFF), blocks = static_cast<int>(counts >> 16);
    ASSERT_GE(lines, 20);
    ASSERT_GE(blocks, 8);

    std::vector<std::pair<const char*, int>> points;
    for (int k = 1; k <= lines; ++k) points.push_back({"line", k});
    for (int k : {1, 2, blocks / 4, blocks / 2, 3 * blocks / 4, blocks - 1, blocks}) points.push_back({"block", k});
    points.push_back({"none", 0});

    int tried = 0;
    for (const auto& [kind, k] : points) {
        SCOPED_TRACE(std::string("killed at ") + kind + " " + std::to_string(k));
        if (std::string(kind) != "none") {
            ASSERT_EQ(RunHost(package.Path(), target, kind, k), Killed) << "the point was not reached";
            ++tried;
        } else {
            ASSERT_EQ(RunHost(package.Path(), target, kind, k), counts);
        }
        ExpectJournalNamesExactly(Compare(before, TSnapshot::Take(scope)), target);
        // The uninstaller copy is the first file extracted; a run that died
        // before it gets one placed by hand.
        CreateDirectoryA(target.c_str(), nullptr);
        if (!FileExists(target + "install.exe")) {
            ASSERT_TRUE(CopyFileA(InstallExePath().c_str(), (target + "install.exe").c_str(), TRUE));
        }
        EXPECT_EQ(RunUninstaller(target + "install.exe", "-remove", IDYES), 0u);
        std::vector<TChange> left = Compare(before, TSnapshot::Take(scope));
        EXPECT_EQ(Lines(left), onlyTheCopy) << Describe(left);
        leftovers.Remove();
        if (HasFatalFailure()) return;
    }
    std::printf("[ figures  ] kill points tried: %d (%d journal lines, %d of %d extraction blocks)\n", tried, lines,
                tried - lines, blocks);
}
