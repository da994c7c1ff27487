#include "config/setup_xml.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/Exceptions.h"
#include "install_fixture.h"
#include "wintest_http.h"

using namespace wintest;
using namespace ::testing;

namespace {

class SetupXml : public ::testing::Test {
protected:
    std::shared_ptr<IXMLSetupType> Load(const std::string& Text) {
        std::string file = Temp.Path() + "setup.xml";
        WriteFileText(file, Text);
        return LoadSetup(file);
    }
    // Text does not load; the failure's message is one that Matcher takes.
    template <class TMatcher = decltype(_)>
    void ExpectRefused(const std::string& Text, TMatcher Matcher = _) {
        EXPECT_THAT([&] { Load(Text); }, ThrowsMessage<Exception>(Matcher)) << Text;
    }

    ComScope Com;
    TempFolder Temp;
};

}  // namespace

TEST_F(SetupXml, ReadsThePackagedSampleInIso88591) {
    std::string sample = std::string("Z:") + ORVAND_SOURCE_DIR + "\\fixtures\\setup.xml";
    std::replace(sample.begin(), sample.end(), '/', '\\');
    auto setup = LoadSetup(sample);
    EXPECT_EQ(DistributorUrls(*setup->FileDistributors()),
              (std::vector<std::string>{"http://127.0.0.1:18080/orvand/", "http://127.0.0.1:18081/mirror/orvand/"}));
    auto characters = setup->AgentCharacters();
    ASSERT_EQ(characters->Count(), 9);
    EXPECT_EQ(characters->Character(0)->Name(), L"Vela");
    EXPECT_EQ(characters->Character(0)->FileName(), L"Vela.acs");
    // The file holds the single byte 0xEB for the e with diaeresis.
    EXPECT_EQ(characters->Character(2)->Name(), L"Zo\u00EB");
    EXPECT_EQ(characters->Character(2)->Description(), L"");
    auto files = setup->FilesMD5List();
    ASSERT_EQ(files->Count(), 4);
    EXPECT_EQ(files->File(3)->Name(), L"lhttseng.exe");
    EXPECT_EQ(files->File(0)->MD5(), L"00000000000000000000000000000001");
}

TEST_F(SetupXml, HonoursTheEncodingDeclaration) {
    // The same names in UTF-8 and in ISO-8859-1 read as the same Unicode text.
    auto utf8 = Load(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><setup><agentCharacters>"
        "<character name=\"Zo\xC3\xAB \xC3\x86r\xC3\xB8 \xE2\x82\xAC\" fileName=\"Zoe.acs\">"
        "<description>\xC3\xA9t\xC3\xA9</description></character></agentCharacters></setup>");
    EXPECT_EQ(utf8->AgentCharacters()->Character(0)->Name(), L"Zo\u00EB \u00C6r\u00F8 \u20AC");
    EXPECT_EQ(utf8->AgentCharacters()->Character(0)->Description(), L"\u00E9t\u00E9");
    auto latin1 = Load(
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><setup><agentCharacters>"
        "<character name=\"Zo\xEB \xC6r\xF8\" fileName=\"Zoe.acs\"/></agentCharacters></setup>");
    EXPECT_EQ(latin1->AgentCharacters()->Character(0)->Name(), L"Zo\u00EB \u00C6r\u00F8");
    // Without a declaration the text is UTF-8, and a Latin-1 byte is not well-formed.
    ExpectRefused("<setup><agentCharacters><character name=\"Zo\xEB\"/></agentCharacters></setup>");
}

