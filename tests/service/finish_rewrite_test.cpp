// SPDX-License-Identifier: MIT
// Finish: the download file tidied and rewritten in its final form, safely.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "download_harness.hpp"
#include "platform/errors.hpp"
#include "service/document_store.hpp"
#include "service/finish_rewrite.hpp"
#include "service/released_texts.hpp"

namespace ovk {
namespace {

using test::readAll;
using test::TempDir;

std::string withProject(const std::string& content) {
    return "<?xml version=\"1.0\"?>\n<Download><System>TARVO</System><Project>" + content +
           "</Project></Download>\n";
}

// The rewritten file without the writer's indentation, to compare content.
std::string compact(const std::filesystem::path& path) {
    xml::Document document = xml::Document::loadFile(path);
    document.root().dropWhitespaceText();
    std::string text = document.toString();
    return text.substr(text.find("<Download>"));
}

TEST(FinishRewrite, RemovesEmptyResultGroupsAndEmptyItems) {
    struct Case {
        const char* name;
        std::string project;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"an item whose groups were all empty goes",
         "<Articleinfo><COMPONENTS/><SYMBOLS></SYMBOLS><GERS/></Articleinfo>", ""},
        {"a group with content stays, its empty siblings go",
         "<Articleinfo><COMPONENTS><C>1</C></COMPONENTS><symbols/><Gers/></Articleinfo>",
         "<Articleinfo><COMPONENTS><C>1</C></COMPONENTS></Articleinfo>"},
        {"other empty children stay, and so does their item",
         "<Articleinfo><Number/><GERS/></Articleinfo>", "<Articleinfo><Number/></Articleinfo>"},
        {"an item is compared without case, a group's parent must be named exactly",
         "<ARTICLEINFO/><articleinfo><GERS/></articleinfo><Other><GERS/></Other>",
         "<articleinfo><GERS/></articleinfo><Other><GERS/></Other>"},
        {"white space is content",
         "<Articleinfo><SYMBOLS> </SYMBOLS></Articleinfo><Articleinfo> </Articleinfo>",
         "<Articleinfo><SYMBOLS> </SYMBOLS></Articleinfo><Articleinfo> </Articleinfo>"},
        {"items outside the first Project are tidied but kept",
         "<Structure><Articleinfo><GERS/></Articleinfo></Structure>",
         "<Structure><Articleinfo/></Structure>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto path = dir.write("download.xml", withProject(c.project));
        RewriteDownloadFile(path);
        const std::string project =
            c.expected.empty() ? "<Project/>" : "<Project>" + c.expected + "</Project>";
        EXPECT_EQ(compact(path), "<Download><System>TARVO</System>" + project + "</Download>\n");
    }
}

TEST(FinishRewrite, WritesIndentedUtf8AndKeepsWhatTheDocumentSaysBesideElements) {
    TempDir dir;
    const auto path =
        dir.write("download.xml",
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                  "<!DOCTYPE Download [<!ELEMENT Download ANY>]>\n"
                  "<!-- written by the host -->\n"
                  "<Download a=\"1 &amp; 2\"><System>TARVO</System><?host keep?><Project>"
                  "<Articleinfo><Name>Gr\xF6\xDF"
                  "e &amp; &lt;b&gt;</Name><Sym><![CDATA[<raw> & ]]></Sym></Articleinfo>"
                  "</Project></Download>");
    RewriteDownloadFile(path);
    const std::string text = readAll(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u) << text;
    EXPECT_NE(text.find("<!DOCTYPE Download"), std::string::npos) << text;
    EXPECT_NE(text.find("<!ELEMENT Download ANY>"), std::string::npos) << text;
    EXPECT_NE(text.find("<!-- written by the host -->"), std::string::npos) << text;
    EXPECT_NE(text.find("<?host keep?>"), std::string::npos) << text;
    EXPECT_NE(text.find("<Sym><![CDATA[<raw> & ]]></Sym>"), std::string::npos) << text;
    EXPECT_NE(text.find("Größe &amp; &lt;b&gt;</Name>"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  <System>TARVO</System>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n      <Name>"), std::string::npos) << text;
    // Well-formed, and the same content as before.
    const xml::Document reread = xml::Document::loadFile(path);
    EXPECT_EQ(reread.firstElementByName("Sym").text(), "<raw> & ");
    EXPECT_EQ(reread.root().attribute("a"), "1 & 2");
}

// Payload-sized sections are copied from the file rather than parsed: what a section holds,
// where it joins its neighbours and what only looks like a section must come out as before.
TEST(FinishRewrite, CopiesLargeSectionsExactly) {
    // Above the size parsed as it is, across the blocks the file is read in, with ']' where a
    // "]]>" could begin.
    std::string big;
    while (big.size() < (std::size_t{9} << 20)) big += "0123456789+/]]x]ab]";
    big += "]";
    struct Case {
        const char* name;
        std::string content;   // of Articleinfo
        std::string expected;  // in the rewritten file
    };
    const std::vector<Case> cases = {
        {"a section alone", "<Doc><![CDATA[" + big + "]]></Doc>",
         "<Doc><![CDATA[" + big + "]]></Doc>"},
        {"a file read whole at once", "<Doc><![CDATA[" + big.substr(0, 20 << 10) + "]]></Doc>",
         "<Doc><![CDATA[" + big.substr(0, 20 << 10) + "]]></Doc>"},
        {"adjacent sections are joined, a \"]]>\" between them split again",
         "<Doc><![CDATA[" + big + "]]]]><![CDATA[>" + big + "]]><![CDATA[end]]></Doc>",
         "<Doc><![CDATA[" + big + "]]]]><![CDATA[>" + big + "end]]></Doc>"},
        {"a small section beside a large one", "<Doc><![CDATA[]]]]><![CDATA[>" + big + "]]></Doc>",
         "<Doc><![CDATA[]]]]><![CDATA[>" + big + "]]></Doc>"},
        {"section openings in comments and instructions are no sections",
         "<!-- <![CDATA[ --><?pi <![CDATA[ ?><Doc a=\"x]]>\"><![CDATA[" + big + "]]></Doc>",
         "<!-- <![CDATA[ -->\n<?pi <![CDATA[ ?>\n      <Doc a=\"x]]&gt;\"><![CDATA[" + big +
             "]]></Doc>"},
    };
    // Finish knows where the texts the download saved stand, and copies them unread; where the
    // file no longer has them there, it reads the section as it is.
    const auto savedSections = [](const std::string& text, std::size_t shorter) {
        std::vector<CDataStandIns::Range> sections;
        for (std::size_t at = 0; (at = text.find("<![CDATA[", at)) != std::string::npos; ++at) {
            const std::size_t content = at + 9;
            const std::size_t length = text.find("]]>", content) - content;
            if (length >= ReleasedTexts::kReleasedFrom)
                sections.push_back({static_cast<off_t>(content), length - shorter});
        }
        return sections;
    };
    for (const Case& c : cases) {
        for (const int known : {0, 1, 2}) {
            SCOPED_TRACE(c.name + std::string(known == 0   ? ", read through"
                                              : known == 1 ? ", sections known"
                                                           : ", sections known wrongly"));
            TempDir dir;
            const std::string before = withProject("<Articleinfo>" + c.content + "</Articleinfo>");
            const auto path = dir.write("download.xml", before);
            {
                DocumentStore document(path);
                RewriteDownloadFile(document, known == 0
                                                  ? std::vector<CDataStandIns::Range>{}
                                                  : savedSections(before, known == 2 ? 1 : 0));
            }
            const std::string text = readAll(path);
            EXPECT_NE(text.find("\n      " + c.expected + "\n    </Articleinfo>"),
                      std::string::npos)
                << text.substr(0, 300);
        }
    }
    // A large section that never ends is refused like any broken file.
    TempDir dir;
    const std::string broken = withProject("<Articleinfo><Doc><![CDATA[" + big);
    const auto path = dir.write("download.xml", broken);
    EXPECT_THROW(RewriteDownloadFile(path), Error);
    EXPECT_EQ(readAll(path), broken);
}

TEST(FinishRewrite, FailsWithoutTouchingTheFileOrLeavingACopy) {
    TempDir dir;
    const std::string broken = withProject("<Articleinfo><GERS/></Articleinfo>") + "<trailing";
    const auto path = dir.write("download.xml", broken);
    EXPECT_THROW(RewriteDownloadFile(path), Error);
    EXPECT_EQ(readAll(path), broken);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
    try {
        RewriteDownloadFile(dir / "missing.xml");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::FileNotFound);
    }
}

TEST(FinishRewrite, KeepsTheFilesPermissions) {
    TempDir dir;
    const auto path = dir.write("download.xml", withProject(""));
    ::chmod(path.c_str(), 0640);
    RewriteDownloadFile(path);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(FinishRewrite, TheHandlerRaisesDownloadCompleteOnceAfterTheRewrite) {
    test::DownloadHarness h;
    h.load(withProject("<Articleinfo><GERS/></Articleinfo>"));
    struct Checking : test::RecordingEvents {
        std::filesystem::path path;
        std::string seen;
        void DownloadComplete() override {
            seen = readAll(path);
            test::RecordingEvents::DownloadComplete();
        }
    } events;
    events.path = h.downloadFile();
    h.impl->events = &events;
    h.impl->Finish();
    EXPECT_EQ(events.log, std::vector<std::string>{"DownloadComplete"});
    EXPECT_EQ(events.seen.find("Articleinfo"), std::string::npos) << events.seen;

    std::filesystem::remove(h.downloadFile());
    events.log.clear();
    EXPECT_THROW(h.impl->Finish(), Error);
    EXPECT_TRUE(events.log.empty());
}

}  // namespace
}  // namespace ovk
