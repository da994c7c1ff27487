#include "Components/TargetLinks.h"

#include <windows.h>

#include "Components/SetupStructs.h"
#include "support/CodePages.h"
#include "support/Exceptions.h"
#include "support/FileSystem.h"
#include "support/PathUtils.h"

std::string LinkBelow(const std::string& Folder, const std::string& Path) {
    for (const std::string& step : PathsBelowFolder(Folder, Path, AnsiCharSet()))
        if (IsLinkAt(step)) return step;
    return std::string();
}

void RefuseLinksBelowTarget(const std::string& TargetFolder, const std::string& Path) {
    std::string link = LinkBelow(TargetFolder, Path);
    if (!link.empty())
        throw EInstallException(
            Format("\"%s\" is a link inside the target folder; setup does not write through it.", link.c_str()));
}

std::string PathRoot(const std::string& Path) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (Path.size() >= 3 && Path[1] == ':' && separator(Path[2])) return Path.substr(0, 3);
    if (Path.size() < 3 || !separator(Path[0]) || !separator(Path[1])) return std::string();
    // "\\server\share\": the root ends after the share's name.
    size_t share = Path.find_first_of("\\/", 2);
    size_t end = share == std::string::npos ? std::string::npos : Path.find_first_of("\\/", share + 1);
    return end == std::string::npos ? std::string() : Path.substr(0, end + 1);
}
