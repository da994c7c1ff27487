#pragma once
// A file stream on a Win32 handle, so that callers choose the share mode.
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "support/Streams.h"
#include "support/UniqueResource.h"

class TWinFileStream : public TStream {
public:
    // Raises EStreamError with the system's message when the file cannot be opened.
    TWinFileStream(const std::string& FileName, DWORD Access, DWORD ShareMode, DWORD Disposition,
                   DWORD Flags = FILE_ATTRIBUTE_NORMAL);
    ~TWinFileStream() override;
    TWinFileStream(const TWinFileStream&) = delete;
    TWinFileStream& operator=(const TWinFileStream&) = delete;

    size_t Read(void* Buffer, size_t Count) override;
    // Raises EStreamError with the system's message when the file refuses the bytes.
    size_t Write(const void* Buffer, size_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    HANDLE Handle() const { return FHandle.Get(); }
    const std::string& FileName() const { return FFileName; }

private:
    TFileHandle FHandle;
    std::string FFileName;
};

// FileName opened to append to: made when missing, readable and writable, shared
// with other readers and writers, at its end. A link at FileName is opened as
// itself, never where it leads, and refused with EStreamError: "\"FileName\" is a
// link; setup does not write What through it.".
std::unique_ptr<TWinFileStream> OpenForAppending(const std::string& FileName, const std::string& What);

// The system's text for an error code, without the trailing line end.
std::string SysErrorMessage(DWORD Code);

// Marks a file opened with DELETE access to be deleted when its last handle
// closes (also when the process dies), or clears the mark. False where the
// system lacks it (before Vista): the caller then deletes a failed file by name.
bool SetDeleteOnClose(HANDLE File, bool Delete);

// A file being written (created anew, with write and delete access) that goes
// with its handle until it is whole, also when the process dies half-way: a
// part file must never pass for a good one. Destroyed before Keep, it is
// removed: by its mark, or by name where the system has no mark.
class TPendingFile {
public:
    // Raises EStreamError as TWinFileStream does.
    TPendingFile(const std::string& FileName, DWORD ShareMode);
    ~TPendingFile();
    TPendingFile(const TPendingFile&) = delete;
    TPendingFile& operator=(const TPendingFile&) = delete;

    TWinFileStream& Stream() { return *FStream; }
    // The file is whole: its delete mark is cleared. False, with the system's
    // error in GetLastError, when the mark stays.
    bool Complete();
    // The file stays once closed; until then it is removed.
    void Keep() { FKept = true; }

private:
    std::optional<TWinFileStream> FStream;
    bool FMarked = false;
    bool FKept = false;
};
