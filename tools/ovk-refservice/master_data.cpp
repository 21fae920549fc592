// SPDX-License-Identifier: MIT
#include "master_data.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <numeric>

#include "natural_order.hpp"
#include "node_key.hpp"
#include "xml_text.hpp"

namespace ovk::refservice {
namespace {

// Base64 in a CDATA section (the service's own way) or as element text; Base64 never holds
// "]]>" nor a character that needs escaping. Stacks that indent around sections put a line
// break and indentation on each side.
void openBinary(std::string& out, const Base64Layout& layout) {
    if (layout.asText) return;
    if (layout.spacedSections) out += "\n      ";
    out += "<![CDATA[";
}
void closeBinary(std::string& out, const Base64Layout& layout) {
    if (layout.asText) return;
    out += "]]>";
    if (layout.spacedSections) out += "\n    ";
}

// A symbol or GER record: always a CDATA section, spaced as the layout has sections.
void appendRecord(std::string& out, std::string_view record, const Base64Layout& layout) {
    if (layout.spacedSections) out += "\n      ";
    appendCData(out, record);
    if (layout.spacedSections) out += "\n    ";
}

// Exception numbers of the service. 32 is the one the client's start-up knows for rejected
// credentials; the others only need to be distinct and stable for tests.
constexpr int kCombinationNotFound = 32;
constexpr int kArticleNotFound = 33;
constexpr int kFieldNotFound = 34;
constexpr int kInvalidNodeKey = 35;

std::string source(Operation op) {
    return "VelmoraSvr." + std::string(operationName(op));
}

int16_t shortArgument(const std::string& text, std::string_view name) {
    // xs:short: optional sign, digits, white space around collapsed away.
    const auto first = text.find_first_not_of(" \t\r\n");
    const auto last = text.find_last_not_of(" \t\r\n");
    std::string_view digits = first == std::string::npos
                                  ? std::string_view()
                                  : std::string_view(text).substr(first, last - first + 1);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    int16_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
        throw BadRequest(std::string(name) + " must be a signed 16-bit number, not \"" + text +
                         "\"");
    return value;
}

// "Field" and the identifier with at least two digits: the name the client's structure
// download gives the field, so item content and structure use the same names.
std::string fieldElementName(int id) {
    return id < 10 ? "Field0" + std::to_string(id) : "Field" + std::to_string(id);
}

ReplyBody exceptionBody(int id, std::string_view description, Operation op) {
    return ReplyBody(MasterData::exceptionElement(id, description, source(op)));
}

}  // namespace

MasterData::MasterData(const Catalog& catalog, AnswerOverrides overrides)
    : catalog_(catalog), overrides_(std::move(overrides)) {}

std::string MasterData::exceptionElement(int id, std::string_view description,
                                         std::string_view source) {
    std::string out = "<Exception";
    appendAttribute(out, "ID", std::to_string(id));
    appendAttribute(out, "Description", description);
    appendAttribute(out, "Source", source);
    out += "/>";
    return out;
}

ReplyBody MasterData::answer(const Call& call) const {
    const auto& args = call.arguments;
    switch (call.operation) {
        case Operation::HelloWorld: {
            ReplyBody body;
            appendText(body.text(), overrides_.hello);
            return body;
        }
        case Operation::GetClientData:
            shortArgument(args.at(1), "guiLangId");
            return clientData();
        default:
            break;
    }

    // Every project operation checks the same three values first. The answer does not say
    // which of them was wrong, so that it cannot be used to probe for project names.
    const int16_t language = shortArgument(args.at(2), "langId");
    const Project* project = catalog_.findProject(args.at(1));
    if (!project || project->password != args.at(0) || !project->hasLanguage(language))
        return exceptionBody(kCombinationNotFound,
                             "Combination of ProjectID,Password and LangID not found",
                             call.operation);

    switch (call.operation) {
        case Operation::getStructure:
            return structure(*project, language);
        case Operation::GetDefaultSelect:
            return defaultSelect(*project);
        case Operation::getTreeData:
            if (!overrides_.treeShape.empty()) return shapedTree(*project, args.at(3));
            return tree(*project, args.at(3));
        case Operation::GetSelectionData:
            if (overrides_.leafRows > 0) return generatedRows();
            return selection(*project, language, args.at(3));
        case Operation::GetItemData:
            return item(*project, args.at(3));
        default:
            return {};
    }
}

ReplyBody MasterData::clientData() const {
    const ClientData& data = catalog_.clientData;
    ReplyBody body;
    std::string& out = body.text();
    out += "<ClientData";
    appendAttribute(out, "Version", overrides_.clientVersion.value_or(data.version));
    appendAttribute(out, "Installer", data.installer);
    appendAttribute(out, "Reserved", "");
    appendAttribute(out, "BannerURL", data.bannerUrl);
    appendAttribute(out, "MailURL", data.mailUrl);
    out += '>';
    openBinary(out, overrides_.base64);
    LineBreaker(overrides_.base64.lineLength).append(data.bannerBase64, out);
    closeBinary(out, overrides_.base64);
    out += "</ClientData>";
    return body;
}

ReplyBody MasterData::structure(const Project& project, int16_t language) const {
    ReplyBody body;
    std::string& out = body.text();
    out += "<Structure>";
    for (const Field& field : project.fields) {
        out += "<Field";
        appendAttribute(out, "Project", project.id);
        appendAttribute(out, "Lang", std::to_string(language));
        appendAttribute(out, "ID", std::to_string(field.id));
        appendAttribute(out, "Name", field.nameIn(language));
        appendAttribute(out, "Type", field.type);
        appendAttribute(out, "Code", field.code);
        out += "/>";
    }
    out += "</Structure>";
    return body;
}

ReplyBody MasterData::defaultSelect(const Project& project) const {
    ReplyBody body;
    std::string& out = body.text();
    if (project.defaultSelect.empty()) {
        out += "<Error";
        appendAttribute(out, "Description", "No default selection for project " + project.id);
        out += "/>";
        return body;
    }
    out += "<Select>";
    for (const int id : project.defaultSelect) {
        out += "<Field";
        appendAttribute(out, "ID", std::to_string(id));
        out += "/>";
    }
    out += "</Select>";
    return body;
}

ReplyBody MasterData::tree(const Project& project, const std::string& fieldList) const {
    // The levels of the tree: positions of the requested fields in the article values.
    std::vector<std::size_t> levels;
    std::vector<int> ids;
    std::size_t start = 0;
    while (start <= fieldList.size()) {
        std::size_t end = fieldList.find(',', start);
        if (end == std::string::npos) end = fieldList.size();
        std::string_view part = std::string_view(fieldList).substr(start, end - start);
        while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
        if (!part.empty()) {
            int id = 0;
            const auto [p, ec] = std::from_chars(part.data(), part.data() + part.size(), id);
            const auto index = ec == std::errc() && p == part.data() + part.size()
                                   ? project.fieldIndex(id)
                                   : std::nullopt;
            if (!index)
                return exceptionBody(
                    kFieldNotFound,
                    "Field " + std::string(part) + " not found in project " + project.id,
                    Operation::getTreeData);
            levels.push_back(*index);
            ids.push_back(id);
        }
        start = end + 1;
    }

    ReplyBody body;
    std::string& out = body.text();
    out += "<Node ID=\"0\"";
    appendAttribute(out, "Value", project.rootValue);
    if (levels.empty() || project.articles.empty()) {
        out += "/>";
        return body;
    }
    out += ">";

    // Sorting the articles by their path turns the tree into one pass: each article opens the
    // levels from the first one where it differs from the article before it.
    std::vector<std::size_t> order(project.articles.size());
    std::iota(order.begin(), order.end(), 0);
    const auto value = [&](std::size_t article, std::size_t level) -> const std::string& {
        return project.articles[article].values[levels[level]];
    };
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (std::size_t l = 0; l < levels.size(); ++l) {
            const std::string& va = value(a, l);
            const std::string& vb = value(b, l);
            if (va != vb) return naturalLess(va, vb);
        }
        return false;
    });

    const std::size_t depth = levels.size();
    std::size_t open = 0;  // levels whose element is open, counted from the first
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::size_t same = 0;
        if (i > 0)
            while (same < depth && value(order[i], same) == value(order[i - 1], same)) ++same;
        if (i > 0 && same == depth) continue;  // the same path again
        for (; open > same; --open) out += "</Node>";
        for (std::size_t l = same; l < depth; ++l) {
            out += "<Node";
            appendAttribute(out, "ID", std::to_string(ids[l]));
            appendAttribute(out, "Value", value(order[i], l));
            if (l + 1 < depth) {
                out += ">";
                ++open;
            } else {
                out += "/>";
            }
        }
    }
    for (; open > 0; --open) out += "</Node>";
    out += "</Node>";
    return body;
}

