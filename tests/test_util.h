#pragma once
// What the portable tests and the fuzz targets share: digests of test bytes and the
// double-byte rule of a code page with lead bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "config/md5.h"

inline TMD5Digest Md5Digest(std::string_view Bytes) {
    TMD5Context context;
    MD5Init(context);
    MD5Update(context, Bytes.data(), static_cast<uint32_t>(Bytes.size()));
    return MD5Final(context);
}

// The digest in lower-case hexadecimal, as a setup.xml lists it.
inline std::string Md5Text(std::string_view Bytes) { return DigestToText(Md5Digest(Bytes)); }

// Bytes that do not repeat much, so that compressing them gives a long stream.
inline std::string NoiseText(size_t Size, uint32_t Seed) {
    std::string bytes(Size, '\0');
    for (char& b : bytes) b = static_cast<char>((Seed = Seed * 1103515245u + 12345u) >> 16);
    return bytes;
}

// The bytes of ASCII text in UTF-16, little- or big-endian, with or without its byte order mark.
inline std::string Utf16Bytes(const std::string& Ascii, bool LittleEndian = true, bool Bom = true) {
    std::string out = Bom ? (LittleEndian ? "\xFF\xFE" : "\xFE\xFF") : "";
    for (char c : Ascii) out += LittleEndian ? std::string{c, '\0'} : std::string{'\0', c};
    return out;
}

// Code page 932 (Shift-JIS): 0x81-0x9F and 0xE0-0xFC lead a double-byte character.
inline bool ShiftJisLead(unsigned char Byte) {
    return (Byte >= 0x81 && Byte <= 0x9F) || (Byte >= 0xE0 && Byte <= 0xFC);
}
