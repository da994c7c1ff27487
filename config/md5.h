#pragma once
// MD5 message digest (RFC 1321) and the few entry points setup needs.
#include <array>
#include <cstdint>
#include <string>

#include "support/Streams.h"

using TMD5Digest = std::array<uint8_t, 16>;

struct TMD5Context {
    uint32_t State[4];
    uint32_t BitCount[2];  // low word first
    uint8_t Buffer[64];
};

void MD5Init(TMD5Context& Context);
void MD5Update(TMD5Context& Context, const void* Bytes, uint32_t Length);
TMD5Digest MD5Final(TMD5Context& Context);

// Digests Count bytes of Stream from StartPos; the position is restored on every path.
TMD5Digest DigestStream(TStream& Stream, int64_t StartPos, int64_t Count);
// Converts 32 hexadecimal digits; raises EConvertError "%s is not a valid MD5 value".
TMD5Digest ParseDigest(const std::string& Text);
bool SameDigest(const TMD5Digest& Digest1, const TMD5Digest& Digest2);
// Lower-case 32-digit text form.
std::string DigestToText(const TMD5Digest& Digest);

// Passes what is written on to Target and digests it on the way.
class TDigestingStream : public TStream {
public:
    explicit TDigestingStream(TStream& Target) : FTarget(Target) { MD5Init(FContext); }
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void* Buffer, size_t Count) override;
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override { return FTarget.Seek(Offset, Origin); }
    TStream& Target() { return FTarget; }
    // The digest of everything written so far.
    TMD5Digest Digest() { return MD5Final(FContext); }

private:
    TStream& FTarget;
    TMD5Context FContext;
};

// Opens a file read-only with exclusive access and digests all of it.
// Lives in the Win32 layer (DigestFile.cpp).
TMD5Digest DigestFile(const std::string& FileName);
