#include "support/CodePages.h"

namespace {

bool IsAnsiLeadByte(unsigned char Byte) { return IsDBCSLeadByte(Byte) != FALSE; }

}  // namespace

const TCharSet& AnsiCharSet() {
    static const TCharSet chars = GetACP() == CP_UTF8 ? TCharSet::Utf8() : TCharSet(IsAnsiLeadByte);
    return chars;
}

UINT LegacyCodePage() {
    UINT codePage = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&codePage), sizeof(codePage) / sizeof(WCHAR)) == 0 ||
        codePage == 0)
        return CP_ACP;
    return codePage;
}

std::string Recode(const std::string& Text, UINT From, UINT To) {
    if (Text.empty()) return Text;
    int n = MultiByteToWideChar(From, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    if (n <= 0) return Text;
    std::wstring wide(n, L'\0');
    MultiByteToWideChar(From, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), n);
    int m = WideCharToMultiByte(To, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    if (m <= 0) return Text;
    std::string out(m, '\0');
    WideCharToMultiByte(To, 0, wide.data(), n, out.data(), m, nullptr, nullptr);
    return out;
}

std::string JournalLineToAnsi(const std::string& Line) {
    if (!AnsiCharSet().IsUtf8() || IsValidUtf8(Line)) return Line;
    const UINT legacy = LegacyCodePage();
    return legacy == CP_UTF8 || legacy == CP_ACP ? Line : Recode(Line, legacy, CP_UTF8);
}

std::wstring AnsiToWide(const std::string& Text) {
    if (Text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
    std::wstring wide(n > 0 ? n : 0, L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), wide.data(), n);
    return wide;
}

std::string WideToAnsi(const std::wstring& Text) {
    if (Text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(n > 0 ? n : 0, '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, Text.data(), static_cast<int>(Text.size()), narrow.data(), n, nullptr, nullptr);
    return narrow;
}
