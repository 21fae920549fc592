// SPDX-License-Identifier: MIT
// The steps' own rules with a scripted service: field moves, the stored and default field
// choice, building the tree from odd replies, and filling the article list.

#include <gtest/gtest.h>

#include "wizard/list_reply_reader.hpp"
#include "wizard_harness.hpp"

namespace ovk {
namespace {

using test::WizardHarness;
using Strings = std::vector<std::string>;

void fill(ListBox& list, const Strings& texts, int current) {
    list.Clear();
    for (const std::string& text : texts) {
        list.AddItem(text);
        list.ItemData(list.NewIndex(), static_cast<int32_t>(text[0]));
    }
    list.ListIndex(current);
}

TEST(FieldMoves, MoveTheCurrentEntryAndKeepItsIdentifier) {
    enum Op { RightOne, RightAll, LeftOne, LeftAll, Up, Down, DblAll };
    struct Case {
        const char* name;
        Op op;
        Strings all;
        int allCurrent;
        Strings selected;
        int selectedCurrent;
        Strings allAfter;
        int allCurrentAfter;
        Strings selectedAfter;
        int selectedCurrentAfter;
    };
    const Case cases[] = {
        {"right on empty", RightOne, {}, -1, {"C"}, 0, {}, -1, {"C"}, 0},
        {"right middle", RightOne, {"A", "B", "D"}, 1, {"C"}, -1, {"A", "D"}, 1, {"C", "B"}, 1},
        {"right last", RightOne, {"A", "B"}, 1, {}, -1, {"A"}, 0, {"B"}, 0},
        {"right none current", RightOne, {"A", "B"}, -1, {}, -1, {"A", "B"}, -1, {}, -1},
        {"all right", RightAll, {"A", "B"}, 0, {"C"}, -1, {}, -1, {"C", "A", "B"}, 0},
        {"all left", LeftAll, {"A"}, 0, {"C", "D"}, 0, {"A", "C", "D"}, 2, {}, -1},
        {"left one", LeftOne, {"A"}, 0, {"C", "D"}, 0, {"A", "C"}, 1, {"D"}, 0},
        {"up first", Up, {}, -1, {"A", "B", "C"}, 0, {}, -1, {"A", "B", "C"}, 0},
        {"up third", Up, {}, -1, {"A", "B", "C"}, 2, {}, -1, {"A", "C", "B"}, 1},
        {"down last", Down, {}, -1, {"A", "B", "C"}, 2, {}, -1, {"A", "B", "C"}, 2},
        {"down first", Down, {}, -1, {"A", "B", "C"}, 0, {}, -1, {"B", "A", "C"}, 1},
        {"double click", DblAll, {"A", "B", "D"}, 2, {}, -1, {"A", "B"}, 1, {"D"}, 0},
    };
    for (const Case& c : cases) {
        WizardHarness h;
        fill(h.wiz.lstAll, c.all, c.allCurrent);
        fill(h.wiz.lstSelected, c.selected, c.selectedCurrent);
        switch (c.op) {
            case RightOne:
                h.wiz.cmdRightOne_Click();
                break;
            case RightAll:
                h.wiz.cmdRightAll_Click();
                break;
            case LeftOne:
                h.wiz.cmdLeftOne_Click();
                break;
            case LeftAll:
                h.wiz.cmdLeftAll_Click();
                break;
            case Up:
                h.wiz.cmdUp_Click();
                break;
            case Down:
                h.wiz.cmdDown_Click();
                break;
            case DblAll:
                h.wiz.lstAll_DblClick();
                break;
        }
        EXPECT_EQ(h.texts(h.wiz.lstAll), c.allAfter) << c.name;
        EXPECT_EQ(h.texts(h.wiz.lstSelected), c.selectedAfter) << c.name;
        EXPECT_EQ(h.wiz.lstAll.ListIndex(), c.allCurrentAfter) << c.name;
        EXPECT_EQ(h.wiz.lstSelected.ListIndex(), c.selectedCurrentAfter) << c.name;
        for (const ListBox* list : {&h.wiz.lstAll, &h.wiz.lstSelected})
            for (const auto& entry : list->entries())
                EXPECT_EQ(entry.itemData, entry.text[0]) << c.name << " moved " << entry.text;
    }
}

const char* kStructure =
    "<r><S><F a='x' b='y' c='7' d='Group'/><F a='x' b='y' c='12' d='Type'/>"
    "<F a='x' b='y' c='30' d='Power'/></S></r>";

TEST(FieldLists, StoredAndDefaultChoices) {
    struct Case {
        const char* name;
        const char* stored;    // nullptr: nothing stored
        const char* defaults;  // the GetDefaultSelect reply
        Strings selected;
        Strings all;
        const char* storedAfter;
        std::size_t boxes;
    };
    const Case cases[] = {
        {"stored order", "12;7", "", {"Type", "Group"}, {"Power"}, "12;7", 0},
        {"unknown skipped, last restored", "99;30", "", {"Power"}, {"Group", "Type"}, "99;30", 0},
        {"default stored",
         nullptr,
         "<r><D><x i='30'/><x i='7'/></D></r>",
         {"Power", "Group"},
         {"Type"},
         "30;7",
         0},
        {"empty like missing",
         "",
         "<r><D><x i='12'/></D></r>",
         {"Type"},
         {"Group", "Power"},
         "12",
         0},
        {"no default", nullptr, "<r><Error/></r>", {"Old"}, {"Group", "Type", "Power"}, "", 0},
        {"bad stored part", "12;x", "", {"Type"}, {"Group", "Power"}, "12;x", 1},
    };
    for (const Case& c : cases) {
        WizardHarness h;
        auto service = h.fake();
        service->replies["getStructure"] = kStructure;
        service->replies["GetDefaultSelect"] = c.defaults;
        if (c.stored) h.settings.write(kSettingsApplication, "DEMO", "1033", c.stored);
        fill(h.wiz.lstSelected, {"Old"}, 0);
        h.wiz.LoadFieldLists();
        EXPECT_EQ(h.texts(h.wiz.lstSelected), c.selected) << c.name;
        EXPECT_EQ(h.texts(h.wiz.lstAll), c.all) << c.name;
        EXPECT_EQ(h.stored(), c.storedAfter) << c.name;
        ASSERT_EQ(h.ui.boxes().size(), c.boxes) << c.name;
        if (c.boxes == 1) {
            EXPECT_EQ(h.ui.boxes()[0].title, "Error");
            EXPECT_EQ(h.ui.boxes()[0].icon, MsgBoxIcon::Critical);
            EXPECT_EQ(h.ui.boxes()[0].text.rfind("Es ist eine unbehandelte Ausname aufgetreten."
                                                 "\r\nID = 13\r\nMessage:\r\n",
                                                 0),
                      0u)
                << h.ui.boxes()[0].text;
        }
        EXPECT_EQ(h.ui.mousePointer(), MousePointer::Default);
        const auto& args = service->calls.at(0).args;
        EXPECT_EQ(args, (std::vector<soap::Argument>{std::string("demo"), std::string("DEMO"),
                                                     int16_t{1033}}));
    }
}

// A structure the service cannot give at this moment leaves the lists as they were and the
// user's stored choice untouched, also when Next then builds the tree from them.
TEST(FieldLists, AnUnknownStructureWarnsAndKeepsWhatTheListsHeld) {
    for (const char* structure : {"<r><Exception ID='1'/></r>", ""}) {
        SCOPED_TRACE(structure);
        WizardHarness h;
        auto service = h.fake();
        service->replies["getStructure"] = structure;
        h.settings.write(kSettingsApplication, "DEMO", "1033", "2;1");
        fill(h.wiz.lstAll, {"\x01", "\x02"}, -1);
        fill(h.wiz.lstSelected, {"\x03"}, 0);
        h.wiz.LoadFieldLists();
        ASSERT_EQ(h.ui.boxes().size(), 1u);
        EXPECT_EQ(h.ui.boxes()[0].text, "Project or language version not avilable.");
        EXPECT_EQ(h.ui.boxes()[0].title, "Warning");
        EXPECT_EQ(h.ui.boxes()[0].icon, MsgBoxIcon::Exclamation);
        EXPECT_EQ(h.texts(h.wiz.lstSelected), (Strings{"\x02", "\x01"}));
        EXPECT_TRUE(h.wiz.lstAll.entries().empty());

        h.wiz.cmdNext_Click();
        EXPECT_EQ(h.stored(), "2;1");
    }
}

TEST(StructureTree, OddRepliesBuildWhatCanBeBuilt) {
    struct Case {
        const char* name;
        std::string reply;
        bool result;
        Strings keys;
    };
    const Case cases[] = {
        {"root without children", "<r><N ID='7' Value='Motors'/></r>", false, {}},
        {"nothing", "", false, {}},
        {"keys",
         "<r><N ID='7' Value='Motors'><N ID='12' Value='AC'><N ID='3' Value='V'/></N></N></r>",
         true,
         {"7{}Motors", "7{}Motors||12{}AC", "7{}Motors||12{}AC||3{}V"}},
        {"duplicate siblings end their parent's children",
         "<r><N ID='0' Value='R'><N ID='1' Value='A'><N ID='2' Value='x'/></N>"
         "<N ID='1' Value='A'/><N ID='1' Value='B'/></N></r>",
         true,
         {"0{}R", "0{}R||1{}A", "0{}R||1{}A||2{}x"}},
        {"a child without Value",
         "<r><N ID='0' Value='R'><N ID='1' Value='A'><N ID='2'/><N ID='3' Value='c'/></N>"
         "<N ID='4' Value='D'/></N></r>",
         true,
         {"0{}R", "0{}R||1{}A", "0{}R||4{}D"}},
        {"root without ID", "<r><N Value='R'><N ID='1' Value='A'/></N></r>", false, {}},
        {"text ends its parent's children, and only the first node is the tree",
         "<r><N ID='0' Value='R'><N ID='1' Value='A'>x<N ID='2' Value='b'/></N>"
         "<N ID='3' Value='C'/></N><N ID='9' Value='Z'><N ID='8' Value='Y'/></N></r>",
         true,
         {"0{}R", "0{}R||1{}A", "0{}R||3{}C"}},
        {"a key spelt by another path through a value holding the separator",
         "<r><N ID='0' Value='R'><N ID='1' Value='A||2{}B'/>"
         "<N ID='1' Value='A'><N ID='2' Value='B'/><N ID='3' Value='C'/></N></N></r>",
         true,
         {"0{}R", "0{}R||1{}A||2{}B", "0{}R||1{}A"}},
    };
    for (const Case& c : cases) {
        WizardHarness h;
        auto service = h.fake();
        service->replies["getTreeData"] = c.reply;
        h.settings.write(kSettingsApplication, "DEMO", "1033", "3;12;7");
        h.wiz.DownloadItems = std::make_unique<DownloadItems>();
        h.wiz.ColumnWidths = std::make_unique<HeadCols>();
        EXPECT_EQ(h.wiz.LoadTree(), c.result) << c.name;
        Strings keys;
        for (int i = 0; i < h.wiz.tvTree.Count(); ++i) keys.push_back(h.wiz.tvTree.Key(i));
        EXPECT_EQ(keys, c.keys) << c.name;
        EXPECT_FALSE(h.wiz.DownloadItems || h.wiz.ColumnWidths) << c.name;
        EXPECT_EQ(std::get<std::string>(service->calls.at(0).args.at(3)), "3,12,7");
        EXPECT_EQ(h.ui.mousePointer(), MousePointer::Default);
        EXPECT_TRUE(h.ui.boxes().empty()) << c.name;
    }
}

TEST(StructureTree, ATreeKeepsItsBoundsAndFindsKeysItNeverStored) {
    TreeView tree(TreeView::Limits{.maxNodes = 4, .maxDepth = 2, .maxText = 20});
    const int root = tree.Add(-1, "0", "R", "close", "open");
    const int child = tree.Add(root, "1", "A", "close", "open");
    EXPECT_EQ(tree.find("0{}R||1{}A"), child);
    EXPECT_EQ(tree.find("0{}R||1{}B"), -1);
    EXPECT_EQ(tree.find("1{}A"), -1);
    EXPECT_EQ(tree.Key(child), "0{}R||1{}A");
    EXPECT_EQ(tree.node(child).Text(), "A");
    const auto refusal = [&](int parent, const char* value) {
        try {
            tree.Add(parent, "9", value, "close", "open");
        } catch (const Error& e) {
            return std::to_string(e.number) + " " + e.description;
        }
        return std::string("added");
    };
    EXPECT_EQ(refusal(child, "x"),
              "5007 The structure tree is too large to show: it is nested deeper than 2 levels");
    EXPECT_EQ(refusal(root, "a value longer than the rest"),
              "5007 The structure tree is too large to show: its texts take more than 20 bytes");
    EXPECT_EQ(refusal(root, "A"), "added");
    EXPECT_EQ(refusal(root, "B"), "added");
    EXPECT_EQ(refusal(root, "C"),
              "5007 The structure tree is too large to show: it has more than 4 nodes");
    EXPECT_EQ(tree.Count(), 4);
}

TEST(StructureTree, KeysStayUniqueWhateverOrderNodesAreAddedIn) {
    TreeView tree;
    const auto added = [&](int parent, const char* id, const char* value) {
        try {
            return tree.Add(parent, id, value, "close", "open");
        } catch (const Error& e) {
            return -e.number;
        }
    };
    const int root = added(-1, "0", "R");
    const int a = added(root, "1", "A");
    const int b = added(root, "2", "B");
    ASSERT_GE(added(a, "3", "C"), 0);
    // Back to earlier parents, after their children's subtrees and out of document order.
    EXPECT_EQ(added(a, "3", "C"), -err::KeyNotUnique);
    EXPECT_EQ(added(root, "1", "A"), -err::KeyNotUnique);
    const int bc = added(b, "3", "C");
    EXPECT_GE(bc, 0);
    EXPECT_EQ(added(b, "3", "C"), -err::KeyNotUnique);
    EXPECT_EQ(added(-1, "0", "R"), -err::KeyNotUnique);
    const int other = added(-1, "0", "S");
    EXPECT_EQ(tree.find("0{}R||2{}B||3{}C"), bc);
    // Nodes added after a look-up are found too; a part holding the separator collides across
    // paths in both orders.
    EXPECT_GE(added(other, "1", "A|"), 0);
    EXPECT_EQ(tree.find("0{}S||1{}A|"), tree.Count() - 1);
    EXPECT_EQ(added(root, "1", "A||3{}C"), -err::KeyNotUnique);
    EXPECT_GE(added(root, "4", "D||5{}E"), 0);
    EXPECT_EQ(added(added(root, "4", "D"), "5", "E"), -err::KeyNotUnique);
    std::vector<int> children;
    for (const int child : tree.children(root)) children.push_back(child);
    EXPECT_EQ(children, (std::vector<int>{a, b, tree.Count() - 2, tree.Count() - 1}));
    EXPECT_EQ(tree.node(tree.Count() - 1).row, 3);
}

TEST(StructureTree, AnEmptyTreeFallsBackToTheDefaultChoice) {
    WizardHarness h;
    auto service = h.fake();
    service->replies["getStructure"] = kStructure;
    service->replies["GetDefaultSelect"] = "<r><D><x i='30'/></D></r>";
    service->replies["getTreeData"] = "<r><N ID='0' Value='R'/></r>";
    h.settings.write(kSettingsApplication, "DEMO", "1033", "12");
    h.open();
    Strings operations;
    for (const auto& call : service->calls) operations.push_back(call.operation);
    // Load, SetStep(0), Next: tree empty, stored choice cleared, default fetched, tree again.
    EXPECT_EQ(operations, (Strings{"getStructure", "getStructure", "getTreeData", "getStructure",
                                   "GetDefaultSelect", "getTreeData"}));
    EXPECT_EQ(std::get<std::string>(service->calls.back().args.at(3)), "30");
    EXPECT_EQ(h.wiz.CurrentStep, 1);
}

TEST(StructureTree, OnlyALeafThatStaysSelectedLoadsArticles) {
    WizardHarness h;
    auto service = h.fake();
    service->replies["getTreeData"] =
        "<r><N ID='0' Value='R'><N ID='1' Value='A'/><N ID='2' Value='B'><N ID='3' "
        "Value='C'/></N></N></r>";
    h.settings.write(kSettingsApplication, "DEMO", "1033", "1");
    ASSERT_TRUE(h.wiz.LoadTree());
    service->calls.clear();

    // Leaf A, then a node with children within the half second: nothing loads.
    h.chooseLeaf("0{}R||1{}A", 100);
    h.chooseLeaf("0{}R||2{}B", 1000);
    EXPECT_TRUE(service->calls.empty());
    EXPECT_EQ(h.wiz.PendingKey, "");

    // A click on a node with children leaves the pending key alone.
    h.wiz.PendingKey = "kept";
    h.wiz.tvTree_NodeClick(h.wiz.tvTree.find("0{}R||2{}B"));
    EXPECT_EQ(h.wiz.PendingKey, "kept");

    h.chooseLeaf("0{}R||2{}B||3{}C");
    ASSERT_EQ(service->calls.size(), 1u);
    EXPECT_EQ(service->calls[0].operation, "GetSelectionData");
    // Base64 of the key's Windows-1252 bytes.
    EXPECT_EQ(std::get<std::string>(service->calls[0].args.at(3)), "MHt9Unx8Mnt9Qnx8M3t9Qw==");
    EXPECT_EQ(h.events.log, Strings{"DebugInfo 0{}R||2{}B||3{}C"});
}

xml::NodeList rows(const std::string& body) {
    auto doc = std::make_shared<const xml::Document>(
        xml::Document::loadMemory("<r><Rows>" + body + "</Rows></r>"));
    return xml::NodeList(doc, doc->root().children());
}

std::string row(const Strings& cells) {
    std::string text = "<Row>";
    for (std::size_t i = 0; i + 1 < cells.size(); i += 2)
        text += "<Cell Pos='" + std::to_string(i / 2) + "' Name='" + cells[i] + "' Value='" +
                cells[i + 1] + "'/>";
    return text + "</Row>";
}

TEST(ArticleList, ColumnsInFirstSeenOrderAndRowsByPosition) {
    WizardHarness h;
    h.wiz.FillList(rows(row({"Number", "1", "Name", "n1", "Type", "t1"}) +
                        row({"Number", "2", "Name", "n2", "Type", "t2", "Extra", "e2"})));
    EXPECT_EQ(h.headers(), (Strings{"Number", "Name", "Type", "Extra"}));
    EXPECT_EQ(h.rowTexts(), (Strings{"1", "2"}));
    EXPECT_EQ(h.wiz.lvList.rows()[0].SubItems, (Strings{"n1", "t1"}));
    EXPECT_EQ(h.wiz.lvList.rows()[1].SubItems, (Strings{"n2", "t2", "e2"}));
    EXPECT_TRUE(h.wiz.CheckHeader("Name"));
    EXPECT_FALSE(h.wiz.CheckHeader("name"));

    // A root without rows empties the list, columns included.
    h.wiz.FillList(rows(""));
    EXPECT_TRUE(h.wiz.lvList.columns().empty() && h.wiz.lvList.rows().empty());
    EXPECT_TRUE(h.ui.boxes().empty());
}

TEST(ArticleList, BrokenRepliesKeepWhatCameBeforeTheFailure) {
    struct Case {
        const char* name;
        std::string body;
        Strings rowsShown;
        std::string box;
    };
    const Case cases[] = {
        {"same article twice",
         row({"Number", "1"}) + row({"Number", "2"}) + row({"Number", "1"}) + row({"Number", "3"}),
         {"1", "2"},
         "Fehler: 35602\r\nKey is not unique in collection"},
        {"cell with two attributes",
         row({"Number", "1"}) + "<Row><Cell Pos='0' Name='N'/></Row>",
         {"1"},
         "Fehler: 91\r\nObject variable or With block variable not set"},
    };
    for (const Case& c : cases) {
        WizardHarness h;
        h.wiz.FillList(rows(c.body));
        EXPECT_EQ(h.rowTexts(), c.rowsShown) << c.name;
        ASSERT_EQ(h.ui.boxes().size(), 1u) << c.name;
        EXPECT_EQ(h.ui.boxes()[0].text, c.box);
        EXPECT_EQ(h.ui.boxes()[0].buttons, MsgBoxButtons::OkOnly);
        EXPECT_EQ(h.ui.mousePointer(), MousePointer::Default);
    }
}

TEST(ArticleList, AReplyOverABoundIsRefusedNamingItAndTheListStaysAsItWas) {
    struct Case {
        ListReplyReader::Limits limits;
        std::string refusal;
    };
    const std::string three = row({"Number", "2", "Name", "n"}) + row({"Number", "3"}) +
                              row({"Number", "4", "Name", "a longer name"});
    const Case cases[] = {
        {{.maxRows = 2}, "it has more than 2 rows"},
        {{.maxCells = 4}, "it has more than 4 cells"},
        {{.maxText = 30}, "its texts take more than 30 bytes"},
    };
    for (const Case& c : cases) {
        WizardHarness h;
        h.wiz.FillList(rows(row({"Number", "1"})));
        ListReplyReader reader(h.wiz, c.limits);
        try {
            xml::walk(rows(three), reader);
            ADD_FAILURE() << c.refusal;
        } catch (const Error& e) {
            EXPECT_EQ(e.number, err::SoapReplyTooLarge);
            EXPECT_EQ(e.description, "The article list is too large to show: " + c.refusal);
        }
        EXPECT_EQ(h.rowTexts(), Strings{"1"}) << c.refusal;
    }
}

TEST(ArticleList, WidthsCarryOverFromTheSecondFillingOn) {
    WizardHarness h;
    const auto reply = rows(row({"Number", "1", "Name", "n", "NAME", "N"}));
    h.wiz.FillList(reply);
    ASSERT_TRUE(h.wiz.ColumnWidths);
    h.wiz.lvList.setColumnWidth(1, 4000);  // the user widens Name
    h.wiz.FillList(rows(row({"Name", "x", "Number", "2"})));
    EXPECT_EQ(h.headers(), (Strings{"Name", "Number"}));
    EXPECT_EQ(h.wiz.lvList.columns()[0].Width, 4000);
    EXPECT_EQ(h.wiz.lvList.columns()[1].Width, ListView::kDefaultColumnWidth);
    EXPECT_TRUE(h.ui.boxes().empty()) << "headers differing only in case do not fail the list";
}

TEST(ArticleList, CheckBoxesAndMenuKeepTheDownloadList) {
    WizardHarness h;
    h.wiz.FillList(rows(row({"Number", "1"}) + row({"Number", "2"}) + row({"Number", "3"})));
    h.check(0);
    h.check(0, false);
    h.check(0);
    EXPECT_EQ(h.marked(), Strings{"1"});

    h.wiz.DownloadItems->Add("9", "ID_9");  // marked under another leaf
    h.wiz.mnuLvSelectAll_Click();
    EXPECT_EQ(h.marked(), (Strings{"1", "9", "2", "3"}));
    EXPECT_TRUE(h.wiz.IsMarked("2"));
    h.wiz.mnuLvDeselect_Click();
    EXPECT_EQ(h.marked(), Strings{"9"});
    EXPECT_FALSE(h.wiz.IsMarked("2"));

    // Filling again shows the marks the download list holds.
    h.wiz.FillList(rows(row({"Number", "9"}) + row({"Number", "1"})));
    EXPECT_TRUE(h.wiz.lvList.rows()[0].Checked);
    EXPECT_FALSE(h.wiz.lvList.rows()[1].Checked);

    std::vector<std::string> shown;
    h.wiz.PopupMenu = [&](Control& menu, double, double) { shown.push_back(menu.name); };
    h.wiz.lvList_MouseUp(frmWiz::LeftButton, 0, 10, 10);
    h.wiz.lvList_MouseUp(frmWiz::RightButton, 0, 10, 10);
    EXPECT_EQ(shown, Strings{"mnuLvView"});
}

}  // namespace
}  // namespace ovk
