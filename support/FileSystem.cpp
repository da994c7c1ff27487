#include "support/FileSystem.h"

#include <windows.h>

#include "support/PathUtils.h"
#include "support/UniqueResource.h"

bool FileExists(const std::string& Path) {
    DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& Path) {
    DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLinkAt(const std::string& Path) {
    // The find data carry the reparse tag, which the attributes alone do not.
    WIN32_FIND_DATAA data;
    TFindHandle find(FindFirstFileA(Path.c_str(), &data));
    if (!find) return false;
    return RedirectsElsewhere(data.dwFileAttributes,
                              data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? data.dwReserved0 : 0);
}

std::string GetProgramFileName() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}
