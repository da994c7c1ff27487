// The Program Files folder, registry and environment reads, prerequisite
// detection with the stand-in installers, running programs, closing the
// stand-in product, and the restart through its seam.
#include "Components/SetupUtils.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <typeinfo>

#include "app/Utils.h"
#include "install_fixture.h"
#include "scripted_ui.h"
#include "wintest_http.h"

using namespace wintest;

namespace {

const char* const NtKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
const char* const CvKey = "Software\\Microsoft\\Windows\\CurrentVersion";
const UINT CloseRequest = 0x520;

void DeleteValue(HKEY Root, const std::string& Key, const std::string& Name) {
    RegDeleteKeyValueA(Root, Key.c_str(), Name.c_str());
}

std::string Z(const std::string& Text) { return Text + '\0'; }

// --- prerequisite components ---

// The test of each of ComponentInstallers' components, in their order.
bool (TInstaller::*const ComponentTests[])() = {&TInstaller::IsAgentRuntimeInstalled, &TInstaller::IsSpeechApiInstalled,
                                                &TInstaller::IsTruVoiceEngineInstalled,
                                                &TInstaller::IsTts3000EngineInstalled};

// The four answers, asked on a COM thread of their own so that no engine library stays loaded.
std::array<bool, 4> Detect() {
    std::array<bool, 4> found{};
    OnComThread([&] {
        TInstaller installer;
        for (size_t i = 0; i < 4; ++i) found[i] = (installer.*ComponentTests[i])();
    });
    return found;
}

// --- the stand-in product ---

DWORD Since(DWORD Start) { return GetTickCount() - Start; }

// The system clock in milliseconds: now, or when a process that has ended ended.
ULONGLONG FileTimeMs(const FILETIME& Time) {
    return ((static_cast<ULONGLONG>(Time.dwHighDateTime) << 32) | Time.dwLowDateTime) / 10000;
}
ULONGLONG ClockMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FileTimeMs(now);
}
ULONGLONG EndedMs(HANDLE Process) {
    FILETIME created, ended, kernel, user;
    EXPECT_TRUE(GetProcessTimes(Process, &created, &ended, &kernel, &user));
    return FileTimeMs(ended);
}

// Handles this process holds on other processes or their threads.
int ForeignHandles() {
    int count = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags;
        if (!GetHandleInformation(handle, &flags)) continue;
        DWORD owner = GetProcessId(handle);
        if (!owner) owner = GetProcessIdOfThread(handle);
        if (owner && owner != GetCurrentProcessId()) ++count;
    }
    return count;
}

// --- restart seam ---

struct TRebootScript {
    DWORD Platform = VER_PLATFORM_WIN32_NT;
    BOOL OpenOk = TRUE, ExitOk = TRUE;
    DWORD LastError = ERROR_SUCCESS;
    std::vector<std::string> Calls{};
};
TRebootScript Script;
HANDLE const FakeToken = reinterpret_cast<HANDLE>(0x1234);

std::string Hex(uintptr_t Value) {
    char text[32];
    std::snprintf(text, sizeof(text), "0x%lx", static_cast<unsigned long>(Value));
    return text;
}

// Replaces the system calls for the life of the object and records each call.
class RebootSeam {
public:
    explicit RebootSeam(const TRebootScript& Wanted) : FSaved(RebootCalls) {
        Script = Wanted;
        RebootCalls.PlatformId = [] {
            Script.Calls.push_back("PlatformId");
            return Script.Platform;
        };
        RebootCalls.OpenProcessToken = [](DWORD Access, HANDLE* Token) {
            Script.Calls.push_back("OpenProcessToken " + Hex(Access));
            *Token = Script.OpenOk ? FakeToken : nullptr;
            return Script.OpenOk;
        };
        RebootCalls.LookupPrivilegeValue = [](const char* Name, LUID* Luid) {
            Script.Calls.push_back(std::string("LookupPrivilegeValue ") + Name);
            *Luid = {19, 0};
            return TRUE;
        };
        RebootCalls.AdjustTokenPrivileges = [](HANDLE Token, TOKEN_PRIVILEGES* State) {
            Script.Calls.push_back("AdjustTokenPrivileges " + Hex(reinterpret_cast<uintptr_t>(Token)) + " count " +
                                   std::to_string(State->PrivilegeCount) + " luid " +
                                   std::to_string(State->Privileges[0].Luid.LowPart) + " attributes " +
                                   std::to_string(State->Privileges[0].Attributes));
            return TRUE;
        };
        RebootCalls.GetLastError = [] {
            Script.Calls.push_back("GetLastError");
            return Script.LastError;
        };
        RebootCalls.ExitWindowsEx = [](UINT Flags) {
            Script.Calls.push_back("ExitWindowsEx " + Hex(Flags));
            return Script.ExitOk;
        };
        RebootCalls.CloseHandle = [](HANDLE Handle) {
            Script.Calls.push_back("CloseHandle " + Hex(reinterpret_cast<uintptr_t>(Handle)));
            return TRUE;
        };
    }
    ~RebootSeam() { RebootCalls = FSaved; }

private:
    TRebootCalls FSaved;
};

