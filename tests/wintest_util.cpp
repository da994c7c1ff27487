#include "wintest_util.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
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

TRemoveAtEnd::~TRemoveAtEnd() {
    for (const std::string& path : FPaths) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str())) RemoveTree(path);
    }
}

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
    StartProgram("Z:\\bin\\ln", "-s \"" + UnixPath(Target) + "\" \"" + UnixPath(Link) + "\"").Detach();
    // A native program's handle is not one to wait on: the link is.
    auto linked = [&] {
        const DWORD attributes = GetFileAttributesA(Link.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    };
    if (!WaitUntil(linked, 10000)) throw std::runtime_error("cannot link " + Link + " to " + Target);
}

std::string RunUnixShell(const std::string& Command, DWORD Milliseconds) {
    TempFolder folder("unix");
    const std::string out = UnixPath(folder.Path() + "out"), end = folder.Path() + "end";
    StartProgram("Z:\\bin\\sh", "-c \"(" + Command + ") >'" + out + "' 2>&1; echo >'" + UnixPath(end) + "'\"").Detach();
    // A native program's handle is not one to wait on: the file it writes last is.
    if (!WaitUntil([&] { return FileExists(end); }, Milliseconds)) throw std::runtime_error("no end of " + Command);
    return ReadFileText(folder.Path() + "out");
}

// The log's "yyyy-mm-dd hh:nn:ss.zzz" for Time, with the user's time separator.
static std::string LogClock(const SYSTEMTIME& Time) {
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
    TRegKey key;
    if (RegOpenKeyExA(Root, Key.c_str(), 0, KEY_QUERY_VALUE | View, key.Out()) != ERROR_SUCCESS) return "(none)";
    char buffer[1024];
    DWORD size = sizeof(buffer);
    return RegGetValueA(key.Get(), nullptr, Value, RRF_RT_REG_SZ, nullptr, buffer, &size) == ERROR_SUCCESS ? buffer
                                                                                                           : "(none)";
}

std::string NumberText(HKEY Root, const std::string& Key, const char* Value) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(Root, Key, Value ? Value : "", &type, &data)) return "(none)";
    if (type != REG_DWORD || data.size() != sizeof(DWORD)) return "(not a number)";
    DWORD number;
    std::memcpy(&number, data.data(), sizeof(number));
    return std::to_string(number);
}

std::string SpecialFolder(int Id) {
    char path[MAX_PATH] = "";
    SHGetSpecialFolderPathA(nullptr, path, Id, FALSE);
    std::string folder = path;
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

std::string ReadShortcut(const std::string& File) {
    ComScope com;
    TComRef<IShellLinkA> link;
    TComRef<IPersistFile> persist;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.OutVoid())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, persist.OutVoid())))
        return "(no shell link object)";
    char path[MAX_PATH] = "", arguments[1024] = "", folder[MAX_PATH] = "";
    // Named in UTF-16: a path outside the system's code page arrives whole.
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, File.c_str(), -1, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_ACP, 0, File.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    if (FAILED(persist->Load(wide.c_str(), STGM_READ)) ||
        FAILED(link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH)) ||
        FAILED(link->GetArguments(arguments, sizeof(arguments))) || FAILED(link->GetWorkingDirectory(folder, MAX_PATH)))
        return "(unreadable)";
    return std::string(path) + "|" + arguments + "|" + folder;
}

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

bool KeyExists(HKEY Root, const std::string& Path, REGSAM View) {
    TRegKey key;
    return RegOpenKeyExA(Root, Path.c_str(), 0, KEY_READ | View, key.Out()) == ERROR_SUCCESS;
}

