#include "config/XmlSafety.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.h"

namespace {

const char* const Plain =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<!-- distributors first -->\n"
    "<setup><fileDistributors><url>http://a/</url></fileDistributors></setup>";

}  // namespace

// "<!" inside comments, CDATA sections and processing instructions is text.
TEST(XmlSafety, OrdinaryDocumentsPass) {
    for (const char* text :
         {Plain, "", "<setup/>", "\xEF\xBB\xBF<setup>Zo\xC3\xAB</setup>", "<!-- <!DOCTYPE x> --><setup/>",
          "<setup><![CDATA[<!ENTITY a 'b'>]]></setup>", "<?note <!DOCTYPE ?><setup/>"})
        EXPECT_FALSE(MayHoldDocumentType(text)) << text;
    for (bool le : {true, false})
        for (bool bom : {true, false}) EXPECT_FALSE(MayHoldDocumentType(Utf16Bytes(Plain, le, bom))) << le << bom;
}

TEST(XmlSafety, DeclarationsAreFoundWhereverAParserWouldReadThem) {
    const std::string dtd = "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY a \"b\">]><setup>&a;</setup>";
    // Also after a comment or an instruction that holds the other kind's closing text.
    for (const std::string& text :
         {dtd, std::string("<!DOCTYPE setup SYSTEM \"file:///etc/passwd\"><setup/>"),
          std::string("<!doctype setup><setup/>"), std::string("<!-- ?> --><!DOCTYPE setup><setup/>"),
          std::string("<?pi --> ?><!DOCTYPE setup><setup/>"), std::string("<!-- a --><!-- b --><!ENTITY x 'y'>")})
        EXPECT_TRUE(MayHoldDocumentType(text)) << text;
    for (bool le : {true, false})
        for (bool bom : {true, false}) EXPECT_TRUE(MayHoldDocumentType(Utf16Bytes(dtd, le, bom))) << le << bom;
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