// "" when RebootComputer returned; else the message, checked to be of the general class.
std::string RebootOutcome() {
    try {
        RebootComputer();
    } catch (const Exception& e) {
        EXPECT_EQ(typeid(e), typeid(Exception)) << "raised as " << typeid(e).name();
        return e.Message();
    }
    return "";
}

const std::vector<std::string> PrivilegeCalls = {"PlatformId",
                                                 "OpenProcessToken 0x28",
                                                 "LookupPrivilegeValue SeShutdownPrivilege",
                                                 "AdjustTokenPrivileges 0x1234 count 1 luid 19 attributes 2",
                                                 "GetLastError",
                                                 "CloseHandle 0x1234"};

}  // namespace

TEST(GetProgramFilesFolder, IsTheFolderOfThisBuildOn64BitWindows) {
    // Both configurations run in a 64-bit prefix: the shipped program under WoW64.
    EXPECT_EQ(RunsUnderWow64(), ShippedBuild);
    EXPECT_EQ(GetProgramFilesFolder() + "\\", BuildProgramFiles);
}

TEST(GetProgramFilesFolder, TakesTheFirstNonEmptySourceInOrder) {
    ValueGuard ntDir(HKEY_LOCAL_MACHINE, NtKey, "ProgramFilesDir"),
        ntPath(HKEY_LOCAL_MACHINE, NtKey, "ProgramFilesPath");
    ValueGuard cvDir(HKEY_LOCAL_MACHINE, CvKey, "ProgramFilesDir"),
        cvPath(HKEY_LOCAL_MACHINE, CvKey, "ProgramFilesPath");
    EnvGuard programFiles("ProgramFiles", "E:\\Env Programs");
    EnvGuard systemDrive("SystemDrive", "F:");
    SetValue(HKEY_LOCAL_MACHINE, NtKey, "ProgramFilesDir", Z("A:\\Nt Dir"));
    SetValue(HKEY_LOCAL_MACHINE, NtKey, "ProgramFilesPath", Z("B:\\Nt Path"));
    SetValue(HKEY_LOCAL_MACHINE, CvKey, "ProgramFilesDir", Z("C:\\Cv Dir"));
    SetValue(HKEY_LOCAL_MACHINE, CvKey, "ProgramFilesPath", Z("D:\\Cv Path"), REG_EXPAND_SZ);
    EXPECT_EQ(GetProgramFilesFolder(), "A:\\Nt Dir");
    // An empty value counts as missing.
    SetValue(HKEY_LOCAL_MACHINE, NtKey, "ProgramFilesDir", Z(""));
    EXPECT_EQ(GetProgramFilesFolder(), "B:\\Nt Path");
    DeleteValue(HKEY_LOCAL_MACHINE, NtKey, "ProgramFilesPath");
    EXPECT_EQ(GetProgramFilesFolder(), "C:\\Cv Dir");
    DeleteValue(HKEY_LOCAL_MACHINE, CvKey, "ProgramFilesDir");
    EXPECT_EQ(GetProgramFilesFolder(), "D:\\Cv Path");
    DeleteValue(HKEY_LOCAL_MACHINE, CvKey, "ProgramFilesPath");
    EXPECT_EQ(GetProgramFilesFolder(), "E:\\Env Programs");
    programFiles.Set(nullptr);
    EXPECT_EQ(GetProgramFilesFolder(), "F:\\Program Files");
    systemDrive.Set(nullptr);
    EXPECT_EQ(GetProgramFilesFolder(), "C:\\Program Files");
}

