#pragma once
// Text helpers of the engines and the wizard that need no code page of the system. Portable.
#include <string>

// Tells whether a byte starts a double-byte character in the active code page.
using TLeadBytePredicate = bool (*)(unsigned char);

// How the active code page spells one character: a single byte, a lead byte and
// its trail byte (double-byte pages, told by a predicate), or a UTF-8 sequence.
// Walks must go forward: a trail byte may look like "\".
class TCharSet {
public:
    // Null: every byte is a character.
    TCharSet(TLeadBytePredicate IsLeadByte = nullptr) : FIsLeadByte(IsLeadByte) {}
    static TCharSet Utf8();
    bool IsUtf8() const { return FUtf8; }
    // Where the character that starts at Index ends. A lead byte without its trail
    // byte, or a broken UTF-8 sequence, is one character of one byte, so no ASCII
    // byte is ever swallowed by the one in front of it.
    size_t Next(const std::string& Text, size_t Index) const;

private:
    TLeadBytePredicate FIsLeadByte = nullptr;
    bool FUtf8 = false;
};

// Whether Text is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(const std::string& Text);

// Equal, ignoring the case of the ASCII letters A-Z only.
bool SameTextAscii(const std::string& A, const std::string& B);
bool SameTextAscii(const std::wstring& A, const std::wstring& B);
std::string LowerAscii(std::string Text);
// Without the blanks and control characters (codes up to 32) at both ends.
std::string TrimControl(const std::string& Text);

// LF line ends made CR LF, as edit controls and message boxes want them; a CR LF stays as it is.
std::string WithCrLf(const std::string& Text);
