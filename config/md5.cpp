#include "config/md5.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "support/Exceptions.h"
#include "support/Streams.h"

namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// G is written with "+" in place of "|": its two terms share no bits, and the
// sum lets the compiler start adding before the second term is ready.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define MD5_STEP(f, a, b, c, d, x, t, s) \
    (a) += f((b), (c), (d)) + (x) + (t); \
    (a) = Rotl((a), (s)) + (b);
#define MD5_STEP_G(a, b, c, d, x, t, s)            \
    (a) += ((d) & (b)) + (x) + (t) + (~(d) & (c)); \
    (a) = Rotl((a), (s)) + (b);

inline uint32_t LoadLittle32(const uint8_t* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t v;
        std::memcpy(&v, p, 4);  // one load; the input need not be aligned
        return v;
    } else {
        return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    }
}

// Processes Count consecutive 64-byte blocks. The state stays in registers
// from block to block, and the decoded words are wiped once at the end: each
// block's words overwrite the previous block's.
void TransformBlocks(uint32_t state[4], const uint8_t* blocks, size_t Count) {
    uint32_t x[16];
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; Count > 0; --Count, blocks += 64) {
        for (int i = 0; i < 16; ++i) x[i] = LoadLittle32(blocks + i * 4);
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;
        MD5_STEP(MD5_F, a, b, c, d, x[0], 0xd76aa478, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[1], 0xe8c7b756, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[2], 0x242070db, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[3], 0xc1bdceee, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[4], 0xf57c0faf, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[5], 0x4787c62a, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[6], 0xa8304613, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[7], 0xfd469501, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[8], 0x698098d8, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[9], 0x8b44f7af, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[10], 0xffff5bb1, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[11], 0x895cd7be, 22)
        MD5_STEP(MD5_F, a, b, c, d, x[12], 0x6b901122, 7)
        MD5_STEP(MD5_F, d, a, b, c, x[13], 0xfd987193, 12)
        MD5_STEP(MD5_F, c, d, a, b, x[14], 0xa679438e, 17)
        MD5_STEP(MD5_F, b, c, d, a, x[15], 0x49b40821, 22)

        MD5_STEP_G(a, b, c, d, x[1], 0xf61e2562, 5)
        MD5_STEP_G(d, a, b, c, x[6], 0xc040b340, 9)
        MD5_STEP_G(c, d, a, b, x[11], 0x265e5a51, 14)
        MD5_STEP_G(b, c, d, a, x[0], 0xe9b6c7aa, 20)
        MD5_STEP_G(a, b, c, d, x[5], 0xd62f105d, 5)
        MD5_STEP_G(d, a, b, c, x[10], 0x02441453, 9)
        MD5_STEP_G(c, d, a, b, x[15], 0xd8a1e681, 14)
        MD5_STEP_G(b, c, d, a, x[4], 0xe7d3fbc8, 20)
        MD5_STEP_G(a, b, c, d, x[9], 0x21e1cde6, 5)
        MD5_STEP_G(d, a, b, c, x[14], 0xc33707d6, 9)
        MD5_STEP_G(c, d, a, b, x[3], 0xf4d50d87, 14)
        MD5_STEP_G(b, c, d, a, x[8], 0x455a14ed, 20)
        MD5_STEP_G(a, b, c, d, x[13], 0xa9e3e905, 5)
        MD5_STEP_G(d, a, b, c, x[2], 0xfcefa3f8, 9)
        MD5_STEP_G(c, d, a, b, x[7], 0x676f02d9, 14)
        MD5_STEP_G(b, c, d, a, x[12], 0x8d2a4c8a, 20)

        MD5_STEP(MD5_H, a, b, c, d, x[5], 0xfffa3942, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[8], 0x8771f681, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[11], 0x6d9d6122, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[14], 0xfde5380c, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[1], 0xa4beea44, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[4], 0x4bdecfa9, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[7], 0xf6bb4b60, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[10], 0xbebfbc70, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[13], 0x289b7ec6, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[0], 0xeaa127fa, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[3], 0xd4ef3085, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[6], 0x04881d05, 23)
        MD5_STEP(MD5_H, a, b, c, d, x[9], 0xd9d4d039, 4)
        MD5_STEP(MD5_H, d, a, b, c, x[12], 0xe6db99e5, 11)
        MD5_STEP(MD5_H, c, d, a, b, x[15], 0x1fa27cf8, 16)
        MD5_STEP(MD5_H, b, c, d, a, x[2], 0xc4ac5665, 23)

        MD5_STEP(MD5_I, a, b, c, d, x[0], 0xf4292244, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[7], 0x432aff97, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[14], 0xab9423a7, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[5], 0xfc93a039, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[12], 0x655b59c3, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[3], 0x8f0ccc92, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[10], 0xffeff47d, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[1], 0x85845dd1, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[8], 0x6fa87e4f, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[15], 0xfe2ce6e0, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[6], 0xa3014314, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[13], 0x4e0811a1, 21)
        MD5_STEP(MD5_I, a, b, c, d, x[4], 0xf7537e82, 6)
        MD5_STEP(MD5_I, d, a, b, c, x[11], 0xbd3af235, 10)
        MD5_STEP(MD5_I, c, d, a, b, x[2], 0x2ad7d2bb, 15)
        MD5_STEP(MD5_I, b, c, d, a, x[9], 0xeb86d391, 21)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    // The decoded words are message material: do not leave them on the stack.
    volatile uint32_t* wipe = x;
    for (int i = 0; i < 16; ++i) wipe[i] = 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

void MD5Init(TMD5Context& Context) {
    std::memset(&Context, 0, sizeof(Context));
    Context.State[0] = 0x67452301;
    Context.State[1] = 0xefcdab89;
    Context.State[2] = 0x98badcfe;
    Context.State[3] = 0x10325476;
}

void MD5Update(TMD5Context& Context, const void* Bytes, uint32_t Length) {
    const auto* input = static_cast<const uint8_t*>(Bytes);
    uint32_t index = (Context.BitCount[0] >> 3) & 0x3F;
    uint32_t low = Context.BitCount[0] + (Length << 3);
    if (low < Context.BitCount[0]) ++Context.BitCount[1];
    Context.BitCount[0] = low;
    Context.BitCount[1] += Length >> 29;

    uint32_t room = 64 - index;
    if (Length < room) {
        if (Length) std::memcpy(Context.Buffer + index, input, Length);
        return;
    }
    std::memcpy(Context.Buffer + index, input, room);
    TransformBlocks(Context.State, Context.Buffer, 1);
    uint32_t i = room;
    uint32_t whole = (Length - i) / 64;
    TransformBlocks(Context.State, input + i, whole);
    i += whole * 64;
    std::memcpy(Context.Buffer, input + i, Length - i);
}

TMD5Digest MD5Final(TMD5Context& Context) {
    uint8_t bits[8];
    for (int i = 0; i < 4; ++i) {
        bits[i] = uint8_t(Context.BitCount[0] >> (8 * i));
        bits[i + 4] = uint8_t(Context.BitCount[1] >> (8 * i));
    }
    static const uint8_t padding[64] = {0x80};
    uint32_t index = (Context.BitCount[0] >> 3) & 0x3F;
    uint32_t padLen = index < 56 ? 56 - index : 120 - index;
    MD5Update(Context, padding, padLen);
    MD5Update(Context, bits, 8);
    TMD5Digest digest;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest[i * 4 + j] = uint8_t(Context.State[i] >> (8 * j));
    std::memset(&Context, 0, sizeof(Context));
    return digest;
}

TMD5Digest DigestStream(TStream& Stream, int64_t StartPos, int64_t Count) {
    TMD5Context context;
    MD5Init(context);
    int64_t saved = Stream.Position();
    struct Restore {
        TStream& s;
        int64_t pos;
        ~Restore() {
            try {
                s.SetPosition(pos);
            } catch (...) {
            }
        }
    } restore{Stream, saved};
    Stream.SetPosition(StartPos);
    size_t bufferSize = static_cast<size_t>(std::min<int64_t>(65536, std::max<int64_t>(Count, 0)));
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize ? bufferSize : 1]);
    int64_t remaining = Count;
    while (remaining > 0) {
        size_t chunk = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(bufferSize), remaining));
        Stream.ReadBuffer(buffer.get(), chunk);
        MD5Update(context, buffer.get(), static_cast<uint32_t>(chunk));
        remaining -= static_cast<int64_t>(chunk);
    }
    return MD5Final(context);
}

TMD5Digest ParseDigest(const std::string& Text) {
    auto fail = [&]() { return EConvertError(Text + " is not a valid MD5 value"); };
    if (Text.size() != 32) throw fail();
    TMD5Digest digest;
    for (size_t i = 0; i < 16; ++i) {
        int hi = HexValue(Text[2 * i]);
        int lo = HexValue(Text[2 * i + 1]);
        if (hi < 0 || lo < 0) throw fail();
        digest[i] = uint8_t(hi << 4 | lo);
    }
    return digest;
}

bool SameDigest(const TMD5Digest& Digest1, const TMD5Digest& Digest2) { return Digest1 == Digest2; }

std::string DigestToText(const TMD5Digest& Digest) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : Digest) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

size_t TDigestingStream::Write(const void* Buffer, size_t Count) {
    size_t done = FTarget.Write(Buffer, std::min<size_t>(Count, 1u << 30));
    MD5Update(FContext, Buffer, static_cast<uint32_t>(done));
    return done;
}