TEST(ReadRegistryString, TextUpToTheFirstZeroWhateverTheType) {
    const std::string key = "Software\\OrvandTest-read-" + std::to_string(GetCurrentProcessId());
    KeyGuard guard(HKEY_CURRENT_USER, key);
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "x"), "");
    const std::string long_(10000, 'L');
    const struct {
        const char* Name;
        std::string Data;
        DWORD Type;
        std::string Text;
    } values[] = {{"plain", Z("C:\\Program Files"), REG_SZ, "C:\\Program Files"},
                  {"", Z("default"), REG_SZ, "default"},
                  {"binary", std::string("ab\0cd", 5), REG_BINARY, "ab"},
                  {"unterminated", "abc", REG_BINARY, "abc"},
                  {"expand", Z("%ProgramFiles%"), REG_EXPAND_SZ, "%ProgramFiles%"},
                  {"dword", std::string("ABC\0", 4), REG_DWORD, "ABC"},
                  {"empty", "", REG_SZ, ""},
                  {"long", Z(long_), REG_SZ, long_}};
    for (const auto& v : values) SetValue(HKEY_CURRENT_USER, key, v.Name, v.Data, v.Type);
    for (const auto& v : values) EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, v.Name), v.Text) << v.Name;
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key, "missing"), "");
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, key + "\\missing", "plain"), "");
}

TEST(ExpandEnvironment, ExpandsDefinedVariablesAndLeavesOthers) {
    EnvGuard dir("ORVAND_TEST_DIR", "C:\\Orvand Dir");
    EnvGuard missing("ORVAND_TEST_UNDEFINED", nullptr);
    const std::string big(5000, 'b');
    EnvGuard large("ORVAND_TEST_BIG", big.c_str());
    EXPECT_EQ(ExpandEnvironment("%ORVAND_TEST_DIR%\\x"), "C:\\Orvand Dir\\x");
    EXPECT_EQ(ExpandEnvironment("%ORVAND_TEST_UNDEFINED%\\x"), "%ORVAND_TEST_UNDEFINED%\\x");
    EXPECT_EQ(ExpandEnvironment("no variables"), "no variables");
    EXPECT_EQ(ExpandEnvironment(""), "");
    EXPECT_EQ(ExpandEnvironment("%ORVAND_TEST_BIG%-%ORVAND_TEST_BIG%"), big + "-" + big);
}

TEST(Components, DetectedWhileTheStandInInstallersRegistrationLasts) {
    for (const char* name : ComponentInstallers) ASSERT_TRUE(FileExists(FixturePath(name))) << name;
    TComponents none(false);
    TScenario scene;
    EXPECT_EQ(Detect(), (std::array<bool, 4>{false, false, false, false}));

    // Each installer, run as the wizard runs it (no command line), makes its own test true.
    TScriptedUI ui;
    TInstaller installer;
    installer.SetUI(&ui);
    std::array<bool, 4> expected{};
    for (size_t i = 0; i < 4; ++i) {
        installer.RunAndWait(FixturePath(ComponentInstallers[i]), "");
        expected[i] = true;
        EXPECT_EQ(Detect(), expected) << ComponentInstallers[i];
    }
    EXPECT_EQ(SplitCrLf(scene.Runs()),
              (std::vector<std::string>{"MSagent.exe ", "spchapi.exe ", "tv_enua.exe ", "lhttseng.exe "}));
    EXPECT_EQ(ui.Halts, 0);

    none.Remove();
    EXPECT_EQ(Detect(), (std::array<bool, 4>{false, false, false, false}));

    // An engine whose class only a program of its own serves (a local server) counts as installed.
    for (size_t i = 2; i < 4; ++i) {
        TProcess server = StartProgram(FixturePath(ComponentInstallers[i]), "-localserver");
        EXPECT_EQ(WaitEnd(server, 20000), 0u);
    }
    EXPECT_EQ(Detect(), (std::array<bool, 4>{false, false, true, true}));
    std::vector<std::string> runs = SplitCrLf(scene.Runs());
    runs.erase(runs.begin(), runs.end() - 2);
    EXPECT_EQ(runs, (std::vector<std::string>{"tv_enua.exe -Embedding", "lhttseng.exe -Embedding"}))
        << "COM did not start the servers";
}

