// SPDX-License-Identifier: MIT
// The seven operations against the sample catalogue: reply shapes, the attribute positions
// the client reads, and the Exception replies.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "base64.hpp"
#include "soap_test_client.hpp"
#include "support/ref_service.hpp"

namespace ovk::test {
namespace {

std::string attr(const xml::Node& node, std::size_t position) {
    return node.attributeAt(position).value_or("<none>");
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string decoded(const std::string& base64) {
    return refservice::decodeBase64(base64).value_or("<not base64>");
}

class RefServiceOperations : public SharedRefServiceTest {
  protected:
    // The reply's elements; they live as long as the returned exchange.
    static SoapExchange demo(const std::string& op, int language = 1033, Arguments extra = {}) {
        auto args = projectArguments("demo", "DEMO", language);
        args.insert(args.end(), extra.begin(), extra.end());
        auto reply = call(service(), op, args);
        EXPECT_EQ(reply.status, 200) << reply.body;
        return reply;
    }
};

TEST_F(RefServiceOperations, HelloWorldAnswersTheGreetingText) {
    const auto reply = call(service(), "HelloWorld");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.result().localName(), "HelloWorldResult");
    EXPECT_EQ(reply.result().text(), "Hello World");
}

TEST_F(RefServiceOperations,
       ClientDataHasVersionInstallerAddressesAndTheBannerPictureAtTheirPositions) {
    const auto reply =
        call(service(), "GetClientData", {{"clientId", "6103"}, {"guiLangId", "1031"}});
    ASSERT_EQ(reply.resultElements().size(), 1u);
    const xml::Node data = reply.resultElements()[0];
    EXPECT_EQ(attr(data, 0), OVK_VERSION_TEXT);
    EXPECT_EQ(attr(data, 1), "https://downloads.velmora.example/ovk_client/setup.exe");
    EXPECT_EQ(attr(data, 3), "https://www.velmora.example/");
    EXPECT_EQ(attr(data, 4), "mailto:support@velmora.example");
    ASSERT_EQ(data.firstChild().kind(), xml::NodeKind::CData);
    EXPECT_EQ(decoded(data.firstChild().text()), fileBytes(OVK_EXAMPLES_DIR "/catalog/banner.jpg"));
}

TEST_F(RefServiceOperations,
       StructureListsEveryFieldWithIdentifierNameTypeAndCodeAtTheirPositions) {
    const auto replyExchange = demo("getStructure", 1031);
    const auto reply = replyExchange.resultElements();
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].localName(), "Structure");
    const auto fields = reply[0].childElements();
    ASSERT_EQ(fields.size(), 6u);
    EXPECT_EQ(attr(fields[0], 2), "3");
    EXPECT_EQ(attr(fields[0], 3), "Hersteller");  // the name in the requested language
    EXPECT_EQ(attr(fields[0], 4), "String");
    EXPECT_EQ(attr(fields[0], 5), "C03");
    EXPECT_EQ(attr(fields[4], 4), "Number");
    // A language without its own names falls back to the field's default name.
    const auto english = demo("getStructure", 1033);
    EXPECT_EQ(attr(english.resultElements()[0].childElements()[0], 3), "Manufacturer");
}

TEST_F(RefServiceOperations, DefaultSelectionListsFieldIdentifiersOrAnErrorWhenTheProjectHasNone) {
    const auto replyExchange = demo("GetDefaultSelect");
    const auto reply = replyExchange.resultElements();
    ASSERT_EQ(reply.size(), 1u);
    std::vector<std::string> ids;
    for (const auto& entry : reply[0].childElements()) ids.push_back(attr(entry, 0));
    EXPECT_EQ(ids, (std::vector<std::string>{"7", "3", "12"}));

    const auto none =
        call(service(), "GetDefaultSelect", projectArguments("nodefault", "NODEFAULT", 1033));
    ASSERT_EQ(none.resultElements().size(), 1u);
    EXPECT_EQ(none.resultElements()[0].localName(), "Error");
    EXPECT_TRUE(none.resultElements()[0].attribute("Description").has_value());
}

