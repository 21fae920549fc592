// SPDX-License-Identifier: MIT
// The service's indented replies: white space between elements only, and every piece of
// content exactly as it was, even when the reply arrives in pieces.

#include <gtest/gtest.h>

#include <string>

#include "reply_indenter.hpp"
#include "xml/document.hpp"

namespace ovk::refservice {
namespace {

TEST(RefserviceIndent, AddsLineBreaksBetweenElementsOnly) {
    struct Case {
        const char* plain;
        const char* indented;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\"?><a><b/><c>text</c></a>",
         "<?xml version=\"1.0\"?>\n<a>\n  <b/>\n  <c>text</c>\n</a>"},
        {"<a><e></e></a>", "<a>\n  <e></e>\n</a>"},
        {"<a x='>/' y=\"&gt;\"><b z='/>'/></a>", "<a x='>/' y=\"&gt;\">\n  <b z='/>'/>\n</a>"},
        {"<a><![CDATA[<b/> ]]></a>", "<a><![CDATA[<b/> ]]></a>"},
        {"<a><!-- <b/> --><b/></a>", "<a>\n  <!-- <b/> -->\n  <b/>\n</a>"},
        {"<a>t<b/>u</a>", "<a>t<b/>u</a>"},
        {"<r><n><n/></n></r>", "<r>\n  <n>\n    <n/>\n  </n>\n</r>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(indentedText(c.plain), c.indented) << c.plain;
        // The same, fed one character at a time.
        XmlIndenter indenter;
        std::string out;
        for (const char ch : std::string(c.plain)) indenter.feed(std::string_view(&ch, 1), out);
        EXPECT_EQ(out, c.indented) << c.plain;
        EXPECT_NO_THROW(xml::Document::loadMemory(out)) << out;
    }
}

}  // namespace
}  // namespace ovk::refservice