TEST(RunAndWait, HidesTheMainWindowWhileTheProgramRunsAndWaitsForItsEnd) {
    TTestHost main;
    ASSERT_TRUE(IsWindowVisible(main.Window()));
    TScriptedUI ui;
    ui.Main = main.Window();
    int visiblePumps = 0;
    std::vector<ULONGLONG> pumpedAt;
    ui.OnPump = [&] {
        visiblePumps += IsWindowVisible(main.Window()) ? 1 : 0;
        pumpedAt.push_back(GetTickCount64());
    };
    TInstaller installer;
    installer.SetUI(&ui);
    const std::string product = FixturePath("orvand.exe");
    // Not ready for input during its first second.
    const std::string command = "\"" + product + "\" -hidden -busy=1000 -lifetime=1500";
    // Once to warm up, so that the handle count below sees only what the runs leave behind.
    installer.RunAndWait(product, "\"" + product + "\" -hidden -lifetime=10");
    const int handles = ForeignHandles();
    ui.Pumps = 0;
    visiblePumps = 0;
    pumpedAt.clear();
    const ULONGLONG start = GetTickCount64();
    installer.RunAndWait(product, command);
    EXPECT_GE(GetTickCount64() - start, 2400u);
    EXPECT_EQ(FindRunningInstance(), nullptr) << "returned before the program ended";
    // Messages are processed all along the wait, about every 50 ms, with the window hidden.
    EXPECT_GE(ui.Pumps, 10);
    EXPECT_EQ(visiblePumps, 1) << "only the last pump, after the program, sees the window";
    // The first pump is before the start, the last after the end; the waits between begin once the
    // program is ready for input and last 50 ms each (the middle one, as the machine may be busy).
    ASSERT_GE(pumpedAt.size(), 4u);
    EXPECT_GE(pumpedAt[1] - start, 1000u) << "did not wait until the program was ready for input";
    std::vector<ULONGLONG> waits;
    for (size_t i = 2; i + 1 < pumpedAt.size(); ++i) waits.push_back(pumpedAt[i] - pumpedAt[i - 1]);
    std::sort(waits.begin(), waits.end());
    EXPECT_GE(waits[waits.size() / 2], 40u);
    EXPECT_LE(waits[waits.size() / 2], 90u);
    EXPECT_TRUE(IsWindowVisible(main.Window()));
    EXPECT_EQ(ui.Halts, 0);
    installer.RunAndWait(product, "\"" + product + "\" -hidden -lifetime=10");
    const int handlesAfter = ForeignHandles();
    EXPECT_EQ(handlesAfter, handles) << "process or thread handles left open";
}

TEST(RunAndWait, AProgramThatCannotStartShowsTheErrorAndHalts) {
    TempFolder temp;
    TTestHost main;
    TScriptedUI ui;
    ui.Main = main.Window();
    TInstaller installer;
    installer.SetUI(&ui);
    const std::string missing = temp.Path() + "missing.exe";
    EXPECT_THROW(installer.RunAndWait(missing, ""), THalted);
    EXPECT_EQ(ui.Errors, std::vector<std::string>{"Counld not run " + missing});
    EXPECT_EQ(ui.ErrorCaptions, std::vector<std::string>{"Error"});
    EXPECT_EQ(ui.Halts, 1);
    EXPECT_FALSE(IsWindowVisible(main.Window())) << "the main window came back";
}

TEST(RunAndWait, ATerminateRequestDuringTheWaitHalts) {
    TScriptedUI ui;
    ui.TerminateAfterPumps = 4;
    TInstaller installer;
    installer.SetUI(&ui);
    const std::string product = FixturePath("orvand.exe");
    DWORD start = GetTickCount();
    EXPECT_THROW(installer.RunAndWait(product, "\"" + product + "\" -hidden -lifetime=60000"), THalted);
    EXPECT_LT(Since(start), 10000u);
    EXPECT_EQ(ui.Halts, 1);
    EXPECT_EQ(ui.Pumps, 4);
    // The program itself runs on; the product's close request ends it.
    EXPECT_NE(FindRunningInstance(), nullptr);
    EXPECT_TRUE(CloseRunningInstance());
}

TEST(CloseRunningInstance, TrueAtOnceWhenNoProductRuns) {
    ASSERT_EQ(FindRunningInstance(), nullptr);
    DWORD start = GetTickCount();
    EXPECT_TRUE(CloseRunningInstance());
    EXPECT_LT(Since(start), 500u);
}