TEST_F(RefServiceOperations,
       WrongPasswordUnknownProjectOrLanguageAnswerTheExceptionElementForEveryProjectOperation) {
    const Arguments last[] = {{},
                              {},
                              {{"fieldList", "7"}},
                              {{"nodeKey", encodeNodeKey("0{}Catalog")}},
                              {{"materialId", "4711"}}};
    const char* operations[] = {"getStructure", "GetDefaultSelect", "getTreeData",
                                "GetSelectionData", "GetItemData"};
    const Arguments bad[] = {projectArguments("wrong", "DEMO", 1033),
                             projectArguments("demo", "NOSUCH", 1033),
                             projectArguments("demo", "DEMO", 1049), projectArguments("", "", 0)};
    for (std::size_t op = 0; op < 5; ++op) {
        for (const auto& credentials : bad) {
            auto args = credentials;
            args.insert(args.end(), last[op].begin(), last[op].end());
            const auto reply = call(service(), operations[op], args);
            SCOPED_TRACE(std::string(operations[op]) + " as " + args[0].second + "/" +
                         args[1].second);
            ASSERT_EQ(reply.status, 200);
            ASSERT_EQ(reply.resultElements().size(), 1u);
            const xml::Node exception = reply.resultElements()[0];
            EXPECT_EQ(exception.localName(), "Exception");
            EXPECT_EQ(exception.attribute("ID"), "32");
            EXPECT_EQ(exception.attribute("Description"),
                      "Combination of ProjectID,Password and LangID not found");
            EXPECT_EQ(exception.attribute("Source"), "VelmoraSvr." + std::string(operations[op]));
        }
    }
}

TEST_F(RefServiceOperations, TreeHasOneSortedLevelPerRequestedFieldWithIdAndValueOnEveryElement) {
    const auto replyExchange = demo("getTreeData", 1033, {{"fieldList", "7,3,12"}});
    const auto reply = replyExchange.resultElements();
    ASSERT_EQ(reply.size(), 1u);
    const xml::Node root = reply[0];
    EXPECT_EQ(attr(root, 0), "0");
    EXPECT_EQ(root.attribute("Value"), "Catalog");
    std::vector<std::string> groups;
    for (const auto& group : root.childElements()) groups.push_back(*group.attribute("Value"));
    EXPECT_EQ(groups, (std::vector<std::string>{"Drives", "Motors", "Sensors", "Switchgear"}));

    // Motors: Brandt & Söhne (AC), Velmora (AC, DC): three levels below the root, leaves last.
    const xml::Node motors = root.childElements()[1];
    ASSERT_EQ(motors.childElements().size(), 2u);
    EXPECT_EQ(motors.childElements()[0].attribute("Value"), "Brandt & Söhne");
    const xml::Node velmora = motors.childElements()[1];
    EXPECT_EQ(velmora.attribute("ID"), "3");
    ASSERT_EQ(velmora.childElements().size(), 2u);
    EXPECT_EQ(velmora.childElements()[0].attribute("ID"), "12");
    EXPECT_EQ(velmora.childElements()[0].attribute("Value"), "AC");
    EXPECT_FALSE(velmora.childElements()[0].hasChildNodes());

    // No text nodes anywhere: every child of a tree element is a sub-node.
    std::vector<xml::Node> pending{root};
    while (!pending.empty()) {
        const xml::Node node = pending.back();
        pending.pop_back();
        ASSERT_TRUE(node.attribute("ID") && node.attribute("Value"));
        for (const auto& child : node.children()) {
            ASSERT_EQ(child.kind(), xml::NodeKind::Element);
            pending.push_back(child);
        }
    }
}

TEST_F(RefServiceOperations, TreeMergesArticlesOnTheSamePathAndKeepsValuesHoldingKeySeparators) {
    const auto reply = call(
        service(), "getTreeData",
        {{"password", "traps"}, {"projectId", "TRAPS"}, {"langId", "1033"}, {"fieldList", "1, 2"}});
    const auto groups = reply.resultElements()[0].childElements();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].attribute("Value"), "A||B{}C");
    ASSERT_EQ(groups[0].childElements().size(), 1u);  // T1 and T2 share one path
    EXPECT_EQ(groups[0].childElements()[0].attribute("Value"), "<tag> & \"quoted\"");
}

