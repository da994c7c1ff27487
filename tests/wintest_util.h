#pragma once
// Helpers for tests that run under Wine on real files, folders, processes and windows.
#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/FileSystem.h"
#include "support/UniqueResource.h"

namespace wintest {

// Where an installation registers the product.
inline constexpr const char* UninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvand";
inline constexpr const char* RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// The container of the browser's menu extensions, and the product's own.
inline constexpr const char* MenuContainer = "Software\\Microsoft\\Internet Explorer\\MenuExt";
inline constexpr const char* MenuExtKey = "Software\\Microsoft\\Internet Explorer\\MenuExt\\";
inline constexpr const char* MenuKey = "Software\\Microsoft\\Internet Explorer\\MenuExt\\&Copy to Orvand";
// The class of the fixture COM library bridge.ocx (ProgID "Orvand.Bridge").
inline constexpr const char* BridgeClassKey = "CLSID\\{7F3C2A91-5B4E-4D6A-9C1F-2E8B0D4A6C35}";

// The test configuration this program is: the shipped i686 program, which runs on
// 64-bit Windows under WoW64, or the x86_64 build of the same sources. Tests assert
// what Windows does in the one they run in.
inline constexpr bool ShippedBuild = sizeof(void*) == 4;
// The registry view this build's HKLM software and class keys land in.
inline constexpr REGSAM ProductView = ShippedBuild ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
inline constexpr REGSAM OtherView = ShippedBuild ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
// The Program Files folder Windows gives this build.
inline constexpr const char* BuildProgramFiles = ShippedBuild ? "C:\\Program Files (x86)\\" : "C:\\Program Files\\";
// Whether this process runs under WoW64.
bool RunsUnderWow64();

// Asks Holds every Interval milliseconds until it answers true or Milliseconds have
// passed; whether it did. Waits on what can be seen, not on a guess of how long it takes.
template <typename Condition>
bool WaitUntil(Condition&& Holds, DWORD Milliseconds, DWORD Interval = 20) {
    const DWORD start = GetTickCount();
    while (!Holds()) {
        if (GetTickCount() - start >= Milliseconds) return false;
        Sleep(Interval);
    }
    return true;
}

// A program a test started: ended when its owner goes while it still runs, so
// that a failing test leaves nothing running that would hold up the next one.
class TProcess {
public:
    TProcess() = default;
    TProcess(HANDLE Process, DWORD Id) : FHandle(Process), FId(Id) {}
    TProcess(TProcess&&) noexcept = default;
    TProcess& operator=(TProcess&&) noexcept = default;
    ~TProcess() { Terminate(); }
    HANDLE Get() const { return FHandle.Get(); }
    DWORD Id() const { return FId; }
    // Its exit code once it has ended within Milliseconds, else STILL_ACTIVE.
    DWORD WaitExit(DWORD Milliseconds) const;
    bool Running() const { return WaitExit(0) == STILL_ACTIVE; }
    // Ends it if it still runs and waits for that.
    void Terminate();
    // Lets go of a native program of this machine, whose handle Wine never signals.
    void Detach() { FHandle.Reset(); }

private:
    TKernelHandle FHandle;
    DWORD FId = 0;
};

// Starts a program with the command line "Program" Arguments.
TProcess StartProgram(const std::string& Program, const std::string& Arguments);
// Waits for the end of the process (terminated on time-out) and returns its exit code,
// or STILL_ACTIVE; counts the message boxes other than Answered that showed meanwhile.
DWORD WaitEnd(TProcess& Process, DWORD Milliseconds, int* Boxes = nullptr, HWND Answered = nullptr);
// The process ends within Milliseconds with exit code 0 and shows no message box but Answered.
void ExpectQuietExit(TProcess& Process, DWORD Milliseconds = 20000, HWND Answered = nullptr);

// Wine's own export: the Unix path of a Windows path, for native programs.
std::string UnixPath(const std::string& WindowsPath);
// A Unix symbolic link at Link to Target (Windows paths), as someone with a shell
// could leave in a folder; Wine shows one to a folder as a reparse point.
void MakeUnixLink(const std::string& Link, const std::string& Target);
// Runs a /bin/sh command line of this machine and answers what it printed; it holds
// no double quotes (paths go in single quotes). Throws when it has not ended in time.
std::string RunUnixShell(const std::string& Command, DWORD Milliseconds = 60000);

// The path of a shell folder (CSIDL_...), ending in "\".
std::string SpecialFolder(int Id);
// A shortcut read back through the shell: "target|arguments|working folder".
std::string ReadShortcut(const std::string& File);

// A fresh, empty folder under the system temp folder, ending in "\"; removed again at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& Prefix = "orvand");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

// A unique folder under C:\PRJ\ (C:\prj made when missing); both go again at the end.
class PrjFolder {
public:
    explicit PrjFolder(const std::string& Name);
    ~PrjFolder();
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
    bool FMadePrj;
};

// Files and folders (with everything in them) that go at the end, made by the test or by what it tests.
class TRemoveAtEnd {
public:
    TRemoveAtEnd(std::initializer_list<std::string> Paths) : FPaths(Paths) {}
    ~TRemoveAtEnd();
    TRemoveAtEnd(const TRemoveAtEnd&) = delete;
    TRemoveAtEnd& operator=(const TRemoveAtEnd&) = delete;

private:
    std::vector<std::string> FPaths;
};

// Removes at the end what a test adds at a registry path: the outermost of its
// keys that did not exist at construction, with everything below it.
class KeyGuard {
public:
    KeyGuard(HKEY Root, const std::string& Path);
    ~KeyGuard();
    KeyGuard(const KeyGuard&) = delete;
    KeyGuard& operator=(const KeyGuard&) = delete;

private:
    HKEY FRoot;
    std::string FMissing;
};

// Puts a registry value back at the end: its old type and data, or its absence.
class ValueGuard {
public:
    ValueGuard(HKEY Root, const std::string& Key, const std::string& Name);
    ~ValueGuard();
    ValueGuard(const ValueGuard&) = delete;
    ValueGuard& operator=(const ValueGuard&) = delete;

private:
    HKEY FRoot;
    std::string FKey, FName;
    bool FExisted = false;
    DWORD FType = 0;
    std::vector<BYTE> FData;
};

// A COM apartment on this thread for the life of the object.
class ComScope {
public:
    ComScope() : FEntered(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (FEntered) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool FEntered;
};
// Runs Body on a thread of its own in COM; the libraries COM loads for it are
// unloaded again when that thread leaves COM.
void OnComThread(const std::function<void()>& Body);

// Sets an environment variable (nullptr removes it) and puts the old state back at the end.
class EnvGuard {
public:
    EnvGuard(const char* Name, const char* Value);
    ~EnvGuard();
    void Set(const char* Value);

private:
    std::string FName, FOld;
    bool FHad;
};

bool KeyExists(HKEY Root, const std::string& Path, REGSAM View = 0);
// A value's type and bytes; false when it is missing.
bool ReadValue(HKEY Root, const std::string& Key, const std::string& Name, DWORD* Type, std::vector<BYTE>* Data);
inline bool HasValue(HKEY Root, const std::string& Key, const std::string& Name) {
    return ReadValue(Root, Key, Name, nullptr, nullptr);
}
// Writes a value (Name nullptr: the unnamed one) with Data's bytes as they are: a string's zero is the caller's.
void SetValue(HKEY Root, const std::string& Key, const char* Name, const std::string& Data, DWORD Type = REG_SZ);
// A string value's text read in the given view (KEY_WOW64_32KEY or _64KEY, 0 for the
// program's own; Value nullptr for the unnamed one), or "(none)".
std::string ViewText(HKEY Root, const std::string& Key, const char* Value, REGSAM View = 0);
// A REG_DWORD value as decimal text, "(not a number)" for another type, or "(none)".
std::string NumberText(HKEY Root, const std::string& Key, const char* Value);

std::string ReadFileText(const std::string& FileName);
void WriteFileText(const std::string& FileName, const std::string& Text);
// Folder and, below it, each file (name, text) with the folders on its way; a name ending in "\" is a folder.
void MakeTree(const std::string& Folder, const std::vector<std::pair<std::string, std::string>>& Files = {});
// The program's own questions (support/FileSystem.h).
using ::FileExists;
using ::FolderExists;
void RemoveTree(const std::string& Path);
// Text cut at each Separator; a last Separator ends the last piece and starts none.
std::vector<std::string> SplitText(const std::string& Text, const std::string& Separator);
inline std::vector<std::string> SplitCrLf(const std::string& Text) { return SplitText(Text, "\r\n"); }

// Texts with the clock in them, checked whole against the clock read before and
// after the call that wrote them.
// Line is "[" + the log's clock at a moment from Before to After + "]" + Rest.
bool IsStampedLine(const std::string& Line, const SYSTEMTIME& Before, const SYSTEMTIME& After, const std::string& Rest);
// Line is Head + the user's short date + " " + time of a second from Before to After + Tail.
bool HasClockBetween(const std::string& Line, const SYSTEMTIME& Before, const SYSTEMTIME& After,
                     const std::string& Head, const std::string& Tail);
// Folder of the running test program, ending in "\".
std::string TestProgramFolder();
std::string Env(const char* Name);
// A path passed in by the build (a Unix path under Wine), as a Windows path.
std::string EnvPath(const char* Name);
// The built install.exe, from ORVAND_INSTALL_EXE.
std::string InstallExePath();
// A file of the built fixtures (ORVAND_FIXTURES_DIR), e.g. "orvand.exe", "sample\install.exe".
std::string FixturePath(const std::string& Name);
// A copy of the fixture Name at To, answered; throws when it cannot be made.
std::string CopyFixture(const std::string& Name, const std::string& To);
// The stand-in product's main window once it is there, or nullptr.
HWND WaitProductWindow(DWORD Milliseconds);
// Starts the stand-in product with Switches and waits for its main window.
TProcess StartProduct(const std::string& Switches);

// The uninstall confirmation box of the process, checked (caption, text, buttons); nullptr when none came.
HWND WaitConfirmation(DWORD ProcessId);
// Starts an installed install.exe with Argument ("-remove"), checks its confirmation
// box, answers it with Answer (IDYES, IDNO) and expects a quiet exit with code 0.
void RunUninstaller(const std::string& Exe, const std::string& Argument, int Answer);
extern const char* const UninstallQuestion;

// The top-level windows of the process with that class (any class when empty), the visible ones only if asked.
std::vector<HWND> ProcessWindows(DWORD ProcessId, const std::string& ClassName = "", bool VisibleOnly = true);
// The first of them, or nullptr.
HWND FindProcessWindow(DWORD ProcessId, const std::string& ClassName, bool VisibleOnly);
HWND WaitProcessWindow(DWORD ProcessId, const std::string& ClassName, DWORD Milliseconds);
std::string WindowText(HWND Window);
std::string WindowClass(HWND Window);

// A standard message box (dialog class "#32770") shown by the process, or nullptr.
HWND FindMessageBox(DWORD ProcessId);
HWND WaitMessageBox(DWORD ProcessId, DWORD Milliseconds);
// The box's message text (its static control that is not the icon).
std::string MessageBoxText(HWND Box);
// Presses the box's button with that command id (IDOK, IDYES, IDNO, ...) through window messages.
bool PressMessageBoxButton(HWND Box, int CommandId);

}  // namespace wintest
