// SPDX-License-Identifier: MIT
// The three download requests against a scripted service: what lands in the download document,
// in the download file and beside it, and what the host is told.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <optional>
#include <regex>
#include <tuple>

#include "codec/encoding.hpp"
#include "document/download_document.hpp"
#include "document/validation_text.hpp"
#include "download_harness.hpp"
#include "platform/errors.hpp"
#include "service/download_session.hpp"
#include "service/finish_rewrite.hpp"

namespace ovk {
namespace {

using test::DownloadHarness;
using test::readAll;

const std::string kDocument = test::downloadDocument(
    "TARVO",
    "  <ProjectID>DEMO</ProjectID>\n  <Language>English</Language>\n  <Password>demo</Password>",
    "\n    <Symbolfile>sym.txt</Symbolfile>\n    <Gerfile>ger.txt</Gerfile>\n  ");

// The reply list's wrapper: the fake service answers with its root's children.
std::string reply(const std::string& nodes) {
    return "<reply>" + nodes + "</reply>";
}

std::string projectContent(const xml::Document& document) {
    std::string content;
    for (const xml::Node& child : document.firstElementByName("Project").childElements())
        content += "<" + child.name() + ">";
    return content;
}

struct Transactions : ::testing::Test {
    DownloadHarness h;
    void SetUp() override { h.load(kDocument); }
    xml::Document& document() { return *h.impl->MyXMLDocument; }
    std::string fileOnDisk() { return readAll(h.downloadFile()); }
    // What a save of the whole document writes, the large texts that live in the file only
    // (all `text` here) put back where their stand-ins are.
    std::string fullSave(const std::string& text) {
        static const std::regex standIn("ovk-text-[0-9a-f]{32}-[0-9a-f]{16}");
        return std::regex_replace(document().toString(), standIn, text);
    }
};

TEST_F(Transactions, StructureReplacesAnEarlierRunsResultsWhateverTheirCase) {
    h.load(test::downloadDocument(
        "TARVO", "<ProjectID>DEMO</ProjectID><Language>English</Language>",
        "<Symbolfile/><Gerfile/><ARTICLEINFO>old</ARTICLEINFO><structure/><Select>"
        "<FieldId>Field99</FieldId></Select><articleinfo/><Other/>"));
    h.host.fakeService->replies["getStructure"] = reply(
        "<S><F a='p' b='1' c='3' d='Manufacturer' e='String' f='C03'/>"
        "<F x='p' y='1' z='12' w='Product group' v='String' u='C07'/>"
        "<F a='p' b='1' c='123' d='Name' e='Number' f='C123'/></S>");
    h.host.fakeService->replies["GetDefaultSelect"] =
        reply("<Sel><E id='7'/><E id='x'/><E id='7.5'/></Sel>");
    h.impl->DownloadStructure();

    EXPECT_TRUE(h.host.events.log.empty()) << ::testing::PrintToString(h.host.events.log);
    EXPECT_EQ(projectContent(document()), "<Symbolfile><Gerfile><Other><Structure><Select>");
    const xml::Node structure = document().firstElementByName("Structure");
    std::string fields;
    for (const xml::Node& field : structure.childElements()) {
        for (const xml::Node& part : field.childElements())
            fields += part.name() + "=" + part.text() + ";";
        fields += "|";
    }
    EXPECT_EQ(fields,
              "FieldId=Field03;Fieldname=Manufacturer;Codenumber=C03;Fieldtype=String;|"
              "FieldId=Field12;Fieldname=Product group;Codenumber=C07;Fieldtype=String;|"
              "FieldId=Field123;Fieldname=Name;Codenumber=C123;Fieldtype=Number;|");
    std::string select;
    for (const xml::Node& id : document().firstElementByName("Select").childElements())
        select += id.text() + ";";
    EXPECT_EQ(select, "Field07;Fieldx;Field08;");
    // The service is asked with the project's values and the language number, in that order.
    ASSERT_EQ(h.host.fakeService->calls.size(), 2u);
    EXPECT_EQ(
        h.host.fakeService->calls[0].args,
        (std::vector<soap::Argument>{std::string("demo"), std::string("DEMO"), int16_t{1033}}));
}

TEST_F(Transactions, StructureReportsItsFailuresAsExceptionsAndGoesOn) {
    struct Case {
        const char* name;
        std::string structureReply;
        std::string selectReply;
        int32_t failingCall;  // 0: none
        std::vector<std::string> events;
        const char* project;
    };
    const std::vector<Case> cases = {
        {"no structure still leaves an empty one",
         "",
         reply("<Sel><E id='3'/></Sel>"),
         0,
         {},
         "<Symbolfile><Gerfile><Structure><Select>"},
        {"an exception record as default selection",
         reply("<S/>"),
         reply("<Exception ID='12' Description='x' Source='y'/>"),
         0,
         {"Exception 12"},
         "<Symbolfile><Gerfile><Structure><Select>"},
        {"a descriptor with too few attributes",
         reply("<S><F a='1' b='2'/></S>"),
         "",
         0,
         {"Exception 9"},
         "<Symbolfile><Gerfile><Structure>"},
        {"a failing call",
         "",
         "",
         err::SoapConnection,
         {"Exception 5002"},
         "<Symbolfile><Gerfile><Structure>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DownloadHarness run;
        run.load(kDocument);
        run.host.fakeService->replies["getStructure"] = c.structureReply;
        run.host.fakeService->replies["GetDefaultSelect"] = c.selectReply;
        if (c.failingCall != 0) run.host.fakeService->failures["getStructure"] = c.failingCall;
        EXPECT_NO_THROW(run.impl->DownloadStructure());
        EXPECT_EQ(run.host.events.log, c.events);
        EXPECT_EQ(projectContent(*run.impl->MyXMLDocument), c.project);
        EXPECT_FALSE(run.impl->MyXMLDocument->firstElementByName("Select").hasChildNodes() &&
                     c.events.size() > 0);
    }
    if (!cases.empty()) {
        DownloadHarness run;  // without a document nothing happens at all
        run.impl->MySoapobject = run.host.fakeService;
        run.impl->DownloadStructure();
        EXPECT_TRUE(run.host.events.log.empty());
        EXPECT_TRUE(run.host.fakeService->calls.empty());
    }
}

TEST_F(Transactions, ItemsAccumulateBeneathProjectAndOnDisk) {
    h.host.fakeService->replies["GetItemData"] = reply(
        "<root><Articleinfo><Number>1</Number></Articleinfo>"
        "<Articleinfo><Number>2</Number></Articleinfo></root>");
    h.impl->DownloadItem("1");
    h.host.fakeService->replies["GetItemData"] =
        reply("<root><Articleinfo><Number>3</Number></Articleinfo></root>");
    h.impl->DownloadItem("3");

    EXPECT_EQ(projectContent(document()),
              "<Symbolfile><Gerfile><Articleinfo><Articleinfo><Articleinfo>");
    const xml::Document saved = xml::Document::loadFile(h.downloadFile());
    std::string numbers;
    for (const xml::Node& item : saved.elementsByName("Number")) numbers += item.text();
    EXPECT_EQ(numbers, "123");
    EXPECT_TRUE(h.host.events.log.empty());
    EXPECT_EQ(std::get<std::string>(h.host.fakeService->calls.back().args.at(3)), "3");
}

// Whatever comes instead of the item is told: the host must not take a download that lacks
// the article for a complete one.
TEST_F(Transactions, ItemRepliesOtherThanRootChangeNothingOnDisk) {
    const std::string before = fileOnDisk();
    struct Case {
        const char* reply;
        std::vector<std::string> events;
    };
    for (const Case& c : std::vector<Case>{
             {"<Root><Articleinfo/></Root>", {"Exception 91"}},
             {"<EXCEPTION ID='4' Description='Article 9 not found' Source='GetItemData'/>",
              {"Exception 4"}},
             {"<Other/>", {"Exception 91"}},
         }) {
        SCOPED_TRACE(c.reply);
        h.host.events.log.clear();
        h.host.fakeService->replies["GetItemData"] = reply(c.reply);
        h.impl->DownloadItem("9");
        EXPECT_EQ(h.host.events.log, c.events);
        EXPECT_EQ(fileOnDisk(), before);
        EXPECT_EQ(projectContent(document()), "<Symbolfile><Gerfile>");
    }
    ASSERT_EQ(h.host.events.exceptions.size(), 3u);
    EXPECT_EQ(h.host.events.exceptions[0].message,
              "The service sent an element Root for article 9 instead of its data, so it is not "
              "in the download.");
    EXPECT_EQ(h.host.events.exceptions[1].message, "Article 9 not found");
    EXPECT_EQ(h.host.events.exceptions[1].source, "GetItemData");
}

TEST_F(Transactions, ItemFailuresReachTheCallerAndKeepTheItemsBefore) {
    h.host.fakeService->replies["GetItemData"] =
        reply("<root><Articleinfo><Number>1</Number></Articleinfo></root>");
    h.impl->DownloadItem("1");
    const std::string saved = fileOnDisk();
    h.host.fakeService->failures["GetItemData"] = err::SoapTimeout;
    try {
        h.impl->DownloadItem("2");
        FAIL() << "the failure must reach the wizard";
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::SoapTimeout);
    }
    EXPECT_EQ(fileOnDisk(), saved);
    EXPECT_TRUE(h.host.events.log.empty());
}

TEST_F(Transactions, ReplyNodesAreCopiedByTheirKind) {
    h.host.fakeService->replies["GetItemData"] = reply(
        "<root xmlns:v='urn:v'><Articleinfo code='7' other='x'><v:Number v:kind='n'>1</v:Number>"
        "<!-- a comment --><?pi data?><Text><![CDATA[<keep> & ]]></Text>"
        "<Mixed>a<b/>c</Mixed></Articleinfo></root>");
    h.impl->DownloadItem("1");
    const std::string expected =
        "<Articleinfo><Number>1</Number><Text><![CDATA[<keep> & ]]></Text>"
        "<Mixed>a<b/>c</Mixed></Articleinfo>";
    EXPECT_NE(fileOnDisk().find(expected), std::string::npos) << fileOnDisk();
}

TEST_F(Transactions, LargeDocumentsDecodeAsTheyAlwaysHaveAndWrappedOnesWhole) {
    // Large documents are decoded into their files a piece at a time when the text allows it;
    // the files must hold what decoding the whole text gives, padded, odd or malformed.
    std::string bytes(5 << 20, '\0');
    std::uint64_t state = 7;
    for (char& c : bytes) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        c = static_cast<char>(state >> 56);
    }
    const Encoding encoding;
    const auto base64 = [&](std::string_view raw) {
        std::vector<uint8_t> text;
        encoding.EncodeB64(std::span(reinterpret_cast<const uint8_t*>(raw.data()), raw.size()),
                           text);
        return std::string(text.begin(), text.end());
    };
    const auto decodedWhole = [&](const std::string& text) {
        std::vector<uint8_t> out;
        encoding.DecodeB64(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                           out);
        return std::string(out.begin(), out.end());
    };
    const std::string plain = base64(bytes);
    std::string wrapped;
    for (std::size_t at = 0; at < plain.size(); at += 76) wrapped += plain.substr(at, 76) + "\n";
    std::string padInside = base64(bytes.substr(1));
    padInside[3 << 20] = '=';
    // Found wrong only after whole pieces of the file were written.
    std::string padAtPieceEnd = plain;
    padAtPieceEnd[(4 << 20) - 1] = '=';
    std::string damagedLate = plain;
    damagedLate[plain.size() - 9] = '*';
    const std::vector<std::pair<std::string, std::string>> documents = {
        {"exact.bin", plain},
        {"padded.bin", base64(bytes.substr(1))},  // ends in "="
        {"wrapped.bin", wrapped},
        {"pad-inside.bin", padInside},
        {"pad-at-piece-end.bin", padAtPieceEnd},
        {"damaged-late.bin", damagedLate},
        {"short-group.bin", plain + "QQ"},
    };
    std::string item = "<root><Articleinfo><BINARY><DOCUMENTS>";
    for (const auto& [name, text] : documents)
        item += "<D Name='" + name + "'><![CDATA[" + text + "]]></D>";
    h.host.fakeService->replies["GetItemData"] =
        reply(item + "</DOCUMENTS></BINARY></Articleinfo></root>");
    h.impl->DownloadItem("1");
    EXPECT_EQ(readAll(h.work / "exact.bin"), bytes);
    EXPECT_EQ(readAll(h.work / "padded.bin"), bytes.substr(1));
    // Line breaks are layout; a character outside the alphabet writes nothing and is named.
    EXPECT_EQ(readAll(h.work / "wrapped.bin"), bytes);
    EXPECT_FALSE(std::filesystem::exists(h.work / "damaged-late.bin"));
    ASSERT_EQ(h.host.events.exceptions.size(), 1u);
    EXPECT_NE(h.host.events.exceptions[0].message.find(
                  "\"damaged-late.bin\" of article 1 was not written: The Base64 text holds "
                  "\"*\" at offset " +
                  std::to_string(plain.size() - 9)),
              std::string::npos)
        << h.host.events.exceptions[0].message;
    for (const auto& [name, text] : documents) {
        SCOPED_TRACE(name);
        if (name == "wrapped.bin" || name == "damaged-late.bin") continue;
        EXPECT_TRUE(readAll(h.work / name) == decodedWhole(text));
    }
    // A text found wrong half-way leaves no half-written file behind.
    for (const auto& entry : std::filesystem::directory_iterator(h.work.path()))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST_F(Transactions, EveryBinaryElementWritesItsPayloadsOnceAndStaysInTheDocument) {
    const std::string pdf = "JVBERi0xLjQK";  // "%PDF-1.4\n"
    h.host.fakeService->replies["GetItemData"] = reply(
        "<root><Articleinfo><bInArY><SYMBOLS><S><![CDATA[SYMBOL one\nEND]]></S></SYMBOLS>"
        "<GERS><G><![CDATA[GER record one\nEND]]></G></GERS>"
        "<DOCUMENTS><D Name='a.pdf'><![CDATA[" +
        pdf + "]]></D><D Name='b.pdf'>" + pdf.substr(0, 4) + "<![CDATA[" + pdf.substr(4, 4) +
        "]]>" + pdf.substr(8) + "</D></DOCUMENTS></bInArY></Articleinfo></root>");
    h.impl->DownloadItem("1");
    EXPECT_EQ(readAll(h.work / "sym.txt"), " \r\n \r\nSYMBOL one\r\nEND");
    EXPECT_EQ(readAll(h.work / "ger.txt"), "GER record one\r\nEND");
    EXPECT_EQ(readAll(h.work / "a.pdf"), "%PDF-1.4\n");
    // Text beside a section belongs to the record as much as the section does.
    EXPECT_EQ(readAll(h.work / "b.pdf"), "%PDF-1.4\n");
    EXPECT_EQ(document().elementsByName("bInArY").size(), 1u);
    EXPECT_NE(fileOnDisk().find("<D><![CDATA[" + pdf + "]]></D>"), std::string::npos);
}

TEST_F(Transactions, AFailingPayloadIsNamedAndCostsNoOther) {
    // Names that would leave the folder or that no user could handle are refused and named;
    // the documents before and after them are written, and the item is copied and saved all
    // the same.
    const std::vector<std::string> refused = {
        "../escape.txt", "/tmp/ovk-absolute.txt", "sub/x.txt",      "..", "",
        "a\\b.txt",      "tab\there.txt",         "line\nbreak.txt"};
    for (const std::string& name : refused) {
        SCOPED_TRACE(name);
        DownloadHarness run;
        run.load(kDocument);
        std::filesystem::create_directory(run.work / "sub");
        std::string escaped = name;
        for (std::size_t i = 0; (i = escaped.find('\n', i)) != std::string::npos;)
            escaped.replace(i, 1, "&#10;");
        for (std::size_t i = 0; (i = escaped.find('\t', i)) != std::string::npos;)
            escaped.replace(i, 1, "&#9;");
        run.host.fakeService->replies["GetItemData"] = reply(
            "<root><Articleinfo><BINARY><DOCUMENTS>"
            "<D Name='before.txt'><![CDATA[YQ==]]></D>"
            "<D Name='" +
            escaped +
            "'><![CDATA[YQ==]]></D><D Name='after.txt'><![CDATA[YQ==]]></D>"
            "</DOCUMENTS></BINARY><Number>1</Number></Articleinfo></root>");
        EXPECT_NO_THROW(run.impl->DownloadItem("1"));
        EXPECT_EQ(readAll(run.work / "before.txt"), "a");
        EXPECT_EQ(readAll(run.work / "after.txt"), "a");
        ASSERT_EQ(run.host.events.exceptions.size(), 1u);
        EXPECT_EQ(run.host.events.exceptions[0].number, err::InvalidArgument);
        EXPECT_EQ(run.host.events.exceptions[0].source, "WriteBinaryPayloads");
        EXPECT_FALSE(std::filesystem::exists(run.work.path().parent_path() / "escape.txt"));
        EXPECT_FALSE(std::filesystem::exists("/tmp/ovk-absolute.txt"));
        EXPECT_TRUE(std::filesystem::is_empty(run.work / "sub"));
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(run.work.path()))
            // The download's own lock and journal lie beside the document while it runs.
            files += entry.is_regular_file() && !entry.path().filename().string().starts_with(".");
        EXPECT_EQ(files, 3u);  // the download file, before.txt and after.txt
        EXPECT_NE(readAll(run.downloadFile()).find("<Number>1</Number>"), std::string::npos);
    }
}

TEST_F(Transactions, ADocumentNeverWritesThroughALinkStandingAtItsName) {
    const auto outside = h.work.write("outside.txt", "untouched");
    std::filesystem::create_directory(h.work / "docs");
    h.load(kDocument);
    std::filesystem::create_symlink(outside, h.work / "a.pdf");
    h.host.fakeService->replies["GetItemData"] = reply(
        "<root><Articleinfo><BINARY><DOCUMENTS><D Name='a.pdf'><![CDATA[YQ==]]></D>"
        "</DOCUMENTS></BINARY></Articleinfo></root>");
    h.impl->DownloadItem("1");
    EXPECT_EQ(readAll(outside), "untouched");
    EXPECT_FALSE(std::filesystem::is_symlink(h.work / "a.pdf"));
    EXPECT_EQ(readAll(h.work / "a.pdf"), "a");
}

// A host may keep the download document behind a symbolic link or under several hard links:
// the items and the finished document reach the file where it lives, and the links stay.
TEST_F(Transactions, ALinkedDocumentIsUpdatedWhereItLives) {
    enum class Link { Symbolic, Hard };
    for (const Link link : {Link::Symbolic, Link::Hard}) {
        SCOPED_TRACE(link == Link::Symbolic ? "symbolic link" : "hard link");
        DownloadHarness run;
        run.load(kDocument);
        std::filesystem::create_directory(run.work / "host");
        const auto name = run.work / "host" / "linked.xml";
        if (link == Link::Symbolic)
            std::filesystem::create_symlink(run.downloadFile(), name);
        else
            std::filesystem::create_hard_link(run.downloadFile(), name);
        run.impl->DownloadFile = name.string();
        run.host.fakeService->replies["GetItemData"] =
            reply("<root><Articleinfo><Number>1</Number></Articleinfo></root>");
        run.impl->DownloadStructure();
        run.impl->DownloadItem("1");
        run.impl->DownloadItem("2");
        EXPECT_EQ(readAll(name), run.impl->MyXMLDocument->toString());
        run.impl->Finish();

        EXPECT_EQ(std::filesystem::is_symlink(name), link == Link::Symbolic);
        EXPECT_TRUE(std::filesystem::equivalent(name, run.downloadFile()));
        EXPECT_EQ(std::filesystem::hard_link_count(run.downloadFile()),
                  link == Link::Hard ? 2u : 1u);
        const xml::Document finished = xml::Document::loadFile(run.downloadFile());
        EXPECT_EQ(finished.elementsByName("Articleinfo").size(), 2u);
        // Nothing of the protocol stays beside either name.
        for (const auto& folder : {run.work.path(), run.work / "host"}) {
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
        }
    }
}

// Two Clients downloading into one document, under its name or under another hard link to it
// in another folder: the second is refused at its first request, before it fetches or writes
// anything, and may go once the first has let go: by finishing, or by starting up on another
// document after a download it never finished.
TEST_F(Transactions, ASecondDownloadOfTheDocumentIsRefusedUntilTheFirstLetsGo) {
    enum class Name { Same, HardLinkElsewhere };
    enum class LetGo { Finish, InitAnotherDocument };
    for (const auto& [name, letGo] :
         {std::pair(Name::Same, LetGo::Finish), std::pair(Name::HardLinkElsewhere, LetGo::Finish),
          std::pair(Name::Same, LetGo::InitAnotherDocument)}) {
        SCOPED_TRACE(std::string(name == Name::Same ? "same name" : "hard link elsewhere") +
                     (letGo == LetGo::Finish ? ", Finish" : ", Init on another document"));
        DownloadHarness first;
        first.load(kDocument);
        DownloadHarness other;
        other.load(kDocument);
        std::filesystem::path named = first.downloadFile();
        if (name == Name::HardLinkElsewhere) {
            named = other.work / "elsewhere" / "linked.xml";
            std::filesystem::create_directory(named.parent_path());
            std::filesystem::create_hard_link(first.downloadFile(), named);
        }
        other.impl->DownloadFile = named.string();
        first.host.fakeService->replies["GetItemData"] =
            reply("<root><Articleinfo><Number>1</Number></Articleinfo></root>");
        first.impl->DownloadStructure();
        first.impl->DownloadItem("1");
        const std::string saved = readAll(first.downloadFile());

        try {
            other.impl->DownloadStructure();
            ADD_FAILURE() << "the second download must be refused";
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::PermissionDenied);
            EXPECT_NE(e.description.find("in use by another download"), std::string::npos);
        }
        EXPECT_EQ(other.host.fakeService->calls.size(), 0u);
        EXPECT_EQ(readAll(first.downloadFile()), saved);

        if (letGo == LetGo::Finish) {
            first.impl->DownloadItem("2");
            first.impl->Finish();
        } else {
            const auto another = first.work.write("another.xml", kDocument);
            int32_t result = 0;
            int32_t init = 0;
            first.impl->InitializeEnvironment(another.string(), result, init);
        }
        EXPECT_NO_THROW(other.impl->DownloadStructure());
    }
}

