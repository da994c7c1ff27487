#include "support/TextUtils.h"

#include <type_traits>

namespace {

bool IsContinuation(unsigned char Byte) { return (Byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at Index, or 0.
size_t Utf8SequenceLength(const std::string& Text, size_t Index) {
    const unsigned char lead = Text[Index];
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else
        return 0;
    if (Text.size() - Index < length) return 0;
    const unsigned char second = Text[Index + 1];
    if (second < low || second > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if (!IsContinuation(static_cast<unsigned char>(Text[Index + k]))) return 0;
    return length;
}

}  // namespace

TCharSet TCharSet::Utf8() {
    TCharSet chars;
    chars.FUtf8 = true;
    return chars;
}

size_t TCharSet::Next(const std::string& Text, size_t Index) const {
    if (FUtf8) {
        size_t length = Utf8SequenceLength(Text, Index);
        return Index + (length ? length : 1);
    }
    bool lead = FIsLeadByte && FIsLeadByte(static_cast<unsigned char>(Text[Index]));
    return Index + ((lead && Index + 1 < Text.size()) ? 2 : 1);
}

bool IsValidUtf8(const std::string& Text) {
    for (size_t i = 0; i < Text.size();) {
        size_t length = Utf8SequenceLength(Text, i);
        if (!length) return false;
        i += length;
    }
    return true;
}

namespace {

template <class TText>
bool SameTextAsciiOf(const TText& A, const TText& B) {
    if (A.size() != B.size()) return false;
    auto lower = [](auto c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (size_t i = 0; i < A.size(); ++i) {
        // Unsigned, so that a byte above 127 never meets a letter.
        using TUnit = std::make_unsigned_t<typename TText::value_type>;
        if (lower(static_cast<TUnit>(A[i])) != lower(static_cast<TUnit>(B[i]))) return false;
    }
    return true;
}

}  // namespace

bool SameTextAscii(const std::string& A, const std::string& B) { return SameTextAsciiOf(A, B); }
bool SameTextAscii(const std::wstring& A, const std::wstring& B) { return SameTextAsciiOf(A, B); }

std::string TrimControl(const std::string& Text) {
    size_t begin = 0, end = Text.size();
    while (begin < end && static_cast<unsigned char>(Text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(Text[end - 1]) <= 32) --end;
    return Text.substr(begin, end - begin);
}

std::string LowerAscii(std::string Text) {
    for (char& c : Text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return Text;
}

std::string WithCrLf(const std::string& Text) {
    std::string result;
    for (size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\n' && (i == 0 || Text[i - 1] != '\r')) result += '\r';
        result += Text[i];
    }
    return result;
}
