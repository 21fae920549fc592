// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace ovk::refservice {

// Replies are written as text rather than built as a tree: they are large, flat and written
// once, and text keeps the attribute order the client reads by position exactly as written.
// Characters XML 1.0 cannot carry at all (controls other than tab, line feed and carriage
// return) are dropped, so catalogue data can never make a reply ill-formed.

// Element content: escapes &, < and > (and carriage return, which a parser would fold).
void appendText(std::string& out, std::string_view text);

// Attribute value in double quotes (the quotes not included): also escapes the quote and
// the white space that attribute-value normalisation would otherwise turn into blanks.
void appendAttributeValue(std::string& out, std::string_view text);

// A CDATA section holding `text`; a "]]>" inside is split across two sections.
void appendCData(std::string& out, std::string_view text);

// ` name="value"`.
void appendAttribute(std::string& out, std::string_view name, std::string_view value);

// `<name>text</name>`.
void appendTextElement(std::string& out, std::string_view name, std::string_view text);

}  // namespace ovk::refservice
