#include "install_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "Components/JournalFormat.h"
#include "Components/SetupUtils.h"
#include "config/HTTPUnit.h"
#include "support/TextUtils.h"
#include "wintest_http.h"

namespace wintest {

using namespace snapshot;

std::string TargetFolder(const std::string& Name) {
    return GetProgramFilesFolder() + "\\" + Name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
}

TScenario::TScenario(const std::string& Target, const std::string& RunLog)
    : Target(Target.empty() ? Temp.Path() + "Orvand\\" : Target),
      RunLog(RunLog.empty() ? Temp.Path() + "runs.log" : RunLog),
      LogRuns("ORVAND_FIXTURE_RUNLOG", this->RunLog.c_str()) {}

namespace {

// Where the stand-in speech engines keep what they install.
std::string EngineFolder() { return SpecialFolder(CSIDL_COMMON_APPDATA) + "OrvandFixtures"; }

}  // namespace

TComponents::TComponents(bool Installed, std::initializer_list<const char*> Which)
    : FWhich(Which.begin(), Which.end()), FHadEngineFolder(FolderExists(EngineFolder())) {
    if (FWhich.empty()) FWhich.assign(std::begin(ComponentInstallers), std::end(ComponentInstallers));
    for (const std::string& installer : FWhich) Set(installer, Installed);
}

TComponents::~TComponents() { Remove(); }

void TComponents::Remove() {
    for (const std::string& installer : FWhich) Set(installer, false);
    if (!FHadEngineFolder) RemoveDirectoryA(EngineFolder().c_str());
}

void TComponents::Set(const std::string& Installer, bool Installed) {
    // Neither logged as a run of setup's nor told to skip its work.
    EnvGuard runLog("ORVAND_FIXTURE_RUNLOG", nullptr), noRegister("ORVAND_FIXTURE_NOREGISTER", nullptr);
    TProcess p = StartProgram(FixturePath(Installer), Installed ? "" : "-unregister");
    EXPECT_EQ(p.WaitExit(30000), 0u) << "the stand-in installer " << Installer;
}

void WarmUpWinInet() {
    THttpServer server;
    TempFolder temp;
    server.Put("warm-up", "warm");
    std::string error;
    ASSERT_TRUE(DownloadFile(server.Url("ok", "warm-up"), temp.Path() + "warm-up", error, nullptr)) << error;
}

TPrefixWatch::TPrefixWatch(const std::string& Target) : FTarget(Target), FScope(PrefixScope()) {
    RemoveLeftovers();
    FMenuContainer.emplace(HKEY_CURRENT_USER, MenuContainer);
    TRegKey container;
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, MenuContainer, 0, nullptr, 0, KEY_READ, nullptr, container.Out(), nullptr),
        ERROR_SUCCESS);
    TakeSnapshot();
}

void TPrefixWatch::TakeSnapshot() { FBefore = TSnapshot::Take(FScope); }

TPrefixWatch::~TPrefixWatch() { RemoveLeftovers(); }

std::vector<TChange> TPrefixWatch::Changes() const { return Compare(FBefore, TSnapshot::Take(FScope)); }

void TPrefixWatch::ExpectOnlyUninstallerLeft(bool FolderMade, const std::vector<std::string>& More) {
    ExpectLeft(FolderMade, FolderMade, More);
}

void TPrefixWatch::ExpectLeft(bool FolderNew, bool Deletions, const std::vector<std::string>& More) {
    const std::vector<std::string> deletions = {FTarget + "install.exe", FTarget.substr(0, FTarget.size() - 1)};
    EXPECT_EQ(DropRestartDeletions(FTarget), Deletions ? deletions : std::vector<std::string>{});
    std::vector<std::string> expected = {"+ " + FTarget + "install.exe"};
    if (FolderNew) expected.push_back("+ " + FTarget);
    expected.insert(expected.end(), More.begin(), More.end());
    // In the snapshot's order: by name, letter case aside.
    std::sort(expected.begin(), expected.end(), [](const std::string& A, const std::string& B) {
        return LowerAscii(A.substr(2)) < LowerAscii(B.substr(2));
    });
    const std::vector<TChange> left = Changes();
    EXPECT_EQ(Lines(left), expected) << Describe(left);
}

void TPrefixWatch::ExpectRemoveTakesItBack() {
    // The uninstaller copy is the first file extracted; a run that died before
    // it gets one placed by hand.
    CreateDirectoryA(FTarget.c_str(), nullptr);
    if (!FileExists(FTarget + "install.exe")) {
        ASSERT_TRUE(CopyFileA(InstallExePath().c_str(), (FTarget + "install.exe").c_str(), TRUE));
    }
    const bool installed = FileExists(FTarget + "install.log");
    RunUninstaller(FTarget + "install.exe", "-remove", IDYES);
    ExpectLeft(true, installed, {});
    RemoveLeftovers();
}