TEST_F(SetupXml, ItemsAreTheChildElementsWithTheItemTagOnly) {
    auto setup = Load(
        "<?xml version=\"1.0\"?>\n<setup>\n"
        "  <filesMD5List>\n    <file name=\"MSAGENT.EXE\" MD5=\"11\"/>\n    <file name=\"msagent.exe\" MD5=\"22\"/>\n"
        "    <file name=\"nodigest.exe\"/>\n    <files name=\"x\"/>\n  </filesMD5List>\n"
        "  <fileDistributors>\n    <url>http://one/</url>\n    <!-- a comment -->\n    <URL>http://upper/</URL>\n"
        "    text between\n    <url>http://two/</url>\n    <mirror>http://three/</mirror>\n  </fileDistributors>\n"
        "  <agentCharacters><character/><character name=\"Pip\"><description>Small</description></character>"
        "</agentCharacters>\n</setup>");
    // The lists are found by name, in any order under setup.
    EXPECT_EQ(DistributorUrls(*setup->FileDistributors()), (std::vector<std::string>{"http://one/", "http://two/"}));
    EXPECT_EQ(setup->FilesMD5List()->Count(), 3);
    EXPECT_EQ(setup->FilesMD5List()->File(2)->MD5(), L"");
    auto characters = setup->AgentCharacters();
    ASSERT_EQ(characters->Count(), 2);
    EXPECT_EQ(characters->Character(0)->Name(), L"");
    EXPECT_EQ(characters->Character(0)->FileName(), L"");
    EXPECT_EQ(characters->Character(0)->Description(), L"");
    EXPECT_EQ(characters->Character(1)->Description(), L"Small");
    // The same objects come back on each access.
    EXPECT_EQ(characters->Character(1), characters->Character(1));
    EXPECT_EQ(setup->AgentCharacters(), characters);
    EXPECT_EQ(setup->ChildNode(L"agentCharacters").get(), static_cast<IXMLNode*>(characters.get()));

    // A document without the lists reads as empty lists.
    auto bare = Load("<setup/>");
    EXPECT_EQ(bare->FileDistributors()->Count(), 0);
    EXPECT_EQ(bare->AgentCharacters()->Count(), 0);
    EXPECT_EQ(bare->FilesMD5List()->FindFile(L"MSagent.exe"), nullptr);
}

TEST_F(SetupXml, FindFileIgnoresTheCaseOfAsciiLettersOnly) {
    auto files = Load(
                     "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><setup><filesMD5List>"
                     "<file name=\"MSAGENT.EXE\" MD5=\"first\"/><file name=\"MSagent.exe\" MD5=\"second\"/>"
                     "<file name=\"\xC4pfel.exe\" MD5=\"apple\"/><file name=\"spchapi.exe\" MD5=\"sapi\"/>"
                     "</filesMD5List></setup>")
                     ->FilesMD5List();
    ASSERT_NE(files->FindFile(L"MSagent.exe"), nullptr);
    EXPECT_EQ(files->FindFile(L"MSagent.exe")->MD5(), L"first");
    EXPECT_EQ(files->FindFile(L"msagent.exe")->MD5(), L"first");
    EXPECT_EQ(files->FindFile(L"SPCHAPI.EXE")->MD5(), L"sapi");
    EXPECT_EQ(files->FindFile(L"\u00C4PFEL.EXE")->MD5(), L"apple");
    // Letters outside A-Z are compared exactly; lengths must match.
    EXPECT_EQ(files->FindFile(L"\u00E4pfel.exe"), nullptr);
    EXPECT_EQ(files->FindFile(L"spchapi.ex"), nullptr);
    EXPECT_EQ(files->FindFile(L"spchapi.exe "), nullptr);
    EXPECT_EQ(files->FindFile(L""), nullptr);
    // "Ł" (not in code page 1252) has a best fit "L" there: the names stay apart.
    EXPECT_EQ(files->FindFile(L"\u0141SAGENT.EXE"), nullptr);
    EXPECT_EQ(files->FindFile(L"\uFF2DSagent.exe"), nullptr);  // fullwidth M
}

