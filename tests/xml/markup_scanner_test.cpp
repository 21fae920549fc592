// SPDX-License-Identifier: MIT
#include "xml/markup_scanner.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ovk::xml::MarkupScanner;
using Kind = MarkupScanner::Kind;

char letter(Kind kind) {
    switch (kind) {
        case Kind::Text:
            return 'T';
        case Kind::Tag:
            return 'G';
        case Kind::Comment:
            return 'C';
        case Kind::Instruction:
            return 'P';
        case Kind::Cdata:
            return 'D';
        case Kind::Declaration:
            return 'X';
    }
    return '?';
}

struct Scan {
    std::string constructs;  // "G[a]T[x]D[y" : kind, content, "]" when closed
    std::string rebuilt;     // openers, contents and closers in order: the input again
    std::string failure;     // a piece whose offset does not point at its content
};

// Scans `input` split at every offset in `splits` (ascending) and joins the pieces again.
Scan scan(std::string_view input, const std::vector<std::size_t>& splits) {
    MarkupScanner scanner;
    Scan result;
    bool open = false;
    Kind openKind = Kind::Text;
    const auto take = [&](const MarkupScanner::Piece& piece) {
        if (piece.offset + piece.content.size() > input.size() ||
            input.substr(piece.offset, piece.content.size()) != piece.content)
            result.failure = "piece at " + std::to_string(piece.offset);
        if (piece.starts == open || (!piece.starts && openKind != piece.kind))
            result.failure = "piece at " + std::to_string(piece.offset) + " starts nothing new";
        if (piece.starts) {
            result.constructs += letter(piece.kind);
            result.constructs += '[';
            result.rebuilt += MarkupScanner::opener(piece.kind);
            open = true;
            openKind = piece.kind;
        }
        result.constructs += piece.content;
        result.rebuilt += piece.content;
        if (piece.ends) {
            result.constructs += ']';
            result.rebuilt += MarkupScanner::closer(piece.kind);
            open = false;
        }
    };
    std::size_t from = 0;
    std::vector<std::size_t> cuts = splits;
    cuts.push_back(input.size());
    MarkupScanner::Piece piece;
    for (const std::size_t cut : cuts) {
        scanner.feed(input.substr(from, cut - from));
        while (scanner.next(piece)) take(piece);
        from = cut;
    }
    if (scanner.finish(piece)) take(piece);
    return result;
}

struct Case {
    const char* name;
    std::string input;
    std::string constructs;
};

// Text at the end of the input never gets its "]": its end is the input's.
const Case kCases[] = {
    {"elements and text", "<a x='1'>hi</a>", "G[a x='1']T[hi]G[/a]"},
    {"empty element and declaration", "<?xml version=\"1.0\"?><a/>", "P[xml version=\"1.0\"]G[a/]"},
    {"instruction holding a CDATA opener", "<a><?pi <![CDATA[ ?><![CDATA[x]]></a>",
     "G[a]P[pi <![CDATA[ ]D[x]G[/a]"},
    {"comment holding markup", "<!-- <![CDATA[ <b> -- x --><c/>", "C[ <![CDATA[ <b> -- x ]G[c/]"},
    {"attribute values holding > and quotes", "<a t=\"x>y\" u='\"<![CDATA[>'>z</a>",
     "G[a t=\"x>y\" u='\"<![CDATA[>']T[z]G[/a]"},
    {"CDATA with brackets", "<a><![CDATA[]]]]]><![CDATA[x]y]>z]]></a>", "G[a]D[]]]]D[x]y]>z]G[/a]"},
    {"DOCTYPE with a subset", "<!DOCTYPE a [<!ENTITY e \"]>\">]><a>&e;</a>",
     "X[DOCTYPE a [<!ENTITY e \"]>\">]]G[a]T[&e;]G[/a]"},
    {"openers that are something else", "<!-x><![CDAT y]><a>", "X[-x]X[[CDAT y]]G[a]"},
    {"comment and instruction closers after their own bytes", "<!-----><?a?\?>t", "C[-]P[a?]T[t"},
    {"text around markup with > in it", "x > y<a>b]]>c", "T[x > y]G[a]T[b]]>c"},
    {"unclosed CDATA", "<a><![CDATA[abc]]", "G[a]D[abc]]"},
    {"unclosed opener", "<a><![CD", "G[a]X[[CD"},
    {"unclosed comment", "<!-- x -", "C[ x -"},
    {"lone less-than at the end", "ab<", "T[ab]G["},
};

TEST(MarkupScanner, ReadsTheSameAtEverySplitPoint) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Scan whole = scan(c.input, {});
        EXPECT_EQ(whole.constructs, c.constructs);
        EXPECT_EQ(whole.rebuilt, c.input);
        EXPECT_EQ(whole.failure, "");
        for (std::size_t split = 1; split < c.input.size(); ++split) {
            const Scan cut = scan(c.input, {split});
            EXPECT_EQ(cut.constructs, c.constructs) << "split at " << split;
            EXPECT_EQ(cut.rebuilt, c.input) << "split at " << split;
            EXPECT_EQ(cut.failure, "") << "split at " << split;
        }
        std::vector<std::size_t> everyByte;
        for (std::size_t at = 1; at < c.input.size(); ++at) everyByte.push_back(at);
        const Scan bytes = scan(c.input, everyByte);
        EXPECT_EQ(bytes.constructs, c.constructs) << "a byte at a time";
        EXPECT_EQ(bytes.rebuilt, c.input) << "a byte at a time";
    }
}

TEST(MarkupScanner, TellsWhereAnOpenConstructBegan) {
    MarkupScanner scanner;
    scanner.feed("<a><!-- <![CDATA[ --><![CDATA[open");
    MarkupScanner::Piece piece;
    while (scanner.next(piece)) {
    }
    EXPECT_EQ(scanner.inside(), Kind::Cdata);
    EXPECT_EQ(scanner.constructStart(), 21u);
    scanner.feed("]]><b>");
    while (scanner.next(piece)) {
    }
    EXPECT_EQ(scanner.inside(), Kind::Text);
}

TEST(MarkupScanner, ResumesAfterAConstructItWasNotShown) {
    MarkupScanner scanner;
    scanner.feed("<a><![CDATA[");
    MarkupScanner::Piece piece;
    while (scanner.next(piece)) {
    }
    scanner.resumeAt(100);
    scanner.feed("<b>");
    ASSERT_TRUE(scanner.next(piece));
    EXPECT_EQ(piece.kind, Kind::Tag);
    EXPECT_EQ(piece.content, "b");
    EXPECT_EQ(piece.offset, 101u);

    // Inside a section whose start it was not shown: its content goes on, and ends.
    scanner.resumeAt(200, Kind::Cdata);
    scanner.feed("x]]><c>");
    ASSERT_TRUE(scanner.next(piece));
    EXPECT_EQ(piece.kind, Kind::Cdata);
    EXPECT_EQ(piece.content, "x");
    EXPECT_FALSE(piece.starts);
    EXPECT_TRUE(piece.ends);
    ASSERT_TRUE(scanner.next(piece));
    EXPECT_EQ(piece.content, "c");
}

}  // namespace
