#include "support/FileStreams.h"

#include "support/Exceptions.h"
#include "support/FileSystem.h"
#include "support/PathUtils.h"
#include "support/SystemLibrary.h"

std::string SysErrorMessage(DWORD Code) {
    TLocalMemory<char> text;
    DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, Code, 0, reinterpret_cast<char*>(text.Out()), 0, nullptr);
    std::string message =
        n && text ? std::string(text.Get(), n) : Format("System error, code %lu", (unsigned long)Code);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

bool SetDeleteOnClose(HANDLE File, bool Delete) {
    // Looked up rather than imported, so that older Windows still start.
    using TSetInformation = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, void*, DWORD);
    static const auto setInformation =
        LibraryFunction<TSetInformation>(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle");
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = Delete;
    return setInformation && setInformation(File, FileDispositionInfo, &info, sizeof(info)) != FALSE;
}

TWinFileStream::TWinFileStream(const std::string& FileName, DWORD Access, DWORD ShareMode, DWORD Disposition,
                               DWORD Flags)
    : FFileName(FileName) {
    FHandle.Reset(CreateFileA(FileName.c_str(), Access, ShareMode, nullptr, Disposition, Flags, nullptr));
    if (!FHandle) {
        DWORD error = GetLastError();
        const char* verb = Disposition == CREATE_ALWAYS || Disposition == CREATE_NEW ? "create" : "open";
        throw EStreamError(Format("Cannot %s file \"%s\". %s", verb, FileName.c_str(), SysErrorMessage(error).c_str()));
    }
}

TWinFileStream::~TWinFileStream() = default;

size_t TWinFileStream::Read(void* Buffer, size_t Count) {
    DWORD done = 0;
    if (!ReadFile(FHandle.Get(), Buffer, static_cast<DWORD>(Count), &done, nullptr))
        throw EStreamError(
            Format("Cannot read file \"%s\". %s", FFileName.c_str(), SysErrorMessage(GetLastError()).c_str()));
    return done;
}

size_t TWinFileStream::Write(const void* Buffer, size_t Count) {
    DWORD done = 0;
    // The system's reason (a full disk, a lost network drive) is what the user needs to read.
    if (!WriteFile(FHandle.Get(), Buffer, static_cast<DWORD>(Count), &done, nullptr))
        throw EStreamError(
            Format("Cannot write file \"%s\". %s", FFileName.c_str(), SysErrorMessage(GetLastError()).c_str()));
    return done;
}

int64_t TWinFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    LARGE_INTEGER distance, result;
    distance.QuadPart = Offset;
    DWORD method = Origin == TSeekOrigin::Beginning ? FILE_BEGIN
                   : Origin == TSeekOrigin::Current ? FILE_CURRENT
                                                    : FILE_END;
    if (!SetFilePointerEx(FHandle.Get(), distance, &result, method)) throw EStreamError("Stream seek error");
    return result.QuadPart;
}

std::unique_ptr<TWinFileStream> OpenForAppending(const std::string& FileName, const std::string& What) {
    // An elevated setup would write wherever someone pointed the link.
    const std::string refused =
        Format("\"%s\" is a link; setup does not write %s through it.", FileName.c_str(), What.c_str());
    if (IsLinkAt(FileName)) throw EStreamError(refused);
    auto stream =
        std::make_unique<TWinFileStream>(FileName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(stream->Handle(), FileAttributeTagInfo, &tag, sizeof(tag)) &&
        RedirectsElsewhere(tag.FileAttributes, tag.ReparseTag))
        throw EStreamError(refused);
    stream->Seek(0, TSeekOrigin::End);
    return stream;
}

TPendingFile::TPendingFile(const std::string& FileName, DWORD ShareMode) {
    FStream.emplace(FileName, GENERIC_WRITE | DELETE, ShareMode, CREATE_ALWAYS);
    FMarked = SetDeleteOnClose(FStream->Handle(), true);
}

TPendingFile::~TPendingFile() {
    if (FKept) return;
    // A file system without the mark: removed by name once it is closed.
    bool byName = !SetDeleteOnClose(FStream->Handle(), true);
    const std::string name = FStream->FileName();
    FStream.reset();
    if (byName) DeleteFileA(name.c_str());
}

bool TPendingFile::Complete() { return !FMarked || SetDeleteOnClose(FStream->Handle(), false); }