ReplyBody MasterData::selection(const Project& project, int16_t language,
                                const std::string& nodeKey) const {
    std::string error;
    const auto levels = decodeNodeKey(nodeKey, error);
    if (!levels)
        return exceptionBody(kInvalidNodeKey, "Invalid node key: " + error,
                             Operation::GetSelectionData);

    std::vector<std::pair<std::size_t, const std::string*>> conditions;
    for (const NodeLevel& level : *levels) {
        const auto index = project.fieldIndex(level.fieldId);
        if (!index)
            return exceptionBody(
                kFieldNotFound,
                "Field " + std::to_string(level.fieldId) + " not found in project " + project.id,
                Operation::GetSelectionData);
        conditions.emplace_back(*index, &level.value);
    }

    ReplyBody body;
    std::string& out = body.text();
    out += "<Rows>";
    for (const Article& article : project.articles) {
        const bool matches = std::all_of(conditions.begin(), conditions.end(), [&](const auto& c) {
            return article.values[c.first] == *c.second;
        });
        if (!matches) continue;
        out += "<Row><Cell Pos=\"0\" Name=\"Number\"";
        appendAttribute(out, "Value", article.id);
        out += "/>";
        for (std::size_t f = 0; f < project.fields.size(); ++f) {
            out += "<Cell";
            appendAttribute(out, "Pos", std::to_string(f + 1));
            appendAttribute(out, "Name", project.fields[f].nameIn(language));
            appendAttribute(out, "Value", article.values[f]);
            out += "/>";
        }
        out += "</Row>";
    }
    out += "</Rows>";
    return body;
}