TEST_F(Transactions, WithoutRecordFileNamesOnlyTheDocumentsAreWritten) {
    h.load(test::downloadDocument("MERIDO", "<ProjectID>DEMO</ProjectID>",
                                  "<Symbolfile></Symbolfile>"));
    h.host.fakeService->replies["GetItemData"] = reply(
        "<root><Articleinfo><BINARY><SYMBOLS><S><![CDATA[SYMBOL one\nEND]]></S></SYMBOLS>"
        "<GERS><G><![CDATA[GER one\nEND]]></G></GERS>"
        "<DOCUMENTS><D Name='d.bin'><![CDATA[AAEC]]></D></DOCUMENTS></BINARY>"
        "</Articleinfo></root>");
    h.impl->DownloadItem("1");
    EXPECT_EQ(readAll(h.work / "d.bin"), std::string("\0\1\2", 3));
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(h.work.path()))
        // The download's own lock and journal lie beside the document while it runs.
        files += entry.is_regular_file() && !entry.path().filename().string().starts_with(".");
    EXPECT_EQ(files, 2u);
}

TEST_F(Transactions, EachSaveWritesWhatAFullSaveWouldWrite) {
    const std::string big(3 << 20, 'Q');
    // Texts whose escaping, encoding or splitting could differ between a whole save and a
    // piece written on its own.
    const std::vector<std::string> items = {
        "<root><Articleinfo><Number>1</Number><Name>Größe µ € 中</Name></Articleinfo></root>",
        "<root><Articleinfo><Name>a &amp; b &lt; c &gt; d \"q\" 'a'&#13;</Name><Empty/>"
        "<Sym><![CDATA[x]]]]><![CDATA[>y]]></Sym></Articleinfo></root>",
        "<root>loose text<Articleinfo/>tail text</root>",
        // Several MiB, so that the whole save after the next item is written in many blocks
        // before the point where later items go.
        "<root><Articleinfo><Doc><![CDATA[" + big + "]]></Doc><Text>" + std::string(1 << 20, 't') +
            "</Text></Articleinfo></root>",
        "<root><Articleinfo><Deep><Deeper><Deepest>z</Deepest></Deeper></Deep></Articleinfo>"
        "</root>",
        "<root/>",
        "<root><Articleinfo><Number>6</Number></Articleinfo></root>",
        // Loose text at the end of one reply and the start of the next ends up in one text
        // node, whose escaped rest the next save appends.
        "<root>\n  <Articleinfo><Number>7</Number></Articleinfo>\n</root>",
        "<root>\n  <Articleinfo><Number>8</Number></Articleinfo>\n</root>",
        "<root> &amp; &lt; &#13; 中<Articleinfo/>\n</root>",
    };
    int incremental = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].substr(0, 200));
        h.host.fakeService->replies["GetItemData"] = reply(items[i]);
        h.impl->DownloadItem(std::to_string(i));
        ASSERT_TRUE(fileOnDisk() == fullSave(big));
        incremental += h.impl->transactions.session()->downloadFile.lastSaveWasIncremental();
        if (i == 4) {
            // Somebody else touches the file: the next save notices and writes it whole, and
            // until then Finish would trust no place a save noted in it.
            const DownloadSession& session = *h.impl->transactions.session();
            EXPECT_EQ(session.downloadFile.savedSections(*session.document).size(), 1u);
            h.work.write("download.xml", fileOnDisk() + "\n");
            EXPECT_TRUE(session.downloadFile.savedSections(*session.document).empty());
        }
    }
    // All but the first save and the one after the file was touched.
    EXPECT_EQ(incremental, static_cast<int>(items.size()) - 2);
    EXPECT_NE(fileOnDisk().find("</Articleinfo>\n\n  <Articleinfo><Number>8</Number></Articleinfo>"
                                "\n &amp; &lt; &#13; 中<Articleinfo/>\n</Project>"),
              std::string::npos);

    // Finish copies the texts the saves released from where they stand, and writes what a
    // rewrite reading the whole file writes. The text of an item that went from the document
    // has no place in the file written after, and is not among them.
    DownloadSession& session = *h.impl->transactions.session();
    for (xml::Node doc : document().elementsByName("Doc")) doc.remove();
    session.downloadFile.reset();
    const std::string other(2 << 20, 'R');
    h.host.fakeService->replies["GetItemData"] =
        reply("<root><Articleinfo><Doc><![CDATA[" + other + "]]></Doc></Articleinfo></root>");
    h.impl->DownloadItem("last");
    const std::string saved = fileOnDisk();
    const auto sections = session.downloadFile.savedSections(*session.document);
    ASSERT_EQ(sections.size(), 1u);
    EXPECT_EQ(saved.substr(static_cast<std::size_t>(sections[0].offset) - 9, 9), "<![CDATA[");
    EXPECT_TRUE(saved.substr(static_cast<std::size_t>(sections[0].offset), sections[0].length) ==
                other);
    const auto readThrough = h.work.write("read-through.xml", saved);
    RewriteDownloadFile(readThrough);
    h.impl->Finish();
    EXPECT_TRUE(fileOnDisk() == readAll(readThrough));
}

