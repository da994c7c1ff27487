#include "config/XmlSafety.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Utf16(const std::string& Ascii, bool LittleEndian, bool Bom) {
    std::string out;
    if (Bom) out = LittleEndian ? std::string("\xFF\xFE", 2) : std::string("\xFE\xFF", 2);
    for (char c : Ascii) {
        if (LittleEndian) {
            out += c;
            out += '\0';
        } else {
            out += '\0';
            out += c;
        }
    }
    return out;
}

const char* const Plain =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<!-- distributors first -->\n"
    "<setup><fileDistributors><url>http://a/</url></fileDistributors></setup>";

}  // namespace

TEST(XmlSafety, OrdinaryDocumentsPass) {
    EXPECT_FALSE(MayHoldDocumentType(Plain));
    EXPECT_FALSE(MayHoldDocumentType(""));
    EXPECT_FALSE(MayHoldDocumentType("<setup/>"));
    EXPECT_FALSE(MayHoldDocumentType("\xEF\xBB\xBF<setup>Zo\xC3\xAB</setup>"));
    // "<!" inside comments, CDATA sections and processing instructions is text.
    EXPECT_FALSE(MayHoldDocumentType("<!-- <!DOCTYPE x> --><setup/>"));
    EXPECT_FALSE(MayHoldDocumentType("<setup><![CDATA[<!ENTITY a 'b'>]]></setup>"));
    EXPECT_FALSE(MayHoldDocumentType("<?note <!DOCTYPE ?><setup/>"));
    for (bool le : {true, false})
        for (bool bom : {true, false}) EXPECT_FALSE(MayHoldDocumentType(Utf16(Plain, le, bom))) << le << bom;
}

TEST(XmlSafety, DeclarationsAreFoundWhereverAParserWouldReadThem) {
    const std::string dtd = "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY a \"b\">]><setup>&a;</setup>";
    EXPECT_TRUE(MayHoldDocumentType(dtd));
    EXPECT_TRUE(MayHoldDocumentType("<!DOCTYPE setup SYSTEM \"file:///etc/passwd\"><setup/>"));
    EXPECT_TRUE(MayHoldDocumentType("<!doctype setup><setup/>"));
    // After a comment or an instruction that holds the other kind's closing text.
    EXPECT_TRUE(MayHoldDocumentType("<!-- ?> --><!DOCTYPE setup><setup/>"));
    EXPECT_TRUE(MayHoldDocumentType("<?pi --> ?><!DOCTYPE setup><setup/>"));
    EXPECT_TRUE(MayHoldDocumentType("<!-- a --><!-- b --><!ENTITY x 'y'>"));
    for (bool le : {true, false})
        for (bool bom : {true, false}) EXPECT_TRUE(MayHoldDocumentType(Utf16(dtd, le, bom))) << le << bom;
}

TEST(XmlSafety, FormsTheCheckCannotReadAreRefused) {
    EXPECT_TRUE(MayHoldDocumentType(std::string("\x00\x00\x00<\x00\x00\x00?", 8)));     // UCS-4, big-endian
    EXPECT_TRUE(MayHoldDocumentType(std::string("<\x00\x00\x00?\x00\x00\x00", 8)));     // UCS-4, little-endian
    EXPECT_TRUE(MayHoldDocumentType(std::string("\xFF\xFE\x00\x00<\x00\x00\x00", 8)));  // UCS-4 with mark
    EXPECT_TRUE(MayHoldDocumentType(std::string("\x4C\x6F\xA7\x94\x93\x40", 6)));       // EBCDIC "<?xml "
}

TEST(XmlSafety, AnUnclosedConstructEndsTheScan) {
    // Not well-formed, so the parser refuses it; the scan must simply end.
    EXPECT_FALSE(MayHoldDocumentType("<setup><!-- never closed"));
    EXPECT_FALSE(MayHoldDocumentType("<?xml"));
    EXPECT_FALSE(MayHoldDocumentType("<"));
    EXPECT_TRUE(MayHoldDocumentType("<!"));
}
