#pragma once
// Starting the product when setup ends. Setup runs elevated; the product should run
// with the rights the user's desktop has, so the desktop's shell starts it.
#include <string>

enum class TLaunchPath { None, DesktopShell, Direct };

// Starts Program through the desktop's shell process where one answers, else
// directly as setup itself, as before. Says which way it went.
TLaunchPath StartAsDesktopUser(const std::string& Program);

// The desktop's shell starting Program in Folder: false where no desktop shell
// answers. Tests replace it.
extern bool (*DesktopShellExecute)(const std::string& Program, const std::string& Folder);
bool DesktopShellExecuteThroughExplorer(const std::string& Program, const std::string& Folder);
