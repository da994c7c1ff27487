#pragma once
// Starting the product when setup ends. Setup runs elevated; the product should run
// with the rights the user's desktop has, so the desktop's shell starts it.
#include <string>

enum class TLaunchPath { None, DesktopShell };

// Starts Program through the desktop's shell process where one answers. Where
// none does (a replacement shell, Explorer restarting, Server Core) it is not
// started, for setup would start it with its own rights; the log says so.
TLaunchPath StartAsDesktopUser(const std::string& Program);

// The desktop's shell starting Program in Folder: false where no desktop shell
// answers. Tests replace it.
extern bool (*DesktopShellExecute)(const std::string& Program, const std::string& Folder);
bool DesktopShellExecuteThroughExplorer(const std::string& Program, const std::string& Folder);
