#pragma once
// A check of raw XML bytes made before any parser sees them. Portable.
#include <string_view>

// True when the document holds markup declarations ("<!DOCTYPE", "<!ENTITY"
// and the like: any "<!" that starts neither a comment nor a CDATA section,
// outside comments, CDATA sections and processing instructions), or when it
// is in a form this check cannot read (UCS-4, EBCDIC). Such a document could
// make a parser read local files or expand entities without bound, so setup
// refuses it. UTF-16 with or without a byte order mark is read as such,
// everything else as an ASCII-compatible encoding.
bool MayHoldDocumentType(std::string_view Document);