TEST_F(SetupXml, EditingKeepsTheListsAndTheTreeInStep) {
    auto setup = Load(
        "<setup><fileDistributors><url>http://a/</url><URL>upper</URL><url>http://b/</url></fileDistributors>"
        "<agentCharacters><character name=\"One\"/></agentCharacters></setup>");
    auto urls = setup->FileDistributors();
    urls->Insert(0, L"http://first/");
    urls->Add(L"http://last/");
    urls->Insert(2, L"http://middle/");
    EXPECT_EQ(DistributorUrls(*urls),
              (std::vector<std::string>{"http://first/", "http://a/", "http://middle/", "http://b/", "http://last/"}));
    // In the tree an inserted item goes right before the item it displaces.
    EXPECT_EQ(urls->Text(), L"http://first/http://a/upperhttp://middle/http://b/http://last/");
    EXPECT_EQ(urls->Node(2)->NodeName(), L"url");

    IXMLNodePtr b = urls->Node(3);
    EXPECT_EQ(urls->Remove(b), 3);
    EXPECT_EQ(urls->Remove(b), -1);
    EXPECT_EQ(urls->Remove(setup->ChildNode(L"agentCharacters")), -1);
    urls->Delete(0);
    EXPECT_EQ(DistributorUrls(*urls), (std::vector<std::string>{"http://a/", "http://middle/", "http://last/"}));
    urls->Clear();
    EXPECT_EQ(urls->Count(), 0);
    EXPECT_EQ(urls->Text(), L"upper");

    EXPECT_THROW(urls->Url(0), EListError);
    EXPECT_THROW(urls->Delete(0), EListError);
    EXPECT_THROW(urls->Insert(1, L"x"), EListError);
    EXPECT_THROW(urls->Insert(-1, L"x"), EListError);
    EXPECT_THROW(setup->AgentCharacters()->Character(1), EListError);
    EXPECT_THROW(setup->FilesMD5List()->File(-1), EListError);
}

TEST_F(SetupXml, AddedCharactersAndFilesAreItemsLikeTheLoadedOnes) {
    auto setup = Load("<setup><agentCharacters><character name=\"One\"/></agentCharacters></setup>");
    auto characters = setup->AgentCharacters();
    auto added = characters->Insert(0);
    added->SetName(L"Zo\u00EB");
    added->SetFileName(L"Zoe.acs");
    added->SetDescription(L"Curious");
    EXPECT_EQ(characters->Count(), 2);
    EXPECT_EQ(characters->Character(0), added);
    EXPECT_EQ(characters->Character(0)->Name(), L"Zo\u00EB");
    EXPECT_EQ(characters->Character(0)->Description(), L"Curious");
    EXPECT_TRUE(added->HasAttribute(L"fileName"));
    EXPECT_FALSE(added->HasAttribute(L"filename"));
    EXPECT_EQ(characters->Character(1)->Name(), L"One");
    EXPECT_EQ(characters->Add()->Name(), L"");
    EXPECT_EQ(characters->Count(), 3);

    auto files = setup->FilesMD5List();
    auto file = files->Add();
    file->SetName(L"MSagent.exe");
    file->SetMD5(L"0123456789abcdef0123456789abcdef");
    files->Insert(0)->SetName(L"other.exe");
    EXPECT_EQ(files->FindFile(L"msagent.EXE"), file);
    EXPECT_EQ(files->File(1)->MD5(), L"0123456789abcdef0123456789abcdef");
    EXPECT_EQ(files->Remove(files->Node(1)), 1);
    EXPECT_EQ(files->FindFile(L"MSagent.exe"), nullptr);
}

TEST_F(SetupXml, UnusableDocumentsFailToLoad) {
    for (const char* text :
         {"", "<setup><url></setup>", "<setup/><setup/>", "<setup xmlns=\"urn:other\"/>", "<Setup/>"})
        ExpectRefused(text);
    ExpectRefused("<?xml version=\"1.0\"?><config/>", AllOf(HasSubstr("setup.xml"), HasSubstr("\"setup\"")));
    EXPECT_THAT([&] { LoadSetup(Temp.Path() + "missing.xml"); }, ThrowsMessage<Exception>(HasSubstr("missing.xml")));
}

