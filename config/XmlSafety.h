#pragma once
// A check of raw XML bytes made before any parser sees them. Portable.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// True when the document holds markup declarations ("<!DOCTYPE", "<!ENTITY"
// and the like: any "<!" that starts neither a comment nor a CDATA section,
// outside comments, CDATA sections and processing instructions), or when it
// is in a form this check cannot read (UCS-4, EBCDIC). Such a document could
// make a parser read local files or expand entities without bound, so setup
// refuses it. UTF-16 with or without a byte order mark is read as such,
// everything else as an ASCII-compatible encoding.
bool MayHoldDocumentType(std::string_view Document);

// The name and MD5 attributes of each <file> element inside <filesMD5List>, as
// written (ASCII-compatible or UTF-16 documents; comments, CDATA sections and
// processing instructions are passed over). The packer reads the digests of a
// package's setup.xml with it; setup itself reads the document with the system's parser.
std::vector<std::pair<std::string, std::string>> ListedDigests(std::string_view Document);