TEST_F(RefServiceOperations, TreeOverNoFieldsIsARootWithoutChildrenAndAnUnknownFieldIsAnException) {
    const auto emptyExchange = demo("getTreeData", 1033, {{"fieldList", ""}});
    const auto empty = emptyExchange.resultElements();
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].localName(), "Node");
    EXPECT_FALSE(empty[0].hasChildNodes());

    for (const char* list : {"7,99", "7,x"}) {
        const auto unknownExchange = demo("getTreeData", 1033, {{"fieldList", list}});
        const auto unknown = unknownExchange.resultElements();
        ASSERT_EQ(unknown.size(), 1u);
        EXPECT_EQ(unknown[0].localName(), "Exception");
        EXPECT_EQ(unknown[0].attribute("ID"), "34");
    }
}

TEST_F(RefServiceOperations,
       SelectionAnswersTheArticlesUnderALeafAsRowsWithNameAndValueAtTheirPositions) {
    const auto replyExchange =
        demo("GetSelectionData", 1031,
             {{"nodeKey", encodeNodeKey("0{}Catalog||7{}Motors||3{}Velmora||12{}AC")}});
    const auto reply = replyExchange.resultElements();
    ASSERT_EQ(reply.size(), 1u);
    const auto rows = reply[0].childElements();
    ASSERT_EQ(rows.size(), 2u);
    const auto cells = rows[0].childElements();
    ASSERT_EQ(cells.size(), 7u);
    EXPECT_EQ(attr(cells[0], 2), "4711");
    EXPECT_EQ(attr(cells[1], 1), "Hersteller");
    EXPECT_EQ(attr(cells[1], 2), "Velmora");
    EXPECT_EQ(attr(cells[6], 2), "€€");
    EXPECT_EQ(attr(rows[1].childElements()[0], 2), "4712");
}

TEST_F(RefServiceOperations, SelectionDecodesKeysFromWindows1252IncludingSeparatorsInsideValues) {
    const auto umlautExchange =
        demo("GetSelectionData", 1033,
             {{"nodeKey", encodeNodeKey("0{}Catalog||7{}Motors||3{}Brandt & Söhne")}});
    const auto umlaut = umlautExchange.resultElements();
    ASSERT_EQ(umlaut[0].childElements().size(), 1u);
    EXPECT_EQ(attr(umlaut[0].childElements()[0].childElements()[0], 2), "4714");

    const auto traps =
        call(service(), "GetSelectionData",
             {{"password", "traps"},
              {"projectId", "TRAPS"},
              {"langId", "1033"},
              {"nodeKey", encodeNodeKey("0{}Catalog||1{}A||B{}C||2{}<tag> & \"quoted\"")}});
    EXPECT_EQ(traps.resultElements()[0].childElements().size(), 2u);

    const auto euro = call(service(), "GetSelectionData",
                           {{"password", "traps"},
                            {"projectId", "TRAPS"},
                            {"langId", "1033"},
                            {"nodeKey", encodeNodeKey("0{}Catalog||1{}Ünïcödé €")}});
    ASSERT_EQ(euro.resultElements()[0].childElements().size(), 1u);
}

TEST_F(RefServiceOperations, SelectionWithAKeyThatIsNotBase64OrNamesAnUnknownFieldIsAnException) {
    EXPECT_EQ(demo("GetSelectionData", 1033, {{"nodeKey", "not base64!"}})
                  .resultElements()[0]
                  .attribute("ID"),
              "35");
    EXPECT_EQ(demo("GetSelectionData", 1033, {{"nodeKey", encodeNodeKey("no root here")}})
                  .resultElements()[0]
                  .attribute("ID"),
              "35");
    EXPECT_EQ(demo("GetSelectionData", 1033, {{"nodeKey", encodeNodeKey("0{}Catalog||99{}x")}})
                  .resultElements()[0]
                  .attribute("ID"),
              "34");
}

