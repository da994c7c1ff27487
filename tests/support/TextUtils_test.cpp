#include "support/TextUtils.h"

#include <gtest/gtest.h>

TEST(SameTextAscii, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(SameTextAscii("SETUP.XML", "setup.xml"));
    EXPECT_FALSE(SameTextAscii("setup.xm", "setup.xml"));
    EXPECT_FALSE(SameTextAscii("\xC4", "\xE4"));  // Latin-1 A/a umlaut differ
    EXPECT_FALSE(SameTextAscii("[", "{"));        // 0x5B and 0x7B are no letters
    EXPECT_EQ(LowerAscii("File.DB\xC4"), "file.db\xC4");
    // Read from XML, names are compared before any code page could merge two of them.
    EXPECT_TRUE(SameTextAscii(std::wstring(L"MSAGENT.EXE"), std::wstring(L"msagent.exe")));
    EXPECT_FALSE(SameTextAscii(std::wstring(L"\u00C4pfel"), std::wstring(L"\u00E4pfel")));
    EXPECT_FALSE(SameTextAscii(std::wstring(L"\u212A.exe"), std::wstring(L"k.exe")));  // Kelvin sign
    EXPECT_FALSE(SameTextAscii(std::wstring(L"\u0141ucja"), std::wstring(L"Lucja")));
}

TEST(Utf8Paths, OnlyWellFormedUtf8IsValid) {
    for (const char* good :
         {"", "C:\\Orvand\\", "\xC5\x81ucja", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF"})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    // A legacy journal's "Zoë" (1252), overlong forms, surrogates, past U+10FFFF, cut short.
    for (const char* bad : {"Zo\xEB", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                            "\xF5\x80\x80\x80", "\xC5", "\xE2\x82", "\x80", "\xC5\x81\xC5"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

// A lone CR is left alone, and a licence without line ends comes back unchanged.
TEST(WithCrLf, LoneLineFeedsGainACarriageReturnOthersStay) {
    for (const auto& [text, fixed] : {std::pair{"one\ntwo\n", "one\r\ntwo\r\n"},
                                      {"\nfirst", "\r\nfirst"},
                                      {"one\r\ntwo\n\n", "one\r\ntwo\r\n\r\n"},
                                      {"a\rb", "a\rb"},
                                      {"plain", "plain"},
                                      {"", ""}})
        EXPECT_EQ(WithCrLf(text), fixed) << text;
    EXPECT_EQ(WithCrLf(std::string("a\0\nb", 4)), std::string("a\0\r\nb", 5));
}
