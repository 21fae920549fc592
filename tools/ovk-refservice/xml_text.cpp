// SPDX-License-Identifier: MIT
#include "xml_text.hpp"

namespace ovk::refservice {
namespace {

bool forbiddenControl(unsigned char c) {
    return c < 0x20 && c != '\t' && c != '\n' && c != '\r';
}

// Element content and attribute values escape the same markup characters; a value also keeps
// its quote and the white space that attribute-value normalisation would turn into blanks.
void appendEscaped(std::string& out, std::string_view text, bool attributeValue) {
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                continue;
            case '<':
                out += "&lt;";
                continue;
            case '>':
                out += "&gt;";
                continue;
            case '\r':
                out += "&#13;";
                continue;
            default:
                break;
        }
        if (attributeValue) {
            if (ch == '"') {
                out += "&quot;";
                continue;
            }
            if (ch == '\t') {
                out += "&#9;";
                continue;
            }
            if (ch == '\n') {
                out += "&#10;";
                continue;
            }
        }
        if (!forbiddenControl(static_cast<unsigned char>(ch))) out.push_back(ch);
    }
}

}  // namespace

void appendText(std::string& out, std::string_view text) {
    appendEscaped(out, text, false);
}

void appendAttributeValue(std::string& out, std::string_view text) {
    appendEscaped(out, text, true);
}

void appendCData(std::string& out, std::string_view text) {
    out += "<![CDATA[";
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (forbiddenControl(c)) {
            out.append(text.substr(start, i - start));
            start = i + 1;
        } else if (text.compare(i, 3, "]]>") == 0) {
            // End the section between "]]" and ">" so neither section holds the terminator.
            out.append(text.substr(start, i + 2 - start));
            out += "]]><![CDATA[";
            start = i + 2;
            i += 1;
        }
    }
    out.append(text.substr(start));
    out += "]]>";
}

void appendAttribute(std::string& out, std::string_view name, std::string_view value) {
    out.push_back(' ');
    out.append(name);
    out += "=\"";
    appendAttributeValue(out, value);
    out.push_back('"');
}

void appendTextElement(std::string& out, std::string_view name, std::string_view text) {
    out.push_back('<');
    out.append(name);
    out.push_back('>');
    appendText(out, text);
    out += "</";
    out.append(name);
    out.push_back('>');
}

}  // namespace ovk::refservice