TEST(CloseRunningInstance, WaitsForAProductThatClosesLate) {
    TScenario scene;
    // Gone 2.25 s after the request: a look every second sees it at the third look. Looks every
    // 500 ms would return after 2.5 s, looks every 2 s 1.75 s after the product ended.
    TProcess product = StartProduct("-hidden -close-delay=2250");
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(CloseRunningInstance());
    const ULONGLONG took = GetTickCount64() - start, returned = ClockMs();
    EXPECT_GE(took, 3000u);
    EXPECT_LE(took, 4200u);
    EXPECT_EQ(product.WaitExit(2000), 0u);
    EXPECT_LE(returned - EndedMs(product.Get()), 1000u) << "the product's end was not seen at the next look";
    EXPECT_EQ(SplitCrLf(scene.Runs()),
              (std::vector<std::string>{"orvand.exe -hidden -close-delay=2250", "orvand.exe 0x520 0 0 posted"}));
}

TEST(CloseRunningInstance, AsksAnotherCopyInTurn) {
    TScenario scene;
    TProcess first = StartProduct("-hidden -close-delay=1000");
    TProcess second = StartProduct("-hidden -close-delay=1000");
    DWORD start = GetTickCount();
    EXPECT_TRUE(CloseRunningInstance());
    EXPECT_GE(Since(start), 1900u) << "both copies close one second after their own request";
    EXPECT_EQ(first.WaitExit(2000), 0u);
    EXPECT_EQ(second.WaitExit(2000), 0u);
    EXPECT_EQ(SplitCrLf(scene.Runs()),
              (std::vector<std::string>{"orvand.exe -hidden -close-delay=1000", "orvand.exe -hidden -close-delay=1000",
                                        "orvand.exe 0x520 0 0 posted", "orvand.exe 0x520 0 0 posted"}));
}

TEST(CloseRunningInstance, GivesUpAfterTenSecondsOnAProductThatStays) {
    TScenario scene;
    TProcess product = StartProduct("-hidden -ignore-close");
    DWORD start = GetTickCount();
    EXPECT_FALSE(CloseRunningInstance());
    DWORD took = Since(start);
    EXPECT_GE(took, 9900u);
    EXPECT_LE(took, 12500u);
    EXPECT_TRUE(product.Running());
    EXPECT_EQ(SplitCrLf(scene.Runs()),
              (std::vector<std::string>{"orvand.exe -hidden -ignore-close", "orvand.exe 0x520 0 0 posted"}))
        << "asked once, not at every look";
}

TEST(RebootComputer, EnablesTheShutdownPrivilegeOnNtThenRestarts) {
    for (DWORD platform : {0u, 1u, 2u, 3u}) {
        RebootSeam seam({.Platform = platform});
        EXPECT_EQ(RebootOutcome(), "");
        // Outside the NT family (2 and up) there are no privileges to touch.
        std::vector<std::string> calls = platform >= 2 ? PrivilegeCalls : std::vector<std::string>{"PlatformId"};
        calls.push_back("ExitWindowsEx 0x12");
        EXPECT_EQ(Script.Calls, calls) << platform;
    }
}

TEST(RebootComputer, EachFailureRaisesAndNothingRestartsAfterAPrivilegeFailure) {
    std::vector<std::string> refusedOnNt = PrivilegeCalls;
    refusedOnNt.push_back("ExitWindowsEx 0x12");
    // After a privilege failure the token is closed and no restart asked.
    const struct {
        TRebootScript Wanted;
        std::vector<std::string> Calls;
    } failures[] = {{{.OpenOk = FALSE}, {"PlatformId", "OpenProcessToken 0x28"}},
                    {{.LastError = ERROR_NOT_ALL_ASSIGNED}, PrivilegeCalls},
                    {{.Platform = 1, .ExitOk = FALSE}, {"PlatformId", "ExitWindowsEx 0x12"}},
                    {{.Platform = 2, .ExitOk = FALSE}, refusedOnNt}};
    for (const auto& f : failures) {
        SCOPED_TRACE(&f - failures);
        RebootSeam seam(f.Wanted);
        EXPECT_EQ(RebootOutcome(), "Could not reboot computer");
        EXPECT_EQ(Script.Calls, f.Calls);
    }
}
