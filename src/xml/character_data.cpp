// SPDX-License-Identifier: MIT
#include "xml/character_data.hpp"

#include <libxml/tree.h>

#include <cstring>

namespace ovk::xml {
namespace {

bool isData(const Node& node) {
    return node.kind() == NodeKind::CData || node.kind() == NodeKind::Text;
}

bool isBlankText(const Node& node) {
    if (node.kind() != NodeKind::Text) return false;
    // Read where it lies: a text beside a section may be a payload of its own.
    const auto* text = reinterpret_cast<const char*>(node.raw()->content);
    return text == nullptr || text[std::strspn(text, " \t\r\n")] == '\0';
}

// The run of data nodes the element starts with: [first, end).
struct DataRun {
    Node first;
    bool hasSection = false;
};

DataRun dataRun(const Node& element) {
    DataRun run;
    run.first = element.firstChild();
    for (Node child = run.first; child && isData(child); child = child.nextSibling())
        run.hasSection = run.hasSection || child.kind() == NodeKind::CData;
    if (run.first && !isData(run.first)) run.first = Node();
    return run;
}

// Whether `node` belongs to the data: every node of a plain text, only the sections and text
// that is not blank beside them.
bool counts(const Node& node, bool hasSection) {
    return !hasSection || !isBlankText(node);
}

}  // namespace

std::optional<std::string> characterData(const Node& element) {
    const DataRun run = dataRun(element);
    if (!run.first) return std::nullopt;
    std::string data;
    for (Node child = run.first; child && isData(child); child = child.nextSibling()) {
        if (counts(child, run.hasSection)) data += child.text();
    }
    return data;
}

Node soleCharacterDataNode(const Node& element) {
    const DataRun run = dataRun(element);
    Node sole;
    for (Node child = run.first; child && isData(child); child = child.nextSibling()) {
        if (!counts(child, run.hasSection)) continue;
        if (sole) return Node();
        sole = child;
    }
    return sole;
}

}  // namespace ovk::xml
