// The file digest: the one entry point of the MD5 unit that opens a file.
#include <windows.h>

#include "config/md5.h"
#include "support/FileStreams.h"
#include "support/UniqueResource.h"

TMD5Digest DigestFile(const std::string& FileName) {
    // Other readers are let in (a virus scanner looks at every file just written), writers
    // are not, so the file cannot change while it is read. A scanner that holds it
    // exclusively lets go within moments: it is waited for up to two seconds.
    for (int attempt = 0; attempt < 40; ++attempt) {
        TFileHandle probe(
            CreateFileA(FileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (probe || GetLastError() != ERROR_SHARING_VIOLATION) break;
        Sleep(50);
    }
    TWinFileStream file(FileName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    return DigestStream(file, 0, file.Size());
}