// A service client whose reply is still held after the call, as a cache would hold it.
class HeldReplyService : public test::FakeServiceClient {
  public:
    std::optional<xml::NodeList> call(std::string_view operation,
                                      const std::vector<soap::Argument>& args) override {
        if (!held) held = test::FakeServiceClient::call(operation, args);
        return held;
    }
    std::optional<xml::NodeList> held;
};

TEST_F(Transactions, ItemTextsMoveOnlyOutOfRepliesNobodyElseHolds) {
    const std::string big(1 << 20, 'B');
    const std::string item = reply("<root><Articleinfo><Doc><![CDATA[" + big +
                                   "]]></Doc><Name>short</Name>" + big + "</Articleinfo></root>");
    const auto held = std::make_shared<HeldReplyService>();
    held->replies["GetItemData"] = item;
    h.impl->MySoapobject = held;
    h.impl->DownloadItem("1");
    h.impl->DownloadItem("2");
    // The CDATA section and the loose text after Name, in an Articleinfo.
    const auto bigTexts = [](const xml::Node& info) {
        const xml::Node doc = info.firstChild();
        const xml::Node loose = doc.nextSibling().nextSibling();
        const bool cdata = doc.firstChild().kind() == xml::NodeKind::CData;
        return std::make_tuple(doc.text(), loose.text(), cdata);
    };
    // The held reply still has every text. Each saved item keeps its loose text, and its
    // section lives in the file, with a stand-in in memory.
    EXPECT_TRUE(bigTexts(held->held->first().firstChild()) == std::make_tuple(big, big, true));
    const auto saved = [&](const xml::Node& info) {
        const auto [doc, loose, cdata] = bigTexts(info);
        return doc.starts_with("ovk-text-") && loose == big && cdata;
    };
    auto items = document().firstElementByName("Project").childElements();
    ASSERT_EQ(items.size(), 4u);  // Symbolfile, Gerfile and the two items
    EXPECT_TRUE(saved(items[2]));
    EXPECT_TRUE(saved(items[3]));
    // A reply nobody holds gives the same item.
    h.impl->MySoapobject = h.host.fakeService;
    h.host.fakeService->replies["GetItemData"] = item;
    h.impl->DownloadItem("3");
    items = document().firstElementByName("Project").childElements();
    ASSERT_EQ(items.size(), 5u);
    EXPECT_TRUE(saved(items[4]));
    EXPECT_TRUE(fileOnDisk() == fullSave(big));
}

