#include "support/Streams.h"

#include <algorithm>
#include <cstring>

#include "support/Exceptions.h"

int64_t TStream::Size() {
    int64_t pos = Position();
    int64_t end = Seek(0, TSeekOrigin::End);
    SetPosition(pos);
    return end;
}

void TStream::ReadBuffer(void* Buffer, size_t Count) {
    auto* out = static_cast<uint8_t*>(Buffer);
    size_t done = 0;
    while (done < Count) {
        size_t n = Read(out + done, Count - done);
        if (n == 0) throw EStreamError("Stream read error");
        done += n;
    }
}

void TStream::WriteBuffer(const void* Buffer, size_t Count) {
    const auto* in = static_cast<const uint8_t*>(Buffer);
    size_t done = 0;
    while (done < Count) {
        size_t n = Write(in + done, Count - done);
        if (n == 0) throw EStreamError("Stream write error");
        done += n;
    }
}

size_t TMemoryStream::Read(void* Buffer, size_t Count) {
    if (FPosition < 0 || FPosition >= static_cast<int64_t>(FData.size())) return 0;
    size_t available = FData.size() - static_cast<size_t>(FPosition);
    size_t n = std::min(Count, available);
    if (n) std::memcpy(Buffer, FData.data() + FPosition, n);
    FPosition += static_cast<int64_t>(n);
    return n;
}

size_t TMemoryStream::Write(const void* Buffer, size_t Count) {
    if (FPosition < 0) return 0;
    size_t end = static_cast<size_t>(FPosition) + Count;
    if (end > FData.size()) FData.resize(end);
    if (Count) std::memcpy(FData.data() + FPosition, Buffer, Count);
    FPosition = static_cast<int64_t>(end);
    return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int64_t base = 0;
    if (Origin == TSeekOrigin::Current) base = FPosition;
    if (Origin == TSeekOrigin::End) base = static_cast<int64_t>(FData.size());
    int64_t target = base + Offset;
    if (target < 0) throw EStreamError("Stream seek error");
    FPosition = target;
    return FPosition;
}

TStdFileStream::TStdFileStream(const std::string& FileName, TMode Mode) {
    const char* mode = Mode == TMode::Read ? "rb" : Mode == TMode::Create ? "w+b" : "r+b";
    FFile = std::fopen(FileName.c_str(), mode);
    if (!FFile) throw EStreamError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
}

TStdFileStream::~TStdFileStream() {
    if (FFile) std::fclose(FFile);
}

size_t TStdFileStream::Read(void* Buffer, size_t Count) { return std::fread(Buffer, 1, Count, FFile); }

size_t TStdFileStream::Write(const void* Buffer, size_t Count) { return std::fwrite(Buffer, 1, Count, FFile); }

int64_t TStdFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
    int whence = Origin == TSeekOrigin::Beginning ? SEEK_SET : Origin == TSeekOrigin::Current ? SEEK_CUR : SEEK_END;
#if defined(_WIN32)
    if (_fseeki64(FFile, Offset, whence) != 0) throw EStreamError("Stream seek error");
    return _ftelli64(FFile);
#else
    if (fseeko(FFile, Offset, whence) != 0) throw EStreamError("Stream seek error");
    return ftello(FFile);
#endif
}