bool ReadValue(HKEY Root, const std::string& Key, const std::string& Name, DWORD* Type, std::vector<BYTE>* Data) {
    TRegKey key;
    if (RegOpenKeyExA(Root, Key.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) return false;
    DWORD size = 0, type = 0;
    LONG r = RegQueryValueExA(key.Get(), Name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (r == ERROR_SUCCESS && size) r = RegQueryValueExA(key.Get(), Name.c_str(), nullptr, &type, data.data(), &size);
    if (r != ERROR_SUCCESS) return false;
    data.resize(size);
    if (Type) *Type = type;
    if (Data) *Data = data;
    return true;
}

void SetValue(HKEY Root, const std::string& Key, const char* Name, const std::string& Data, DWORD Type) {
    ASSERT_EQ(RegSetKeyValueA(Root, Key.c_str(), Name, Type, Data.data(), static_cast<DWORD>(Data.size())),
              ERROR_SUCCESS)
        << Key << "|" << (Name ? Name : "");
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
    if (FExisted)
        RegSetKeyValueA(FRoot, FKey.c_str(), FName.c_str(), FType, FData.data(), static_cast<DWORD>(FData.size()));
    else
        RegDeleteKeyValueA(FRoot, FKey.c_str(), FName.c_str());
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

void MakeTree(const std::string& Folder, const std::vector<std::pair<std::string, std::string>>& Files) {
    CreateDirectoryA(Folder.c_str(), nullptr);
    for (const auto& [name, text] : Files) {
        for (size_t at = 0; (at = name.find('\\', at)) != std::string::npos; ++at)
            CreateDirectoryA((Folder + name.substr(0, at)).c_str(), nullptr);
        if (name.back() != '\\') WriteFileText(Folder + name, text);
    }
    EXPECT_TRUE(FolderExists(Folder)) << Folder;
}

void RemoveTree(const std::string& Path) {
    std::string base = Path;
    if (!base.empty() && base.back() != '\\') base += '\\';
    WIN32_FIND_DATAA data;
    TFindHandle find(FindFirstFileA((base + "*").c_str(), &data));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.Get(), &data)) {
        const std::string name = data.cFileName, full = base + name;
        if (name == "." || name == "..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(full);
        } else {
            SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(full.c_str());
        }
    }
    find.Reset();
    RemoveDirectoryA(base.c_str());
}

std::vector<std::string> SplitText(const std::string& Text, const std::string& Separator) {
    std::vector<std::string> parts;
    for (size_t from = 0, at; from < Text.size(); from = at + Separator.size()) {
        at = std::min(Text.find(Separator, from), Text.size());
        parts.push_back(Text.substr(from, at - from));
    }
    return parts;
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
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    return path;
}

std::string InstallExePath() { return EnvPath("ORVAND_INSTALL_EXE"); }

std::string FixturePath(const std::string& Name) {
    std::string folder = EnvPath("ORVAND_FIXTURES_DIR");
    return folder.empty() ? std::string() : folder + "\\" + Name;
}

std::string CopyFixture(const std::string& Name, const std::string& To) {
    if (!CopyFileA(FixturePath(Name).c_str(), To.c_str(), FALSE))
        throw std::runtime_error("cannot copy " + Name + ": error " + std::to_string(GetLastError()));
    return To;
}

HWND WaitProductWindow(DWORD Milliseconds) {
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowA("TMainOrvandForm", "Orvand")) != nullptr; }, Milliseconds, 50);
    return window;
}

DWORD TProcess::WaitExit(DWORD Milliseconds) const {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(Get(), Milliseconds) == WAIT_OBJECT_0) GetExitCodeProcess(Get(), &code);
    return code;
}

void TProcess::Terminate() {
    if (!FHandle || !Running()) return;
    TerminateProcess(Get(), 1);
    WaitForSingleObject(Get(), 5000);
}

TProcess StartProduct(const std::string& Switches) {
    TProcess p = StartProgram(FixturePath("orvand.exe"), Switches);
    EXPECT_TRUE(WaitUntil([&] { return FindProcessWindow(p.Id(), "TMainOrvandForm", false) != nullptr; }, 10000, 50))
        << "the product did not start";
    return p;
}

