// Installer engine: the Program Files folder, registry and environment reads,
// prerequisite detection, holding and running installers, closing the product, restart.
#include <objbase.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Components/InstallErrors.h"
#include "Components/SetupUtils.h"
#include "app/Utils.h"
#include "config/md5.h"
#include "support/CodePages.h"
#include "support/PathUtils.h"
#include "support/UniqueResource.h"

namespace {

const char* const NtCurrentVersion = "Software\\Microsoft\\Windows NT\\CurrentVersion";
const char* const CurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";

// The prerequisites' COM classes, written out by hand: no system header knows these products.
const wchar_t* const AgentRuntimeClass = L"{D45FD31B-5C6E-11D1-9EC1-00C04FD7081F}";  // registered by MSagent.exe
const wchar_t* const SpeechApiClass = L"{FF2C7A52-78F9-11CE-B762-00AA004CD65C}";     // registered by spchapi.exe
const wchar_t* const TruVoiceClass = L"{B8F2846E-CE36-11D0-AC83-00C04FD97575}";      // registered by tv_enua.exe
const wchar_t* const Tts3000Class = L"{1D87F5B2-05F1-11D2-AD7C-0000F8799342}";       // registered by lhttseng.exe

const UINT CloseRequest = WM_USER + 0x120;
const DWORD ClosePollInterval = 1000;
const DWORD CloseTimeout = 10000;

bool VariableDefined(const char* Name) { return GetEnvironmentVariableA(Name, nullptr, 0) > 0; }

bool ProgIdKnown(const wchar_t* ClassText) {
    CLSID cls;
    if (FAILED(CLSIDFromString(ClassText, &cls))) return false;
    TCoTaskMem<OLECHAR> progId;
    return SUCCEEDED(ProgIDFromCLSID(cls, progId.Out())) && progId;
}

bool ClassCreatable(const wchar_t* ClassText) {
    CLSID cls;
    if (FAILED(CLSIDFromString(ClassText, &cls))) return false;
    TComRef<IUnknown> object;
    HRESULT hr =
        CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown, object.OutVoid());
    return SUCCEEDED(hr) && object;
}

DWORD SystemPlatformId() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&info);
#pragma GCC diagnostic pop
    return info.dwPlatformId;
}

// This process's environment with TEMP and TMP set to Temp, as CreateProcess takes
// it: sorted by name, ignoring case, each entry ended by a zero, one more at the end.
std::wstring EnvironmentWithTemp(const std::string& Temp) {
    std::vector<std::wstring> entries;
    if (wchar_t* all = GetEnvironmentStringsW()) {
        for (const wchar_t* p = all; *p; p += wcslen(p) + 1)
            if (_wcsnicmp(p, L"TEMP=", 5) != 0 && _wcsnicmp(p, L"TMP=", 4) != 0) entries.emplace_back(p);
        FreeEnvironmentStringsW(all);
    }
    const std::wstring folder = AnsiToWide(Temp);
    entries.push_back(L"TEMP=" + folder);
    entries.push_back(L"TMP=" + folder);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
    std::wstring block;
    for (const std::wstring& entry : entries) block += entry + L'\0';
    return block + L'\0';
}

BOOL SystemOpenToken(DWORD Access, HANDLE* Token) { return OpenProcessToken(GetCurrentProcess(), Access, Token); }
BOOL SystemLookupPrivilege(const char* Name, LUID* Luid) { return LookupPrivilegeValueA(nullptr, Name, Luid); }
BOOL SystemAdjustPrivileges(HANDLE Token, TOKEN_PRIVILEGES* NewState) {
    return AdjustTokenPrivileges(Token, FALSE, NewState, 0, nullptr, nullptr);
}
DWORD SystemLastError() { return GetLastError(); }
BOOL SystemExitWindows(UINT Flags) { return ExitWindowsEx(Flags, 0); }
BOOL SystemCloseHandle(HANDLE Handle) { return CloseHandle(Handle); }

}  // namespace

TRebootCalls RebootCalls = {SystemPlatformId, SystemOpenToken,   SystemLookupPrivilege, SystemAdjustPrivileges,
                            SystemLastError,  SystemExitWindows, SystemCloseHandle};

std::string ReadRegistryString(HKEY RootKey, const std::string& SubKey, const std::string& ValueName) {
    TRegKey key;
    if (RegOpenKeyExA(RootKey, SubKey.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return std::string();
    std::string text;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), ValueName.c_str(), nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size) {
        std::vector<char> buffer(size + 1, '\0');
        if (RegQueryValueExA(key.Get(), ValueName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                             &size) == ERROR_SUCCESS) {
            buffer.resize(size < buffer.size() ? size : buffer.size() - 1);
            buffer.push_back('\0');
            text = buffer.data();  // up to the first zero byte, whatever the type
        }
    }
    return text;
}

std::string ExpandEnvironment(const std::string& Text) {
    DWORD size = ExpandEnvironmentStringsA(Text.c_str(), nullptr, 0);
    if (!size) return std::string();
    std::vector<char> buffer(size + 1, '\0');
    DWORD used = ExpandEnvironmentStringsA(Text.c_str(), buffer.data(), size);
    if (!used || used > size) return std::string();
    return buffer.data();
}

std::string GetProgramFilesFolder() {
    for (const char* key : {NtCurrentVersion, CurrentVersion})
        for (const char* value : {"ProgramFilesDir", "ProgramFilesPath"}) {
            std::string folder = ReadRegistryString(HKEY_LOCAL_MACHINE, key, value);
            if (!folder.empty()) return folder;
        }
    if (VariableDefined("ProgramFiles")) {
        std::string folder = ExpandEnvironment("%ProgramFiles%");
        if (!folder.empty()) return folder;
    }
    if (VariableDefined("SystemDrive")) {
        std::string folder = ExpandEnvironment("%SystemDrive%\\Program Files");
        if (!folder.empty()) return folder;
    }
    return "C:\\Program Files";
}

