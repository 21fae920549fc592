// SPDX-License-Identifier: MIT
#include "catalog.hpp"

#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "base64.hpp"
#include "embedded_resources.hpp"

namespace ovk::refservice {
namespace {

using nlohmann::json;

// Errors name the file and the JSON path of the entry, so a hand-edited catalogue can be
// fixed without guessing.
class Context {
  public:
    Context(std::string file, std::string path) : file_(std::move(file)), path_(std::move(path)) {}
    Context at(const std::string& key) const { return {file_, path_ + "." + key}; }
    Context at(std::size_t index) const {
        return {file_, path_ + "[" + std::to_string(index) + "]"};
    }
    [[noreturn]] void fail(const std::string& what) const {
        throw std::runtime_error(file_ + ": " + path_ + ": " + what);
    }

  private:
    std::string file_;
    std::string path_;
};

const json* member(const json& object, const char* key) {
    const auto it = object.find(key);
    return it == object.end() || it->is_null() ? nullptr : &*it;
}

// Values may be written as JSON numbers or strings; either way the service answers text.
std::string scalarText(const json& value, const Context& where) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number_integer()) return std::to_string(value.get<long long>());
    if (value.is_number()) {
        std::ostringstream s;
        s << value.get<double>();
        return s.str();
    }
    if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
    where.fail("expected a text or a number");
}

std::string requiredText(const json& object, const char* key, const Context& where) {
    const json* value = member(object, key);
    if (!value) where.fail(std::string("\"") + key + "\" is missing");
    return scalarText(*value, where.at(key));
}

std::string optionalText(const json& object, const char* key, const Context& where,
                         std::string fallback = {}) {
    const json* value = member(object, key);
    return value ? scalarText(*value, where.at(key)) : std::move(fallback);
}

long long integer(const json& value, const Context& where) {
    if (value.is_number_integer()) return value.get<long long>();
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        std::size_t used = 0;
        try {
            const long long n = std::stoll(text, &used);
            if (used == text.size()) return n;
        } catch (const std::exception&) {
        }
    }
    where.fail("expected a whole number");
}

int16_t languageNumber(const json& value, const Context& where) {
    const long long n = integer(value, where);
    if (n < std::numeric_limits<int16_t>::min() || n > std::numeric_limits<int16_t>::max())
        where.fail("a language number must fit a signed 16-bit number");
    return static_cast<int16_t>(n);
}

const json& array(const json& object, const char* key, const Context& where, bool required) {
    static const json empty = json::array();
    const json* value = member(object, key);
    if (!value) {
        if (required) where.fail(std::string("\"") + key + "\" is missing");
        return empty;
    }
    if (!value->is_array()) where.at(key).fail("expected an array");
    return *value;
}

std::vector<std::string> texts(const json& object, const char* key, const Context& where) {
    std::vector<std::string> out;
    const json& items = array(object, key, where, false);
    for (std::size_t i = 0; i < items.size(); ++i)
        out.push_back(scalarText(items[i], where.at(key).at(i)));
    return out;
}

Field readField(const json& in, const Context& where) {
    if (!in.is_object()) where.fail("expected an object");
    Field field;
    const json* id = member(in, "id");
    if (!id) where.fail("\"id\" is missing");
    const long long n = integer(*id, where.at("id"));
    if (n < 0 || n > std::numeric_limits<int16_t>::max()) where.at("id").fail("out of range");
    field.id = static_cast<int>(n);
    field.name = requiredText(in, "name", where);
    field.type = optionalText(in, "type", where, "String");
    field.code = optionalText(in, "code", where);
    if (const json* names = member(in, "names")) {
        if (!names->is_object())
            where.at("names").fail("expected an object of language number to name");
        for (const auto& [language, name] : names->items()) {
            const Context at = where.at("names").at(language);
            field.names[languageNumber(json(language), at)] = scalarText(name, at);
        }
    }
    return field;
}

Article readArticle(const json& in, const Project& project, const std::filesystem::path& base,
                    const Context& where) {
    if (!in.is_object()) where.fail("expected an object");
    Article article;
    article.id = requiredText(in, "id", where);
    if (article.id.empty()) where.at("id").fail("an article identifier must not be empty");

    article.values.resize(project.fields.size());
    if (const json* values = member(in, "values")) {
        if (!values->is_object())
            where.at("values").fail("expected an object of field identifier to value");
        for (const auto& [key, value] : values->items()) {
            const Context at = where.at("values").at(key);
            const auto index = project.fieldIndex(static_cast<int>(integer(json(key), at)));
            if (!index) at.fail("no such field in the project");
            article.values[*index] = scalarText(value, at);
        }
    }

    const json& components = array(in, "components", where, false);
    for (std::size_t i = 0; i < components.size(); ++i) {
        const Context at = where.at("components").at(i);
        const json& c = components[i];
        if (!c.is_object()) at.fail("expected an object");
        article.components.push_back({requiredText(c, "number", at),
                                      optionalText(c, "quantity", at, "1"),
                                      optionalText(c, "name", at)});
    }

    article.symbols = texts(in, "symbols", where);
    article.gers = texts(in, "gers", where);

    const json& documents = array(in, "documents", where, false);
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const Context at = where.at("documents").at(i);
        const json& d = documents[i];
        if (!d.is_object()) at.fail("expected an object");
        DocumentFile document;
        // The name is deliberately not checked: a catalogue may hold hostile names on purpose,
        // to test that clients refuse to write outside their folder.
        document.name = requiredText(d, "name", at);
        document.path = base / requiredText(d, "file", at);
        std::error_code ec;
        document.size = std::filesystem::file_size(document.path, ec);
        if (ec) at.at("file").fail(document.path.string() + ": " + ec.message());
        article.documents.push_back(std::move(document));
    }
    return article;
}

