#pragma once
// Text between the code pages of this process and UTF-16: the one place that
// converts, so that every unit reads a path the same way.
#include <windows.h>

#include <string>

#include "support/TextUtils.h"

// How the 8-bit texts of this process spell characters: UTF-8 where the system
// honours the manifest's code page, else the system's double-byte rules.
const TCharSet& AnsiCharSet();
// A journal line as this process reads paths: a line older builds wrote in the
// system's legacy code page becomes UTF-8 when this process speaks UTF-8.
std::string JournalLineToAnsi(const std::string& Line);
// Text converted from code page From to To; bytes that From cannot read become U+FFFD first.
std::string Recode(const std::string& Text, UINT From, UINT To);
// The system's own ANSI code page, whatever this process was given.
UINT LegacyCodePage();
// Text in the system code page and UTF-16, both ways.
std::wstring AnsiToWide(const std::string& Text);
std::string WideToAnsi(const std::wstring& Text);
