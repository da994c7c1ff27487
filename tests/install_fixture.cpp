#include "install_fixture.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <cstring>

#include "Components/JournalFormat.h"
#include "Components/PackageFormat.h"
#include "Components/PackageWriter.h"
#include "Components/SetupUtils.h"
#include "config/HTTPUnit.h"
#include "wintest_http.h"

namespace wintest {

std::string TargetFolder(const std::string& Name) {
    return GetProgramFilesFolder() + "\\" + Name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
}

PackageCopy::PackageCopy() : FPath(TestProgramFolder() + "package-" + std::to_string(GetCurrentProcessId()) + ".exe") {
    EXPECT_TRUE(CopyFileA(FixturePath("sample\\install.exe").c_str(), FPath.c_str(), FALSE)) << FPath;
}

PackageCopy::~PackageCopy() { DeleteFileA(FPath.c_str()); }

namespace {
void DeleteKey(HKEY Root, const std::string& Key) {
    RegDeleteTreeA(Root, Key.c_str());
    RegDeleteKeyA(Root, Key.c_str());
}
}  // namespace

Leftovers::Leftovers(const std::string& Target) : FTarget(Target) {
    Remove();
    FMenuContainer.emplace(HKEY_CURRENT_USER, std::string(MenuExtKey) + MenuText);
}

Leftovers::~Leftovers() { Remove(); }

void Leftovers::Remove() {
    if (FileExists(FTarget + "bridge.ocx")) {
        try {
            TUninstaller(FTarget).UnregisterServer(FTarget + "bridge.ocx");
        } catch (const std::exception&) {
        }
    }
    DeleteKey(HKEY_CLASSES_ROOT, BridgeClassKey);
    DeleteKey(HKEY_CLASSES_ROOT, "Orvand.Bridge");
    DeleteKey(HKEY_LOCAL_MACHINE, UninstallKey);
    DeleteKey(HKEY_CURRENT_USER, std::string(MenuExtKey) + MenuText);
    RegDeleteKeyValueA(HKEY_CURRENT_USER, RunKey, "Orvand");
    DeleteFileA((SpecialFolder(CSIDL_DESKTOPDIRECTORY) + "Orvand.lnk").c_str());
    RemoveTree(SpecialFolder(CSIDL_PROGRAMS) + "Orvand");
    RemoveTree(FTarget);
    DropRestartDeletions(FTarget);
}

namespace {

using namespace snapshot;

bool SameText(const std::string& A, const std::string& B) { return _stricmp(A.c_str(), B.c_str()) == 0; }

bool StartsWith(const std::string& Text, const std::string& Prefix) {
    return Text.size() >= Prefix.size() && _strnicmp(Text.c_str(), Prefix.c_str(), Prefix.size()) == 0;
}

std::string RootName(uint32_t Root) {
    switch (Root) {
        case Journal::RootClassesRoot:
            return "HKCR";
        case Journal::RootCurrentUser:
            return "HKCU";
        case Journal::RootLocalMachine:
            return "HKLM";
        default:
            return "?";
    }
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
    if (SameText(named, Item)) return true;
    if (Line.Action == TJournalAction::CreateRegKey)
        return StartsWith(Item, named + "\\") || StartsWith(Item, named + "|");
    if (Line.Action != TJournalAction::RegisterServer) return false;
    for (const char* classes : {"HKCR\\", "HKLM\\Software\\Classes\\", "HKCU\\Software\\Classes\\"}) {
        if (!StartsWith(Item, classes)) continue;
        std::string rest = Item.substr(std::strlen(classes));
        // The shipped program registers its class in the 32-bit view.
        if (ShippedBuild && StartsWith(rest, "Wow6432Node\\")) rest = rest.substr(std::strlen("Wow6432Node\\"));
        if (StartsWith(rest, BridgeClassKey) || StartsWith(rest, "Orvand.Bridge")) return true;
    }
    return false;
}

}  // namespace

void WarmUpWinInet() {
    THttpServer server;
    TempFolder temp;
    server.Put("warm-up", "warm");
    std::string error;
    ASSERT_TRUE(DownloadFile(server.Url("ok", "warm-up"), temp.Path() + "warm-up", error, nullptr)) << error;
}

bool MakeMenuContainer() {
    HKEY container;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, MenuContainer, 0, nullptr, 0, KEY_READ, nullptr, &container, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(container);
    return true;
}

void SetAgentRuntime(bool Installed) {
    // Neither logged as a run of setup's nor told to skip its work.
    EnvGuard runLog("ORVAND_FIXTURE_RUNLOG", nullptr), noRegister("ORVAND_FIXTURE_NOREGISTER", nullptr);
    PROCESS_INFORMATION p = StartProgram(FixturePath("MSagent.exe"), Installed ? "" : "-unregister");
    EXPECT_EQ(WaitExit(p, 30000), 0u) << "the stand-in Agent runtime installer";
    CloseHandle(p.hProcess);
}

DWORD RunHost(const std::string& Package, const std::string& Target, const char* Kind, int N,
              const std::string& Extra) {
    std::string name = "OrvandKillPoint-" + std::to_string(GetCurrentProcessId());
    HANDLE reached = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    // The target's final "\" doubled before its closing quote.
    PROCESS_INFORMATION p = StartProgram(EnvPath("ORVAND_INSTALL_HOST"), "\"" + Package + "\" \"" + Target + "\\\" " +
                                                                             Kind + " " + std::to_string(N) + " " +
                                                                             name + (Extra.empty() ? "" : " " + Extra));
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
        bool there = line.Action == TJournalAction::CreateFile && SameText(line.Argument, gone);
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

void ExpectRemoveTakesItBack(const TSnapshot& Before, const TScope& Scope, const std::string& Target, Leftovers& Left) {
    // The uninstaller copy is the first file extracted; a run that died before
    // it gets one placed by hand.
    CreateDirectoryA(Target.c_str(), nullptr);
    if (!FileExists(Target + "install.exe")) {
        ASSERT_TRUE(CopyFileA(InstallExePath().c_str(), (Target + "install.exe").c_str(), TRUE));
    }
    const bool installed = FileExists(Target + "install.log");
    EXPECT_EQ(RunUninstaller(Target + "install.exe", "-remove", IDYES), 0u);
    // The running uninstaller and then its folder go at the next restart, where setup made the folder.
    const std::vector<std::string> deletions = {Target + "install.exe", Target.substr(0, Target.size() - 1)};
    EXPECT_EQ(DropRestartDeletions(Target), installed ? deletions : std::vector<std::string>());
    std::vector<TChange> left = Compare(Before, TSnapshot::Take(Scope));
    EXPECT_EQ(Lines(left), (std::vector<std::string>{"+ " + Target, "+ " + Target + "install.exe"})) << Describe(left);
    Left.Remove();
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

std::string Md5Text(const std::string& Bytes) {
    TMD5Context context;
    MD5Init(context);
    MD5Update(context, Bytes.data(), static_cast<uint32_t>(Bytes.size()));
    return DigestToText(MD5Final(context));
}

void PackSampleWithSetup(const std::string& SetupXml, const std::string& File) {
    TWinFileStream sample(FixturePath("sample\\install.exe"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    TFileDataDynArray entries = ReadDirectory(sample);
    const int64_t dataEnd = PackageDataEnd(sample, entries.size());
    TMemoryStream out;
    TPackageWriter writer(out);
    for (size_t i = 0; i < entries.size(); ++i) {
        TMemoryStream bytes;
        if (EntryName(entries[i]) == "setup.xml")
            bytes.Data().assign(SetupXml.begin(), SetupXml.end());
        else
            DecodeEntry(sample, entries[i], dataEnd, bytes);
        bytes.Seek(0, TSeekOrigin::Beginning);
        if (i == 0)
            writer.AddExecutable(bytes);
        else
            writer.AddFile(EntryFolder(entries[i]), EntryName(entries[i]), bytes, IsCompressed(entries[i]));
    }
    writer.Finish();
    WriteFileText(File, std::string(out.Data().begin(), out.Data().end()));
}

}  // namespace wintest
