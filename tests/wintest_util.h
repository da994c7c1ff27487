#pragma once
// Helpers for tests that run under Wine on real files, folders and windows.
#include <windows.h>

#include <string>
#include <vector>

namespace wintest {

// A fresh, empty folder under the system temp folder, ending in "\"; removed again at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& Prefix = "orvand");
    ~TempFolder();
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
};

std::string ReadFileText(const std::string& FileName);
void WriteFileText(const std::string& FileName, const std::string& Text);
bool FileExists(const std::string& FileName);
bool FolderExists(const std::string& Path);
void RemoveTree(const std::string& Path);
std::vector<std::string> SplitCrLf(const std::string& Text);
// Folder of the running test program, ending in "\".
std::string TestProgramFolder();
std::string Env(const char* Name);
// A path passed in by the build (a Unix path under Wine), as a Windows path.
std::string EnvPath(const char* Name);
// The built install.exe, from ORVAND_INSTALL_EXE.
std::string InstallExePath();

// Starts a program and returns its process (and thread closed); CmdLine is the full command line.
PROCESS_INFORMATION StartProgram(const std::string& Program, const std::string& Arguments);
// Waits for the process to end; returns its exit code or STILL_ACTIVE on time-out.
DWORD WaitExit(PROCESS_INFORMATION& Process, DWORD Milliseconds);
// A visible top-level window of the process with that class (or any class when empty), or nullptr.
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
// The command id of the box's default button.
int DefaultButton(HWND Box);

}  // namespace wintest