// A disk that fills up in the middle of an item's save or of Finish: the file keeps the items
// saved before, and the failure names the file and the cause.
TEST_F(Transactions, AFailingWriteKeepsTheItemsSavedBeforeAndSaysWhy) {
    enum class During { ItemSave, Finish };
    for (const During during : {During::ItemSave, During::Finish}) {
        SCOPED_TRACE(during == During::ItemSave ? "item save" : "Finish");
        DownloadHarness run;
        run.load(kDocument);
        run.host.fakeService->replies["GetItemData"] =
            reply("<root><Articleinfo><Number>1</Number></Articleinfo></root>");
        run.impl->DownloadItem("1");
        run.impl->DownloadItem("2");
        const std::string saved = readAll(run.downloadFile());
        run.host.fakeService->replies["GetItemData"] = reply(
            "<root><Articleinfo><Text>" + std::string(4096, 'x') + "</Text></Articleinfo></root>");
        // Writes beyond the limit fail as on a full disk.
        struct rlimit previous {};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limited = previous;
        limited.rlim_cur = during == During::ItemSave ? saved.size() + 100 : 100;
        ::setrlimit(RLIMIT_FSIZE, &limited);
        std::optional<Error> failure;
        try {
            if (during == During::ItemSave)
                run.impl->DownloadItem("3");
            else
                run.impl->Finish();
        } catch (const Error& e) {
            failure = e;
        }
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, oldHandler);
        ASSERT_TRUE(failure);
        EXPECT_NE(failure->description.find("download.xml"), std::string::npos)
            << failure->description;
        EXPECT_NE(failure->description.find(std::strerror(EFBIG)), std::string::npos)
            << failure->description;
        EXPECT_EQ(readAll(run.downloadFile()), saved);
        EXPECT_TRUE(run.host.events.log.empty());
        // Nothing of the failed item is lost from memory: the next save writes it too.
        run.impl->DownloadItem("4");
        EXPECT_EQ(readAll(run.downloadFile()), run.impl->MyXMLDocument->toString());
    }
}

