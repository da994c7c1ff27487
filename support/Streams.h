#pragma once
// Byte streams: the portable interface the digest, the package reader and the
// packer work on. The Win32 layer adds a file stream with share modes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
public:
    virtual ~TStream() = default;
    // Reads up to Count bytes; returns how many were read (0 at the end).
    virtual size_t Read(void* Buffer, size_t Count) = 0;
    // Writes up to Count bytes; returns how many were written.
    virtual size_t Write(const void* Buffer, size_t Count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::Current); }
    void SetPosition(int64_t Pos) { Seek(Pos, TSeekOrigin::Beginning); }
    int64_t Size();
    // Like Read and Write, but a short transfer raises EStreamError.
    void ReadBuffer(void* Buffer, size_t Count);
    void WriteBuffer(const void* Buffer, size_t Count);
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : FData(std::move(bytes)) {}
    size_t Read(void* Buffer, size_t Count) override;
    size_t Write(const void* Buffer, size_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
    const std::vector<uint8_t>& Data() const { return FData; }
    std::vector<uint8_t>& Data() { return FData; }

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

// Takes whatever is written and keeps nothing: a sink for a digest or a count.
class TNullStream : public TStream {
public:
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void*, size_t Count) override {
        FSize += static_cast<int64_t>(Count);
        return Count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return FSize; }

private:
    int64_t FSize = 0;
};

// A file through the C library; used by the tools and the native tests.
class TStdFileStream : public TStream {
public:
    enum class TMode { Read, Create, ReadWrite };
    TStdFileStream(const std::string& FileName, TMode Mode);
    ~TStdFileStream() override;
    TStdFileStream(const TStdFileStream&) = delete;
    TStdFileStream& operator=(const TStdFileStream&) = delete;
    size_t Read(void* Buffer, size_t Count) override;
    size_t Write(const void* Buffer, size_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

private:
    std::FILE* FFile = nullptr;
};