void TPrefixWatch::RemoveLeftovers() {
    auto deleteKey = [](HKEY Root, const std::string& Key) {
        RegDeleteTreeA(Root, Key.c_str());
        RegDeleteKeyA(Root, Key.c_str());
    };
    if (FileExists(FTarget + "bridge.ocx")) {
        try {
            TUninstaller(FTarget).UnregisterServer(FTarget + "bridge.ocx");
        } catch (const std::exception&) {
        }
    }
    deleteKey(HKEY_CLASSES_ROOT, BridgeClassKey);
    deleteKey(HKEY_CLASSES_ROOT, "Orvand.Bridge");
    deleteKey(HKEY_LOCAL_MACHINE, UninstallKey);
    deleteKey(HKEY_CURRENT_USER, MenuKey);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, RunKey, "Orvand");
    DeleteFileA((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk").c_str());
    RemoveTree(SpecialFolder(CSIDL_PROGRAMS) + "Orvand");
    RemoveTree(FTarget);
    DropRestartDeletions(FTarget);
}

PackageCopy::PackageCopy() : FPath(TestProgramFolder() + "package-" + std::to_string(GetCurrentProcessId()) + ".exe") {
    CopyFixture("sample\\install.exe", FPath);
}

PackageCopy::~PackageCopy() { DeleteFileA(FPath.c_str()); }

std::string PackSample(const std::string& File, const std::string& Configuration,
                       const std::vector<std::string>& Extra) {
    std::string manifest = ReadFileText(FixturePath("sample\\sample.manifest"));
    std::vector<std::string> lines = Extra;
    if (!Configuration.empty()) {
        WriteFileText(File + ".setup.xml", Configuration);
        lines.push_back(".\\temp\\ setup.xml \"" + File + ".setup.xml\"");
    }
    // The build writes Unix paths; here they are read through Wine's drive Z:.
    for (size_t at = 0; (at = manifest.find("\"/", at)) != std::string::npos; at += 3) manifest.insert(at + 1, "Z:");
    for (const std::string& line : lines) {
        // A line for a file the sample has ("FOLDER NAME ...") replaces the sample's.
        const std::string file = "\n" + line.substr(0, line.find(' ', line.find(' ') + 1) + 1);
        for (size_t at; (at = manifest.find(file)) != std::string::npos;)
            manifest.erase(at + 1, manifest.find('\n', at + 1) - at);
        manifest += line + "\n";
    }
    WriteFileText(File + ".manifest", manifest);
    TProcess packer = StartProgram(EnvPath("ORVAND_PACK_EXE"),
                                   "-o \"" + File + "\" \"" + InstallExePath() + "\" \"" + File + ".manifest\"");
    if (packer.WaitExit(60000) != 0 || !FileExists(File)) throw std::runtime_error("packing " + File + " failed");
    return File;
}

std::string FixtureLine(const std::string& Folder, const std::string& Name, const std::string& Fixture) {
    return Folder + " " + Name + " \"" + FixturePath(Fixture.empty() ? Name : Fixture) + "\"";
}

std::string SampleConfiguration(const std::vector<std::string>& Urls) {
    std::string text = ReadFileText(FixturePath("sample\\setup.xml"));
    const std::string open = "<fileDistributors>", close = "</fileDistributors>";
    size_t from = text.find(open), to = text.find(close);
    if (from == std::string::npos || to == std::string::npos)
        throw std::runtime_error("the sample's setup.xml has no distributors");
    std::string urls;
    for (const std::string& url : Urls) urls += "<url>" + url + "</url>";
    return text.substr(0, from + open.size()) + urls + text.substr(to);
}

std::string SetupXmlText(const std::vector<std::string>& Urls, const TPairs& Characters, const TPairs& Digests,
                         size_t PadTo) {
    std::string text = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<setup>\r\n  <fileDistributors>\r\n";
    for (const std::string& url : Urls) text += "    <url>" + url + "</url>\r\n";
    text += "  </fileDistributors>\r\n  <agentCharacters>\r\n";
    for (const auto& [name, file] : Characters)
        text += "    <character name=\"" + name + "\" fileName=\"" + file + "\"/>\r\n";
    text += "  </agentCharacters>\r\n  <filesMD5List>\r\n";
    for (const auto& [name, md5] : Digests) text += "    <file name=\"" + name + "\" MD5=\"" + md5 + "\"/>\r\n";
    text += "  </filesMD5List>\r\n";
    if (text.size() + 20 < PadTo) text += "<!--" + std::string(PadTo - text.size() - 20, '.') + "-->\r\n";
    return text + "</setup>\r\n";
}

TPairs InstallerDigests() {
    TPairs digests;
    for (const char* installer : ComponentInstallers)
        digests.emplace_back(installer, Md5Text(ReadFileText(FixturePath(installer))));
    return digests;
}

std::vector<std::string> DistributorUrls(IXMLFiledistributorsType& List) {
    std::vector<std::string> urls;
    for (int i = 0; i < List.Count(); ++i) {
        const std::wstring url = List.Url(i);
        urls.emplace_back(url.begin(), url.end());
    }
    return urls;
}

DWORD RunHost(const std::string& Package, const std::string& Target, const char* Kind, int N,
              const std::string& Extra) {
    const std::string name = "OrvandKillPoint-" + std::to_string(GetCurrentProcessId());
    TKernelHandle reached(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
    // The target's final "\" doubled before its closing quote.
    TProcess host = StartProgram(EnvPath("ORVAND_INSTALL_HOST"), "\"" + Package + "\" \"" + Target + "\\\" " + Kind +
                                                                     " " + std::to_string(N) + " " + name +
                                                                     (Extra.empty() ? "" : " " + Extra));
    HANDLE both[2] = {reached.Get(), host.Get()};
    // Reached: killed as the owner goes. Neither in time: STILL_ACTIVE.
    return WaitForMultipleObjects(2, both, FALSE, 60000) == WAIT_OBJECT_0 ? Killed : host.WaitExit(0);
}

namespace {

bool Below(const std::string& Item, const std::string& Prefix) {
    return LowerAscii(Item).starts_with(LowerAscii(Prefix));
}

std::string RootName(uint32_t Root) {
    return Root == Journal::RootClassesRoot    ? "HKCR"
           : Root == Journal::RootCurrentUser  ? "HKCU"
           : Root == Journal::RootLocalMachine ? "HKLM"
                                               : "?";
}

// The snapshot item that a journal line says was made.
std::string NamedItem(const TJournalLine& Line) {
    TRegistryArgument reg;
    switch (Line.Action) {
        case TJournalAction::CreateFolder:
        case TJournalAction::CreateFile:
            return Line.Argument;
        case TJournalAction::CreateRegKey:
            return ParseRegKeyArgument(Line.Argument, reg) ? RootName(reg.Root) + "\\" + reg.Key : "?";
        case TJournalAction::CreateRegValue:
            return ParseRegValueArgument(Line.Argument, reg) ? RootName(reg.Root) + "\\" + reg.Key + "|" +
                                                                   (reg.ValueName.empty() ? "(default)" : reg.ValueName)
                                                             : "?";
        case TJournalAction::RegisterServer:
            return std::string("HKCR\\") + BridgeClassKey;
        case TJournalAction::None:
            break;
    }
    return "";
}

// Whether a change in the prefix is one the journal line accounts for: the item
// it names, everything inside a key it made, what registering the bridge writes.
bool Covers(const TJournalLine& Line, const std::string& Item) {
    std::string named = NamedItem(Line);
    if (named.empty()) return false;
    if (SameTextAscii(named, Item)) return true;
    if (Line.Action == TJournalAction::CreateRegKey) return Below(Item, named + "\\") || Below(Item, named + "|");
    if (Line.Action != TJournalAction::RegisterServer) return false;
    for (const std::string classes : {"HKCR\\", "HKLM\\Software\\Classes\\", "HKCU\\Software\\Classes\\"}) {
        if (!Below(Item, classes)) continue;
        std::string rest = Item.substr(classes.size());
        // The shipped program registers its class in the 32-bit view.
        if (ShippedBuild && Below(rest, "Wow6432Node\\")) rest = rest.substr(std::strlen("Wow6432Node\\"));
        if (Below(rest, BridgeClassKey) || Below(rest, "Orvand.Bridge")) return true;
    }
    return false;
}

}  // namespace

void ExpectJournalNamesExactly(const std::vector<TChange>& Changes, const std::string& Target,
                               const std::string& KilledAt) {
    const std::string journalPath = Target + "install.log";
    std::vector<TJournalLine> lines;
    if (FileExists(journalPath))
        for (const std::string& text : SplitJournalLines(ReadFileText(journalPath))) {
            TJournalLine line = ParseJournalLine(text);
            if (line.Action != TJournalAction::None) lines.push_back(line);
        }
    // The file the last line names, taken away by its delete mark (it may have replaced an earlier run's).
    std::string gone;
    if ((KilledAt == "line" || KilledAt == "keep") && !lines.empty() &&
        lines.back().Action == TJournalAction::CreateFile && !FileExists(lines.back().Argument))
        gone = lines.back().Argument;
    EXPECT_TRUE(KilledAt != "keep" || !gone.empty()) << "killed before a keep, the last line names a whole file";
    for (const TJournalLine& line : lines) {
        std::string named = NamedItem(line);
        bool there = line.Action == TJournalAction::CreateFile && SameTextAscii(line.Argument, gone);
        for (const TChange& change : Changes)
            there = there || (change.Kind == '+' && SameTextAscii(change.Item, named));
        EXPECT_TRUE(there) << "journalled but not made: " << line.Keyword << " " << line.Argument;
    }
    for (const TChange& change : Changes) {
        bool named = change.Kind != '-' && SameTextAscii(change.Item, journalPath);
        named = named || (change.Kind == '+' && SameTextAscii(change.Item, Target) && !FileExists(journalPath));
        for (const TJournalLine& line : lines) named = named || (change.Kind != '-' && Covers(line, change.Item));
        EXPECT_TRUE(named) << "not in the journal: " << Describe({change});
    }
}

}  // namespace wintest