Project readProject(const json& in, const std::filesystem::path& base, const Context& where) {
    if (!in.is_object()) where.fail("expected an object");
    Project project;
    project.id = requiredText(in, "id", where);
    project.password = optionalText(in, "password", where);
    project.rootValue = optionalText(in, "rootValue", where, "Catalog");

    const json& languages = array(in, "languages", where, true);
    for (std::size_t i = 0; i < languages.size(); ++i)
        project.languages.push_back(languageNumber(languages[i], where.at("languages").at(i)));

    const json& fields = array(in, "fields", where, true);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        Field field = readField(fields[i], where.at("fields").at(i));
        if (!project.fieldPositions.emplace(field.id, project.fields.size()).second)
            where.at("fields").at(i).fail("field " + std::to_string(field.id) +
                                          " is defined twice");
        project.fields.push_back(std::move(field));
    }

    const json& defaults = array(in, "defaultSelect", where, false);
    for (std::size_t i = 0; i < defaults.size(); ++i) {
        const Context at = where.at("defaultSelect").at(i);
        const int id = static_cast<int>(integer(defaults[i], at));
        if (!project.fieldIndex(id)) at.fail("no such field in the project");
        project.defaultSelect.push_back(id);
    }

    const json& articles = array(in, "articles", where, false);
    project.articles.reserve(articles.size());
    for (std::size_t i = 0; i < articles.size(); ++i) {
        Article article = readArticle(articles[i], project, base, where.at("articles").at(i));
        if (!project.articlePositions.emplace(article.id, project.articles.size()).second)
            where.at("articles").at(i).fail("article " + article.id + " is listed twice");
        project.articles.push_back(std::move(article));
    }
    return project;
}

}  // namespace

const std::string& Field::nameIn(int16_t language) const {
    const auto it = names.find(language);
    return it == names.end() ? name : it->second;
}

bool Project::hasLanguage(int16_t language) const {
    for (const int16_t l : languages)
        if (l == language) return true;
    return false;
}

std::optional<std::size_t> Project::fieldIndex(int id) const {
    const auto it = fieldPositions.find(id);
    if (it == fieldPositions.end()) return std::nullopt;
    return it->second;
}

const Article* Project::findArticle(const std::string& id) const {
    const auto it = articlePositions.find(id);
    return it == articlePositions.end() ? nullptr : &articles[it->second];
}

const Project* Catalog::findProject(const std::string& id) const {
    for (const Project& p : projects)
        if (p.id == id) return &p;
    return nullptr;
}

Catalog Catalog::load(const std::filesystem::path& location) {
    const std::filesystem::path file =
        std::filesystem::is_directory(location) ? location / "catalog.json" : location;
    const std::filesystem::path base = file.parent_path();
    std::ifstream stream(file, std::ios::binary);
    if (!stream) throw std::runtime_error(file.string() + ": cannot be read");

    json root;
    try {
        root = json::parse(stream);
    } catch (const json::exception& e) {
        throw std::runtime_error(file.string() + ": not valid JSON: " + e.what());
    }
    const Context where(file.string(), "$");
    if (!root.is_object()) where.fail("expected an object");

    Catalog catalog;
    if (const json* client = member(root, "clientData")) {
        const Context at = where.at("clientData");
        if (!client->is_object()) at.fail("expected an object");
        ClientData& data = catalog.clientData;
        data.version = optionalText(*client, "version", at, data.version);
        data.installer = optionalText(*client, "installer", at);
        data.bannerUrl = optionalText(*client, "bannerUrl", at);
        data.mailUrl = optionalText(*client, "mailUrl", at);
        const std::string banner = optionalText(*client, "banner", at);
        if (!banner.empty()) {
            std::ifstream picture(base / banner, std::ios::binary);
            if (!picture) at.at("banner").fail((base / banner).string() + ": cannot be read");
            const std::string bytes{std::istreambuf_iterator<char>(picture), {}};
            appendBase64(data.bannerBase64, bytes);
        }
    }

    // The client insists on a banner picture; a catalogue without one gets the sample's.
    if (catalog.clientData.bannerBase64.empty())
        appendBase64(catalog.clientData.bannerBase64, embeddedBannerPicture());

    const json& projects = array(root, "projects", where, true);
    for (std::size_t i = 0; i < projects.size(); ++i) {
        Project project = readProject(projects[i], base, where.at("projects").at(i));
        if (catalog.findProject(project.id))
            where.at("projects").at(i).fail("project " + project.id + " is listed twice");
        catalog.projects.push_back(std::move(project));
    }
    return catalog;
}

}  // namespace ovk::refservice
