#pragma once
// Folder helpers shared by the wizard, the installer engine and the uninstaller.
#include <windows.h>

#include <string>

// The folder of the running executable, ending in "\". Computed once at start-up.
extern const std::string& ProgramFolder;

std::string GetProgramFolder();
// Blanks and control characters trimmed at both ends, a final "\" ensured
// (a double-byte character of the active code page is never taken for one).
std::string NormalizeFolderPath(const std::string& Path);
// Whether Byte starts a double-byte character of the active code page.
bool IsAnsiLeadByte(unsigned char Byte);
// The running product's main window, or nullptr.
HWND FindRunningInstance();
// Full path of the running executable.
std::string GetProgramFileName();
// Text in the system code page and UTF-16, both ways.
std::wstring AnsiToWide(const std::string& Text);
std::string WideToAnsi(const std::wstring& Text);