TEST_F(Transactions, AFinishedDocumentOfEitherTypeStillValidates) {
    // Whatever an item reply carries beneath its root lands beneath Project, also elements
    // that share a name with the document's own.
    const std::string item = reply(
        "<root><Articleinfo><Any><Deep/></Any></Articleinfo><Unknown>text<x/></Unknown>"
        "<Structure><Other/></Structure><Select>free text</Select>loose text</root>");
    for (const std::string type : {"TARVO", "MERIDO"}) {
        SCOPED_TRACE(type);
        DownloadHarness run;
        run.load(test::downloadDocument(type, "<ProjectID>DEMO</ProjectID>"));
        run.host.fakeService->replies["getStructure"] =
            reply("<S><F a='' b='' c='3' d='Name' e='String' f='C03'/></S>");
        run.host.fakeService->replies["GetDefaultSelect"] = reply("<S><E id='3'/></S>");
        run.host.fakeService->replies["GetItemData"] = item;
        run.impl->DownloadStructure();
        run.impl->DownloadItem("1");
        run.impl->DownloadItem("2");
        run.impl->Finish();
        const auto schema = run.component.path() / (type + "_download.XSD");
        EXPECT_TRUE(ValidateDocument(schema, run.downloadFile())) << validationText();
    }
}

}  // namespace
}  // namespace ovk