TEST_F(RefServiceOperations, ItemDataHoldsArticleInfoComponentsAndBinaryPayloads) {
    const auto replyExchange = demo("GetItemData", 1033, {{"materialId", "4711"}});
    const auto reply = replyExchange.resultElements();
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].localName(), "root");
    const auto info = reply[0].childElements();
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].localName(), "Articleinfo");
    const auto parts = info[0].childElements();
    ASSERT_GE(parts.size(), 3u);
    EXPECT_EQ(parts[0].localName(), "Number");
    EXPECT_EQ(parts[0].text(), "4711");
    EXPECT_EQ(parts[1].localName(), "Field03");
    EXPECT_EQ(parts[1].text(), "Velmora");
    EXPECT_EQ(parts[parts.size() - 2].localName(), "COMPONENTS");
    EXPECT_EQ(parts[parts.size() - 2].childElements().size(), 2u);

    const xml::Node binary = parts.back();
    ASSERT_EQ(binary.localName(), "BINARY");
    const auto groups = binary.childElements();
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].localName(), "SYMBOLS");
    ASSERT_EQ(groups[0].childElements().size(), 2u);
    const xml::Node symbol = groups[0].childElements()[0].firstChild();
    EXPECT_EQ(symbol.kind(), xml::NodeKind::CData);
    EXPECT_EQ(symbol.text(), "SYMBOL VM-400 motor\nVERSION 3\nCIRCLE 0 0 10\nTEXT 0 -14 M\nEND");
    EXPECT_EQ(groups[1].localName(), "GERS");
    EXPECT_EQ(groups[1].childElements().size(), 1u);
    EXPECT_EQ(groups[2].localName(), "DOCUMENTS");
    const xml::Node document = groups[2].childElements()[0];
    EXPECT_EQ(document.attribute("Name"), "4711_datasheet.pdf");
    ASSERT_EQ(document.firstChild().kind(), xml::NodeKind::CData);
    EXPECT_EQ(decoded(document.firstChild().text()),
              fileBytes(OVK_EXAMPLES_DIR "/catalog/docs/motor_ac_datasheet.pdf"));
}

TEST_F(RefServiceOperations, ItemDocumentsArriveByteForByteAndEmptyGroupsStayPresent) {
    const auto replyExchange = demo("GetItemData", 1033, {{"materialId", "4721"}});
    const auto reply = replyExchange.resultElements();
    const auto binary = reply[0].childElements()[0].childElements().back();
    const auto documents = binary.childElements()[2].childElements();
    ASSERT_EQ(documents.size(), 2u);
    EXPECT_EQ(decoded(documents[0].firstChild().text()),
              fileBytes(OVK_EXAMPLES_DIR "/catalog/docs/all_bytes.bin"));

    const auto bareExchange = demo("GetItemData", 1033, {{"materialId", "4713"}});
    const auto bare = bareExchange.resultElements();
    const auto parts = bare[0].childElements()[0].childElements();
    EXPECT_EQ(parts[parts.size() - 2].localName(), "COMPONENTS");
    EXPECT_FALSE(parts[parts.size() - 2].hasChildNodes());
    EXPECT_FALSE(parts.back().childElements()[2].hasChildNodes());  // DOCUMENTS
}

TEST_F(RefServiceOperations, ItemPayloadHoldingTheCDataTerminatorRoundTrips) {
    const auto reply = call(
        service(), "GetItemData",
        {{"password", "traps"}, {"projectId", "TRAPS"}, {"langId", "1033"}, {"materialId", "T1"}});
    ASSERT_EQ(reply.status, 200) << reply.body;
    const auto binary = reply.resultElements()[0].childElements()[0].childElements().back();
    const xml::Node symbol = binary.childElements()[0].childElements()[0];
    EXPECT_EQ(symbol.text(), "SYMBOL with ]]> inside\nsecond line");
    EXPECT_EQ(binary.childElements()[2].childElements()[0].attribute("Name"), "../escape.txt");
}

TEST_F(RefServiceOperations, UnknownArticleIsAnException) {
    const auto replyExchange = demo("GetItemData", 1033, {{"materialId", "9999"}});
    const auto reply = replyExchange.resultElements();
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].localName(), "Exception");
    EXPECT_EQ(reply[0].attribute("ID"), "33");
    EXPECT_EQ(reply[0].attribute("Source"), "VelmoraSvr.GetItemData");
}

}  // namespace
}  // namespace ovk::test
