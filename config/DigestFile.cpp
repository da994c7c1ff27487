// The file digest: the one entry point of the MD5 unit that opens a file.
#include <windows.h>

#include "config/md5.h"
#include "support/FileStreams.h"

TMD5Digest DigestFile(const std::string& FileName) {
    // Exclusive, so that nobody changes the file while it is read.
    TWinFileStream file(FileName, GENERIC_READ, 0, OPEN_EXISTING);
    return DigestStream(file, 0, file.Size());
}
