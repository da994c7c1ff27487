#include "wintest_util.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace wintest {

namespace {
std::atomic<int> Counter{0};
}

TempFolder::TempFolder(const std::string& Prefix) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[64];
    std::snprintf(name, sizeof(name), "%s-%lu-%lu-%d\\", Prefix.c_str(), GetCurrentProcessId(), GetTickCount(),
                  Counter++);
    FPath = std::string(temp) + name;
    RemoveTree(FPath);
    if (!CreateDirectoryA(FPath.c_str(), nullptr)) throw std::runtime_error("cannot create " + FPath);
}

TempFolder::~TempFolder() { RemoveTree(FPath); }

PrjFolder::PrjFolder(const std::string& Name) {
    FMadePrj = CreateDirectoryA("C:\\prj", nullptr) != FALSE;
    FPath = "C:\\PRJ\\" + Name + "-" + std::to_string(GetCurrentProcessId()) + "\\";
    RemoveTree(FPath);
    if (!CreateDirectoryA(FPath.c_str(), nullptr)) throw std::runtime_error("cannot create " + FPath);
}

PrjFolder::~PrjFolder() {
    RemoveTree(FPath);
    if (FMadePrj) RemoveDirectoryA("C:\\prj");
}

std::string UnixPath(const std::string& WindowsPath) {
    using TGetUnixName = char*(CDECL*)(const wchar_t*);
    auto get = reinterpret_cast<TGetUnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!get) throw std::runtime_error("not running under Wine");
    std::wstring wide(WindowsPath.begin(), WindowsPath.end());
    char* unix = get(wide.c_str());
    if (!unix) throw std::runtime_error("no Unix path for " + WindowsPath);
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

void MakeUnixLink(const std::string& Link, const std::string& Target) {
    std::string command = "ln -s \"" + UnixPath(Target) + "\" \"" + UnixPath(Link) + "\"";
    PROCESS_INFORMATION process = StartProgram("Z:\\bin\\ln", command.substr(3));
    CloseHandle(process.hProcess);
    // A native program's handle is not one to wait on: the link is.
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
        DWORD attributes = GetFileAttributesA(Link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    }
    throw std::runtime_error("cannot link " + Link + " to " + Target);
}

std::string RunUnixShell(const std::string& Command, DWORD Milliseconds) {
    TempFolder folder("unix");
    const std::string out = UnixPath(folder.Path() + "out"), end = folder.Path() + "end";
    PROCESS_INFORMATION process =
        StartProgram("Z:\\bin\\sh", "-c \"(" + Command + ") >'" + out + "' 2>&1; echo >'" + UnixPath(end) + "'\"");
    CloseHandle(process.hProcess);
    // A native program's handle is not one to wait on: the file it writes last is.
    for (DWORD start = GetTickCount(); GetTickCount() - start < Milliseconds; Sleep(20))
        if (FileExists(end)) return ReadFileText(folder.Path() + "out");
    throw std::runtime_error("no end of " + Command);
}

std::string LogClock(const SYSTEMTIME& Time) {
    char separator[8] = ":";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, sizeof(separator));
    char text[64];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u%s%02u%s%02u.%03u", Time.wYear, Time.wMonth, Time.wDay,
                  Time.wHour, separator, Time.wMinute, separator, Time.wSecond, Time.wMilliseconds);
    return text;
}

bool IsStampedLine(const std::string& Line, const SYSTEMTIME& Before, const SYSTEMTIME& After,
                   const std::string& Rest) {
    const std::string first = LogClock(Before), last = LogClock(After);
    if (Line.size() != first.size() + 2 + Rest.size()) return false;
    const std::string clock = Line.substr(1, first.size());
    if (Line != "[" + clock + "]" + Rest) return false;
    // Digits where the clock has digits and its very separators elsewhere: then text order is time order.
    for (size_t i = 0; i < clock.size(); ++i)
        if (isdigit(static_cast<unsigned char>(first[i])) ? !isdigit(static_cast<unsigned char>(clock[i]))
                                                          : clock[i] != first[i])
            return false;
    return first <= clock && clock <= last;
}

