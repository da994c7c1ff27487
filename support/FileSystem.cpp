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
    DWORD attributes = GetFileAttributesA(Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    // The tag tells a junction or symbolic link from a deduplicated file or a cloud
    // placeholder. Asked of the reparse point itself, which opening it does not follow
    // (nor recall a placeholder's data); none where the system gives none.
    DWORD tag = 0;
    TFileHandle file(CreateFileA(Path.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (file && GetFileInformationByHandleEx(file.Get(), FileAttributeTagInfo, &info, sizeof(info)) &&
        (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        tag = info.ReparseTag;
    return RedirectsElsewhere(attributes, tag);
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