ReplyBody MasterData::shapedTree(const Project& project, const std::string& fieldList) const {
    // Each level takes the identifier of the field requested for it, as a real tree does.
    std::vector<std::string> ids;
    for (std::size_t start = 0; start < fieldList.size();) {
        std::size_t end = fieldList.find(',', start);
        if (end == std::string::npos) end = fieldList.size();
        ids.push_back(fieldList.substr(start, end - start));
        start = end + 1;
    }
    static constexpr std::array<const char*, 3> kNames{"Group", "Maker", "Type"};
    const std::vector<std::size_t>& shape = overrides_.treeShape;
    ReplyBody body;
    std::string& out = body.text();
    out += "<Node ID=\"0\"";
    appendAttribute(out, "Value", project.rootValue);
    out += ">";
    // Depth-first over the shape: position[l] is the child being written on level l.
    std::vector<std::size_t> position(shape.size(), 0);
    std::size_t level = 0;
    while (true) {
        if (position[level] == shape[level]) {
            if (level == 0) break;
            position[level] = 0;
            --level;
            out += "</Node>";
            ++position[level];
            continue;
        }
        out += "<Node";
        appendAttribute(out, "ID", level < ids.size() ? ids[level] : std::to_string(level + 1));
        appendAttribute(out, "Value",
                        std::string(level < kNames.size() ? kNames[level] : "Level") + " " +
                            std::to_string(position[level]));
        if (level + 1 < shape.size()) {
            out += ">";
            ++level;
        } else {
            out += "/>";
            ++position[level];
        }
    }
    out += "</Node>";
    return body;
}

ReplyBody MasterData::generatedRows() const {
    ReplyBody body;
    std::string& out = body.text();
    out += "<Rows>";
    for (std::size_t row = 0; row < overrides_.leafRows; ++row) {
        out += "<Row><Cell Pos=\"0\" Name=\"Number\"";
        appendAttribute(out, "Value", "G" + std::to_string(100000 + row));
        out += "/>";
        for (int column = 1; column < 12; ++column) {
            out += "<Cell";
            appendAttribute(out, "Pos", std::to_string(column));
            appendAttribute(out, "Name", "Column " + std::to_string(column));
            appendAttribute(out, "Value", "value " + std::to_string(row * 12 + column));
            out += "/>";
        }
        out += "</Row>";
    }
    out += "</Rows>";
    return body;
}

ReplyBody MasterData::item(const Project& project, const std::string& materialId) const {
    const Article* article = project.findArticle(materialId);
    if (!article)
        return exceptionBody(kArticleNotFound,
                             "Article " + materialId + " not found in project " + project.id,
                             Operation::GetItemData);

    ReplyBody body;
    {
        std::string& out = body.text();
        out += "<root><Articleinfo>";
        appendTextElement(out, "Number", article->id);
        for (std::size_t f = 0; f < project.fields.size(); ++f)
            appendTextElement(out, fieldElementName(project.fields[f].id), article->values[f]);
        out += "<COMPONENTS>";
        for (const Component& c : article->components) {
            out += "<Component>";
            appendTextElement(out, "Number", c.number);
            appendTextElement(out, "Quantity", c.quantity);
            appendTextElement(out, "Name", c.name);
            out += "</Component>";
        }
        out += "</COMPONENTS><BINARY><SYMBOLS>";
        for (const std::string& symbol : article->symbols) {
            out += "<Symbol>";
            appendRecord(out, symbol, overrides_.base64);
            out += "</Symbol>";
        }
        out += "</SYMBOLS><GERS>";
        for (const std::string& ger : article->gers) {
            out += "<Ger>";
            appendRecord(out, ger, overrides_.base64);
            out += "</Ger>";
        }
        out += "</GERS><DOCUMENTS>";
    }
    for (const DocumentFile& document : article->documents) {
        std::string& out = body.text();
        out += "<Document";
        appendAttribute(out, "Name", document.name);
        out += '>';
        openBinary(out, overrides_.base64);
        body.appendBase64OfFile(document.path, document.size, overrides_.base64.lineLength);
        closeBinary(body.text(), overrides_.base64);
        body.append("</Document>");
    }
    body.append("</DOCUMENTS></BINARY></Articleinfo></root>");
    return body;
}

}  // namespace ovk::refservice