bool HasClockBetween(const std::string& Line, const SYSTEMTIME& Before, const SYSTEMTIME& After,
                     const std::string& Head, const std::string& Tail) {
    FILETIME from, to;
    SystemTimeToFileTime(&Before, &from);
    SystemTimeToFileTime(&After, &to);
    ULARGE_INTEGER t{{from.dwLowDateTime, from.dwHighDateTime}}, end{{to.dwLowDateTime, to.dwHighDateTime}};
    t.QuadPart -= t.QuadPart % 10000000;
    for (; t.QuadPart <= end.QuadPart; t.QuadPart += 10000000) {
        FILETIME f{t.LowPart, t.HighPart};
        SYSTEMTIME second;
        FileTimeToSystemTime(&f, &second);
        char date[128] = "", time[128] = "";
        GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &second, nullptr, date, sizeof(date));
        GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &second, nullptr, time, sizeof(time));
        if (Line == Head + date + " " + time + Tail) return true;
    }
    return false;
}

bool RunsUnderWow64() {
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

std::string ViewText(HKEY Root, const std::string& Key, const char* Value, REGSAM View) {
    HKEY key;
    if (RegOpenKeyExA(Root, Key.c_str(), 0, KEY_QUERY_VALUE | View, &key) != ERROR_SUCCESS) return "(none)";
    char buffer[1024];
    DWORD size = sizeof(buffer);
    LONG r = RegGetValueA(key, nullptr, Value, RRF_RT_REG_SZ, nullptr, buffer, &size);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? buffer : "(none)";
}

std::string SpecialFolder(int Id) {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, Id, FALSE);
    std::string folder = path;
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

ComScope::ComScope() { CoInitialize(nullptr); }
ComScope::~ComScope() { CoUninitialize(); }

void OnComThread(const std::function<void()>& Body) {
    std::thread([&] {
        ComScope com;
        Body();
    }).join();
}

EnvGuard::EnvGuard(const char* Name, const char* Value) : FName(Name) {
    FHad = GetEnvironmentVariableA(Name, nullptr, 0) > 0;
    FOld = Env(Name);
    Set(Value);
}

EnvGuard::~EnvGuard() { SetEnvironmentVariableA(FName.c_str(), FHad ? FOld.c_str() : nullptr); }

void EnvGuard::Set(const char* Value) { SetEnvironmentVariableA(FName.c_str(), Value); }

bool KeyExists(HKEY Root, const std::string& Path) {
    HKEY key;
    if (RegOpenKeyExA(Root, Path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool ReadValue(HKEY Root, const std::string& Key, const std::string& Name, DWORD* Type, std::vector<BYTE>* Data) {
    HKEY key;
    if (RegOpenKeyExA(Root, Key.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0, type = 0;
    LONG r = RegQueryValueExA(key, Name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (r == ERROR_SUCCESS && size) r = RegQueryValueExA(key, Name.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) return false;
    data.resize(size);
    if (Type) *Type = type;
    if (Data) *Data = data;
    return true;
}

KeyGuard::KeyGuard(HKEY Root, const std::string& Path) : FRoot(Root) {
    size_t end = 0;
    do {
        end = Path.find('\\', end + 1);
        std::string prefix = Path.substr(0, end);
        if (!KeyExists(Root, prefix)) {
            FMissing = prefix;
            break;
        }
    } while (end != std::string::npos);
}

KeyGuard::~KeyGuard() {
    if (FMissing.empty()) return;
    RegDeleteTreeA(FRoot, FMissing.c_str());
    RegDeleteKeyA(FRoot, FMissing.c_str());
}

ValueGuard::ValueGuard(HKEY Root, const std::string& Key, const std::string& Name)
    : FRoot(Root), FKey(Key), FName(Name) {
    FExisted = ReadValue(Root, Key, Name, &FType, &FData);
}

ValueGuard::~ValueGuard() {
    HKEY key;
    if (RegOpenKeyExA(FRoot, FKey.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (FExisted)
        RegSetValueExA(key, FName.c_str(), 0, FType, FData.data(), static_cast<DWORD>(FData.size()));
    else
        RegDeleteValueA(key, FName.c_str());
    RegCloseKey(key);
}

std::string ReadFileText(const std::string& FileName) {
    std::ifstream in(FileName, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFileText(const std::string& FileName, const std::string& Text) {
    std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
    out << Text;
}

void RemoveTree(const std::string& Path) {
    std::string base = Path;
    if (!base.empty() && base.back() != '\\') base += '\\';
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((base + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = base + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(full);
            } else {
                SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(full.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(base.c_str());
}

std::vector<std::string> SplitCrLf(const std::string& Text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = Text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < Text.size()) lines.push_back(Text.substr(start));
            return lines;
        }
        lines.push_back(Text.substr(start, end - start));
        start = end + 2;
    }
}

std::string TestProgramFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p = path;
    return p.substr(0, p.find_last_of('\\') + 1);
}

std::string Env(const char* Name) {
    char buffer[4096];
    DWORD n = GetEnvironmentVariableA(Name, buffer, sizeof(buffer));
    return n && n < sizeof(buffer) ? std::string(buffer, n) : std::string();
}

std::string EnvPath(const char* Name) {
    std::string path = Env(Name);
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
    return path;
}

std::string InstallExePath() { return EnvPath("ORVAND_INSTALL_EXE"); }

std::string FixturePath(const std::string& Name) {
    std::string folder = EnvPath("ORVAND_FIXTURES_DIR");
    return folder.empty() ? std::string() : folder + "\\" + Name;
}

HWND WaitProductWindow(DWORD Milliseconds) {
    DWORD start = GetTickCount();
    do {
        if (HWND w = FindWindowA("TMainOrvandForm", "Orvand")) return w;
        Sleep(50);
    } while (GetTickCount() - start < Milliseconds);
    return nullptr;
}

PROCESS_INFORMATION StartProgram(const std::string& Program, const std::string& Arguments) {
    std::string command = "\"" + Program + "\"" + (Arguments.empty() ? "" : " " + Arguments);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    BOOL started =
        CreateProcessA(Program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    // A file copied a moment ago can still be held by the copy's last step: one more try.
    if (!started && GetLastError() == ERROR_SHARING_VIOLATION) {
        Sleep(500);
        started =
            CreateProcessA(Program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    }
    if (!started) throw std::runtime_error("cannot start " + Program + ": error " + std::to_string(GetLastError()));
    CloseHandle(pi.hThread);
    pi.hThread = nullptr;
    return pi;
}

DWORD WaitExit(PROCESS_INFORMATION& Process, DWORD Milliseconds) {
    if (WaitForSingleObject(Process.hProcess, Milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(Process.hProcess, &code);
    return code;
}

DWORD WaitEnd(PROCESS_INFORMATION& Process, DWORD Milliseconds, int* Boxes, HWND Answered) {
    DWORD code = STILL_ACTIVE;
    HWND last = Answered;
    for (DWORD waited = 0; waited < Milliseconds && code == STILL_ACTIVE; waited += 50) {
        HWND box = FindMessageBox(Process.dwProcessId);
        if (box && box != last && Boxes) ++*Boxes;
        if (box) last = box;
        code = WaitExit(Process, 50);
    }
    if (code == STILL_ACTIVE) TerminateProcess(Process.hProcess, 1);
    CloseHandle(Process.hProcess);
    return code;
}

const char* const UninstallQuestion = "Are you sure you want to remove Orvand from your computer";

HWND WaitConfirmation(DWORD ProcessId) {
    HWND box = WaitMessageBox(ProcessId, 15000);
    if (!box) return nullptr;
    EXPECT_EQ(WindowText(box), "Confirm");
    EXPECT_EQ(MessageBoxText(box), UninstallQuestion);
    EXPECT_EQ(DefaultButton(box), IDYES);
    EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
    EXPECT_EQ(FindProcessWindow(ProcessId, "TFormUninstall", true), nullptr) << "the uninstall window showed";
    return box;
}

DWORD RunUninstaller(const std::string& Exe, const std::string& Argument, int Answer, int* LaterBoxes) {
    PROCESS_INFORMATION p = StartProgram(Exe, Argument);
    HWND box = WaitConfirmation(p.dwProcessId);
    EXPECT_NE(box, nullptr) << "no confirmation box";
    if (box) {
        EXPECT_TRUE(PressMessageBoxButton(box, Answer));
    }
    return WaitEnd(p, 20000, LaterBoxes, box);
}

namespace {
struct FindData {
    DWORD pid;
    const std::string* cls;
    bool visibleOnly;
    HWND found;
};
BOOL CALLBACK FindProc(HWND wnd, LPARAM lp) {
    auto* d = reinterpret_cast<FindData*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    if (pid != d->pid) return TRUE;
    if (d->visibleOnly && !IsWindowVisible(wnd)) return TRUE;
    if (!d->cls->empty()) {
        char cls[256];
        GetClassNameA(wnd, cls, sizeof(cls));
        if (*d->cls != cls) return TRUE;
    }
    d->found = wnd;
    return FALSE;
}
}  // namespace

HWND FindProcessWindow(DWORD ProcessId, const std::string& ClassName, bool VisibleOnly) {
    FindData d{ProcessId, &ClassName, VisibleOnly, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&d));
    return d.found;
}

HWND WaitProcessWindow(DWORD ProcessId, const std::string& ClassName, DWORD Milliseconds) {
    DWORD start = GetTickCount();
    do {
        if (HWND w = FindProcessWindow(ProcessId, ClassName, true)) return w;
        Sleep(50);
    } while (GetTickCount() - start < Milliseconds);
    return nullptr;
}

std::string WindowText(HWND Window) {
    char buffer[1024];
    int n = GetWindowTextA(Window, buffer, sizeof(buffer));
    return std::string(buffer, n > 0 ? n : 0);
}

std::string WindowClass(HWND Window) {
    char cls[256];
    int n = GetClassNameA(Window, cls, sizeof(cls));
    return std::string(cls, n > 0 ? n : 0);
}

HWND FindMessageBox(DWORD ProcessId) { return FindProcessWindow(ProcessId, "#32770", true); }

HWND WaitMessageBox(DWORD ProcessId, DWORD Milliseconds) {
    return WaitProcessWindow(ProcessId, "#32770", Milliseconds);
}

namespace {
BOOL CALLBACK FindTextProc(HWND child, LPARAM lp) {
    auto* text = reinterpret_cast<std::string*>(lp);
    if (WindowClass(child) != "Static") return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return TRUE;
    std::string t = WindowText(child);
    if (t.empty()) return TRUE;
    *text = t;
    return FALSE;
}
}  // namespace

std::string MessageBoxText(HWND Box) {
    std::string text;
    EnumChildWindows(Box, FindTextProc, reinterpret_cast<LPARAM>(&text));
    return text;
}

bool PressMessageBoxButton(HWND Box, int CommandId) {
    HWND button = GetDlgItem(Box, CommandId);
    if (!button) return false;
    return PostMessageA(Box, WM_COMMAND, MAKEWPARAM(CommandId, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != FALSE;
}

namespace {
BOOL CALLBACK FindDefaultProc(HWND child, LPARAM lp) {
    if (WindowClass(child) != "Button" || !IsWindowVisible(child)) return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) != BS_DEFPUSHBUTTON) return TRUE;
    *reinterpret_cast<int*>(lp) = GetDlgCtrlID(child);
    return FALSE;
}
}  // namespace

int DefaultButton(HWND Box) {
    LRESULT r = SendMessageA(Box, DM_GETDEFID, 0, 0);
    // Wine's boxes answer IDOK even when they have no such button; the button
    // drawn as the default then tells.
    if (HIWORD(r) == DC_HASDEFID && GetDlgItem(Box, LOWORD(r))) return LOWORD(r);
    int id = 0;
    EnumChildWindows(Box, FindDefaultProc, reinterpret_cast<LPARAM>(&id));
    return id;
}

}  // namespace wintest
