// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ovk::refservice {

// A data field of a project: its numeric identifier, display names and descriptors.
struct Field {
    int id = 0;
    std::string name;                      // the name in languages without their own
    std::map<int16_t, std::string> names;  // names by language number
    std::string type;
    std::string code;

    const std::string& nameIn(int16_t language) const;
};

struct Component {
    std::string number;
    std::string quantity;
    std::string name;
};

// A binary document kept as a file beside the catalogue. Its size is taken when the
// catalogue loads, so that a reply's length is known before its first byte goes out.
struct DocumentFile {
    std::string name;  // the name the client stores it under
    std::filesystem::path path;
    std::uintmax_t size = 0;
};

struct Article {
    std::string id;
    std::vector<std::string> values;  // one per field of the project, in the project's order
    std::vector<Component> components;
    std::vector<std::string> symbols;
    std::vector<std::string> gers;
    std::vector<DocumentFile> documents;
};

struct Project {
    std::string id;
    std::string password;
    std::vector<int16_t> languages;
    std::string rootValue = "Catalog";
    std::vector<Field> fields;
    std::vector<int> defaultSelect;  // empty: the project has no default selection
    std::vector<Article> articles;

    bool hasLanguage(int16_t language) const;
    // Position of the field in `fields`, or nothing.
    std::optional<std::size_t> fieldIndex(int id) const;
    const Article* findArticle(const std::string& id) const;

    std::unordered_map<int, std::size_t> fieldPositions;
    std::unordered_map<std::string, std::size_t> articlePositions;
};

struct ClientData {
    std::string version = OVK_VERSION_TEXT;
    std::string installer;
    std::string bannerUrl;
    std::string mailUrl;
    std::string bannerBase64;  // the banner picture, encoded once at load
};

struct Catalog {
    ClientData clientData;
    std::vector<Project> projects;

    const Project* findProject(const std::string& id) const;

    // Reads "catalog.json" from a folder (or the named JSON file). Throws std::runtime_error
    // naming the file and the offending entry when the catalogue is not usable.
    static Catalog load(const std::filesystem::path& location);
};

}  // namespace ovk::refservice