bool TInstaller::IsAgentRuntimeInstalled() { return ProgIdKnown(AgentRuntimeClass); }

bool TInstaller::IsSpeechApiInstalled() { return ProgIdKnown(SpeechApiClass); }

bool TInstaller::IsTruVoiceEngineInstalled() { return ClassCreatable(TruVoiceClass); }

bool TInstaller::IsTts3000EngineInstalled() { return ClassCreatable(Tts3000Class); }

void TInstaller::HoldInstaller(const std::string& ProgramPath) {
    std::unique_ptr<TWinFileStream> file;
    try {
        // Readers only, so that the process can still be started from it.
        file = std::make_unique<TWinFileStream>(ProgramPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    } catch (const EStreamError&) {
        // Unchecked, it must not run: someone else may hold it for writing.
        UI().ShowError("Counld not run " + ProgramPath, "Error");
        UI().Halt();
    }
    const std::string name = ProgramPath.substr(FileNameStart(ProgramPath, AnsiCharSet()));
    bool genuine = AsInstallError([&] {
        TMD5Digest actual = DigestStream(*file, 0, file->Size());
        // The package's copy is what was extracted there; a fetched one has its listed digest.
        if (const TFileData* entry = FindPackageEntry(name)) {
            TNullStream none;
            TDigestingStream packaged(none);
            Package().Decode(*entry, packaged);
            return SameDigest(actual, packaged.Digest());
        }
        // Any other runs on the packaged configuration's digest alone.
        std::string digest;
        return PackagedDigest(name, digest) && SameDigest(actual, ParseDigest(digest));
    });
    if (!genuine) {
        UI().ShowError("CRC Error.\r\nFile: " + name, "Error");
        UI().Halt();
    }
    FHeldInstallers[LowerAscii(ProgramPath)] = std::move(file);
}

void TInstaller::RunAndWait(const std::string& ProgramPath, const std::string& CommandLine) {
    TInstallerUI& ui = UI();
    HWND main = ui.MainWindow();
    if (main) ShowWindow(main, SW_HIDE);
    ui.ProcessMessages();

    // Held against writes and deletes until the process exists: what starts is what was checked.
    std::unique_ptr<TWinFileStream> program;
    auto held = FHeldInstallers.find(LowerAscii(ProgramPath));
    if (held != FHeldInstallers.end()) {
        program = std::move(held->second);
        FHeldInstallers.erase(held);
    } else {
        try {
            program = std::make_unique<TWinFileStream>(ProgramPath, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        } catch (const EStreamError&) {
        }
    }
    std::vector<char> command(CommandLine.begin(), CommandLine.end());
    command.push_back('\0');
    // An installer may look for its own files beside it.
    const std::string folder = ProgramPath.substr(0, FileNameStart(ProgramPath, AnsiCharSet()));
    // Old self-extracting installers unpack into TEMP: the target's, which only administrators can change.
    std::wstring environment;
    if (!FTargetFolder.empty()) {
        std::string temp = GetTempFolder();
        environment = EnvironmentWithTemp(temp.substr(0, temp.size() - 1));
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    bool started = program && CreateProcessA(ProgramPath.c_str(), command.data(), nullptr, nullptr, FALSE,
                                             environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT,
                                             environment.empty() ? nullptr : environment.data(),
                                             folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    program.reset();
    if (!started) {
        ui.ShowError("Counld not run " + ProgramPath, "Error");
        ui.Halt();
    }
    TKernelHandle running(process.hProcess), thread(process.hThread);
    WaitForInputIdle(running.Get(), INFINITE);
    while (WaitForSingleObject(running.Get(), 50) == WAIT_TIMEOUT) {
        ui.ProcessMessages();
        if (ui.Terminated()) {
            thread.Reset();
            running.Reset();
            ui.Halt();
        }
    }
    thread.Reset();
    running.Reset();

    if (main) ShowWindow(main, SW_SHOW);
    ui.ProcessMessages();
    if (ui.Terminated()) ui.Halt();
}

bool CloseRunningInstance() {
    HWND window = FindRunningInstance();
    if (!window) return true;
    for (;;) {
        PostMessageA(window, CloseRequest, 0, 0);
        DWORD posted = GetTickCount();
        HWND now;
        do {
            Sleep(ClosePollInterval);
            now = FindRunningInstance();
        } while (now == window && GetTickCount() - posted < CloseTimeout);
        if (!now) return true;
        if (now == window) return false;
        window = now;  // another copy: ask that one too
    }
}

void RebootComputer() {
    const TRebootCalls& sys = RebootCalls;
    if (sys.PlatformId() >= VER_PLATFORM_WIN32_NT) {
        HANDLE token = nullptr;
        if (!sys.OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            throw Exception("Could not reboot computer");
        TOKEN_PRIVILEGES privileges{};
        sys.LookupPrivilegeValue("SeShutdownPrivilege", &privileges.Privileges[0].Luid);
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        sys.AdjustTokenPrivileges(token, &privileges);
        DWORD error = sys.GetLastError();
        sys.CloseHandle(token);
        if (error != ERROR_SUCCESS) throw Exception("Could not reboot computer");
    }
    // Applications get the chance to save; only hung ones are closed by force.
    if (!sys.ExitWindowsEx(EWX_REBOOT | EWX_FORCEIFHUNG)) throw Exception("Could not reboot computer");
}
