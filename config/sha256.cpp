#include "config/sha256.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/Streams.h"

namespace {

const uint32_t K[64] = {0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
                        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
                        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
                        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
                        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
                        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
                        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
                        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Transform(uint32_t State[8], const uint8_t* Block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(Block[4 * i]) << 24 | uint32_t(Block[4 * i + 1]) << 16 | uint32_t(Block[4 * i + 2]) << 8 |
               uint32_t(Block[4 * i + 3]);
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = State[0], b = State[1], c = State[2], d = State[3], e = State[4], f = State[5], g = State[6],
             h = State[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    State[0] += a;
    State[1] += b;
    State[2] += c;
    State[3] += d;
    State[4] += e;
    State[5] += f;
    State[6] += g;
    State[7] += h;
}

}  // namespace

void Sha256Init(TSha256Context& Context) {
    const uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(Context.State, initial, sizeof(initial));
    Context.Length = 0;
}

void Sha256Update(TSha256Context& Context, const void* Bytes, size_t Length) {
    const auto* p = static_cast<const uint8_t*>(Bytes);
    size_t used = static_cast<size_t>(Context.Length % 64);
    Context.Length += Length;
    if (used) {
        size_t take = std::min(Length, 64 - used);
        std::memcpy(Context.Buffer + used, p, take);
        p += take;
        Length -= take;
        if (used + take < 64) return;
        Transform(Context.State, Context.Buffer);
    }
    for (; Length >= 64; p += 64, Length -= 64) Transform(Context.State, p);
    if (Length) std::memcpy(Context.Buffer, p, Length);
}

TSha256Digest Sha256Final(TSha256Context& Context) {
    const uint64_t bits = Context.Length * 8;
    uint8_t pad[72] = {0x80};
    size_t used = static_cast<size_t>(Context.Length % 64);
    size_t padding = (used < 56 ? 56 : 120) - used;
    for (int i = 0; i < 8; ++i) pad[padding + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Sha256Update(Context, pad, padding + 8);
    TSha256Digest digest;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<uint8_t>(Context.State[i] >> (24 - 8 * j));
    return digest;
}

TSha256Digest Sha256Stream(TStream& Stream) {
    TSha256Context context;
    Sha256Init(context);
    std::vector<uint8_t> buffer(65536);
    Stream.SetPosition(0);
    while (size_t got = Stream.Read(buffer.data(), buffer.size())) Sha256Update(context, buffer.data(), got);
    return Sha256Final(context);
}

std::string Sha256ToText(const TSha256Digest& Digest) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : Digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}
