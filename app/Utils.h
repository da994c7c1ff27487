#pragma once
// Folder helpers shared by the wizard, the installer engine and the uninstaller.
#include <windows.h>

#include <string>

#include "support/PathUtils.h"

// The folder of the running executable, ending in "\". Computed once at start-up.
extern const std::string& ProgramFolder;

std::string GetProgramFolder();
// Blanks and control characters trimmed at both ends, a final "\" ensured
// (a character of the active code page is never taken for one).
std::string NormalizeFolderPath(const std::string& Path);
// How the 8-bit texts of this process spell characters: UTF-8 where the system
// honours the manifest's code page, else the system's double-byte rules.
const TCharSet& AnsiCharSet();
// A journal line as this process reads paths: a line older builds wrote in the
// system's legacy code page becomes UTF-8 when this process speaks UTF-8.
std::string JournalLineToAnsi(const std::string& Line);
// Text converted from code page From to To; bytes that From cannot read become U+FFFD first.
std::string Recode(const std::string& Text, UINT From, UINT To);
// The system's own ANSI code page, whatever this process was given.
UINT LegacyCodePage();
// The running product's main window, or nullptr.
HWND FindRunningInstance();
// Full path of the running executable.
std::string GetProgramFileName();
// Text in the system code page and UTF-16, both ways.
std::wstring AnsiToWide(const std::string& Text);
std::string WideToAnsi(const std::wstring& Text);
