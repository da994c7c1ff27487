#pragma once
// Folder helpers shared by the wizard, the installer engine and the uninstaller.
#include <windows.h>

#include <string>

#include "support/CodePages.h"
#include "support/FileSystem.h"
#include "support/PathUtils.h"

// The folder of the running executable, ending in "\". Computed once at start-up.
extern const std::string& ProgramFolder;

std::string GetProgramFolder();
// Blanks and control characters trimmed at both ends, a final "\" ensured
// (a character of the active code page is never taken for one).
std::string NormalizeFolderPath(const std::string& Path);
// The running product's main window, or nullptr.
HWND FindRunningInstance();
