#pragma once
// The text rules of version information: revision and version number.
#include <cstdint>
#include <string>

// "$Revision: 93$" gives "93": every "$" removed, the text after the first
// blank kept, then blanks and control characters trimmed.
std::string RevisionFromText(const std::string& Value);
// Major * 1000000 + Minor * 10000 + Revision; parts that are no integer count 0.
int32_t VersionNumberFrom(const std::string& ProductVersion, const std::string& Revision);
// A decimal integer, or Default when the text is not one.
int32_t StrToIntDef(const std::string& Text, int32_t Default);
