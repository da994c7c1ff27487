#pragma once
// SHA-256 (FIPS 180-4): the digest a package manager checks a published setup program by.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TStream;

using TSha256Digest = std::array<uint8_t, 32>;

struct TSha256Context {
    uint32_t State[8];
    uint64_t Length = 0;  // bytes so far
    uint8_t Buffer[64];
};

void Sha256Init(TSha256Context& Context);
void Sha256Update(TSha256Context& Context, const void* Bytes, size_t Length);
TSha256Digest Sha256Final(TSha256Context& Context);
// The digest of the whole stream, read from its start.
TSha256Digest Sha256Stream(TStream& Stream);
// Upper-case 64-digit text form.
std::string Sha256ToText(const TSha256Digest& Digest);