TProcess StartProgram(const std::string& Program, const std::string& Arguments) {
    std::string command = "\"" + Program + "\"" + (Arguments.empty() ? "" : " " + Arguments);
    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    auto start = [&] {
        return CreateProcessA(Program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    };
    BOOL started = start();
    // A file copied a moment ago can still be held by the copy's last step: one more try.
    if (!started && GetLastError() == ERROR_SHARING_VIOLATION) {
        Sleep(500);
        started = start();
    }
    if (!started) throw std::runtime_error("cannot start " + Program + ": error " + std::to_string(GetLastError()));
    TKernelHandle thread(pi.hThread);
    return TProcess(pi.hProcess, pi.dwProcessId);
}

DWORD WaitEnd(TProcess& Process, DWORD Milliseconds, int* Boxes, HWND Answered) {
    DWORD code = STILL_ACTIVE;
    HWND last = Answered;
    for (DWORD waited = 0; waited < Milliseconds && code == STILL_ACTIVE; waited += 50) {
        HWND box = FindMessageBox(Process.Id());
        if (box && box != last && Boxes) ++*Boxes;
        if (box) last = box;
        code = Process.WaitExit(50);
    }
    Process.Terminate();
    return code;
}

void ExpectQuietExit(TProcess& Process, DWORD Milliseconds, HWND Answered) {
    int boxes = 0;
    EXPECT_EQ(WaitEnd(Process, Milliseconds, &boxes, Answered), 0u);
    EXPECT_EQ(boxes, 0) << "a message box showed on the way out";
}

// The command id of the box's default button.
static int DefaultButton(HWND Box) {
    LRESULT r = SendMessageA(Box, DM_GETDEFID, 0, 0);
    // Wine's boxes answer IDOK even when they have no such button; the button
    // drawn as the default then tells.
    if (HIWORD(r) == DC_HASDEFID && GetDlgItem(Box, LOWORD(r))) return LOWORD(r);
    for (HWND child = nullptr; (child = FindWindowExA(Box, child, "Button", nullptr));)
        if (IsWindowVisible(child) && (GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return GetDlgCtrlID(child);
    return 0;
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

void RunUninstaller(const std::string& Exe, const std::string& Argument, int Answer) {
    TProcess p = StartProgram(Exe, Argument);
    HWND box = WaitConfirmation(p.Id());
    EXPECT_NE(box, nullptr) << "no confirmation box";
    if (box) {
        EXPECT_TRUE(PressMessageBoxButton(box, Answer));
    }
    ExpectQuietExit(p, 20000, box);
}

namespace {

struct TWindowSearch {
    DWORD ProcessId;
    const std::string& ClassName;
    bool VisibleOnly;
    std::vector<HWND> Found;
};

BOOL CALLBACK AddProcessWindow(HWND Window, LPARAM Param) {
    auto& search = *reinterpret_cast<TWindowSearch*>(Param);
    DWORD owner = 0;
    GetWindowThreadProcessId(Window, &owner);
    if (owner == search.ProcessId && (!search.VisibleOnly || IsWindowVisible(Window)) &&
        (search.ClassName.empty() || WindowClass(Window) == search.ClassName))
        search.Found.push_back(Window);
    return TRUE;
}

}  // namespace

std::vector<HWND> ProcessWindows(DWORD ProcessId, const std::string& ClassName, bool VisibleOnly) {
    TWindowSearch search{ProcessId, ClassName, VisibleOnly, {}};
    EnumWindows(AddProcessWindow, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

HWND FindProcessWindow(DWORD ProcessId, const std::string& ClassName, bool VisibleOnly) {
    std::vector<HWND> windows = ProcessWindows(ProcessId, ClassName, VisibleOnly);
    return windows.empty() ? nullptr : windows.front();
}

HWND WaitProcessWindow(DWORD ProcessId, const std::string& ClassName, DWORD Milliseconds) {
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindProcessWindow(ProcessId, ClassName, true)) != nullptr; }, Milliseconds, 50);
    return window;
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

std::string MessageBoxText(HWND Box) {
    for (HWND child = nullptr; (child = FindWindowExA(Box, child, "Static", nullptr));)
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON && !WindowText(child).empty())
            return WindowText(child);
    return "";
}

bool PressMessageBoxButton(HWND Box, int CommandId) {
    HWND button = GetDlgItem(Box, CommandId);
    if (!button) return false;
    return PostMessageA(Box, WM_COMMAND, MAKEWPARAM(CommandId, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != FALSE;
}

}  // namespace wintest