TEST_F(SetupXml, DocumentsWithADtdAreRefused) {
    std::string secret = Temp.Path() + "secret.txt";
    WriteFileText(secret, "TOP-SECRET");
    // Neither local files nor entity expansion: the document is refused whole.
    const std::string hostile[] = {
        "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY u \"http://evil/\">]>"
        "<setup><fileDistributors><url>&u;</url></fileDistributors></setup>",
        "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY s SYSTEM \"file:///" + secret +
            "\">]><setup><fileDistributors><url>&s;</url></fileDistributors></setup>",
        "<!DOCTYPE setup SYSTEM \"" + secret + "\"><setup/>",
        "<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]><setup><fileDistributors><url>&c;</url></fileDistributors></setup>",
    };
    for (const std::string& text : hostile) ExpectRefused(text, HasSubstr("document type"));
    // Refused before the parser sees it: a DTD or an entity elsewhere is never asked for.
    THttpServer server;
    server.Put("evil.dtd", "<!ENTITY e \"Evil.acs\">");
    const std::string dtd = server.Url("ok", "evil.dtd");
    ExpectRefused("<?xml version=\"1.0\"?><!DOCTYPE setup SYSTEM \"" + dtd + "\"><setup/>", HasSubstr("document type"));
    ExpectRefused("<?xml version=\"1.0\"?><!DOCTYPE setup [<!ENTITY % d SYSTEM \"" + dtd + "\"> %d;]><setup/>",
                  HasSubstr("document type"));
    EXPECT_TRUE(server.Requests().empty());
    // UTF-16 hides nothing, while a UTF-16 document without one loads.
    ExpectRefused(
        Utf16Bytes("<?xml version=\"1.0\" encoding=\"UTF-16\"?><!DOCTYPE setup [<!ENTITY a \"x\">]><setup/>"));
    auto wide = Load(Utf16Bytes("<setup><fileDistributors><url>http://w/</url></fileDistributors></setup>"));
    EXPECT_EQ(wide->FileDistributors()->Url(0), L"http://w/");
}

TEST_F(SetupXml, OnlyCharactersWithBareFileNamesMayBeOffered) {
    auto characters = Load(
                          "<setup><agentCharacters>"
                          "<character name=\"Good\" fileName=\"Vela.acs\"/>"
                          "<character name=\"Up\" fileName=\"..\\..\\Windows\\evil.exe\"/>"
                          "<character name=\"Abs\" fileName=\"C:\\evil.acs\"/>"
                          "<character name=\"Slash\" fileName=\"sub/evil.acs\"/>"
                          "<character name=\"Dots\" fileName=\"..\"/>"
                          "<character name=\"Stream\" fileName=\"a.acs:evil\"/>"
                          "<character name=\"Empty\"/>"
                          "<character name=\"Wide\" fileName=\"\xEF\xBC\x8F"
                          "evil.acs\"/>"
                          "</agentCharacters></setup>")
                          ->AgentCharacters();
    std::vector<std::wstring> offered;
    for (int i = 0; i < characters->Count(); ++i)
        if (HasBareFileName(*characters->Character(i))) offered.push_back(characters->Character(i)->Name());
    EXPECT_EQ(offered, std::vector<std::wstring>{L"Good"});

    // A name the active code page spells only by a best fit would be fetched and
    // saved under another name; in UTF-8 it is spelt exactly.
    auto lossy = Load(
                     "<setup><agentCharacters><character name=\"\xC5\x81ucja\" fileName=\"\xC5\x81ucja.acs\"/>"
                     "</agentCharacters></setup>")
                     ->AgentCharacters();
    EXPECT_EQ(HasBareFileName(*lossy->Character(0)), GetACP() == CP_UTF8);
}
