// SPDX-License-Identifier: MIT
#include "catalog_generator.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "embedded_resources.hpp"

namespace ovk::refservice {
namespace {

using Json = nlohmann::ordered_json;

// splitmix64: tiny, fast and the same on every platform, which std:: distributions are not.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // From `low` to `high`, both included.
    std::size_t between(std::size_t low, std::size_t high) {
        return low + next() % (high - low + 1);
    }
    template <class T, std::size_t N>
    const T& pick(const std::array<T, N>& items) {
        return items[next() % N];
    }

  private:
    std::uint64_t state_;
};

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
    return Random(a * 0x100000001B3ull ^ b).next();
}

// FNV-1a: std::hash may differ between standard libraries, and the catalogue must not.
std::uint64_t hashOf(std::string_view text) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return h;
}

struct Group {
    const char* name;
    const char* singular;
    const char* prefix;
};
constexpr std::array<Group, 8> kGroups{{{"Motors", "Motor", "MX"},
                                        {"Drives", "Drive", "DV"},
                                        {"Sensors", "Sensor", "SN"},
                                        {"Switchgear", "Switch", "SW"},
                                        {"Cables", "Cable", "CB"},
                                        {"Enclosures", "Enclosure", "EN"},
                                        {"Pumps", "Pump", "PU"},
                                        {"Valves", "Valve", "VL"}}};
// Some names carry characters outside ASCII (all within Windows-1252) and an ampersand, so
// that node keys and replies are exercised with them.
constexpr std::array<const char*, 12> kManufacturers{
    "Velmora", "Arkwright", "Brandt & Söhne", "Castell", "Dunmore", "Eriksen",
    "Fabbri",  "Garnier",   "Holmström",      "Ibarra",  "Jansen",  "Lefèvre"};
constexpr std::array<const char*, 5> kVoltages{"24 V", "110 V", "230 V", "400 V", "690 V"};
constexpr std::array<const char*, 5> kMountings{"Wall", "Floor", "DIN rail", "Panel", "Ceiling"};
constexpr std::array<const char*, 5> kProtection{"IP20", "IP44", "IP54", "IP65", "IP67"};
constexpr std::array<const char*, 3> kDocumentKinds{"datasheet.pdf", "manual.pdf", "drawing.dxf"};

Json field(int id, const char* code, const char* en, const char* de, const char* fr, const char* it,
           const char* es) {
    return Json{{"id", id},
                {"name", en},
                {"names", {{"1031", de}, {"1036", fr}, {"1040", it}, {"1034", es}}},
                {"type", "String"},
                {"code", code}};
}

// A symbol's text follows from its name alone, so articles that share a symbol send the same
// record and a client's duplicate check has something to find.
std::string symbolText(const std::string& name, std::uint64_t seed) {
    Random random(mix(seed, hashOf(name)));
    std::string text = "SYMBOL " + name + "\nVERSION 3\nORIGIN 0 0\n";
    const std::size_t lines = random.between(5, 25);
    for (std::size_t i = 0; i < lines; ++i) {
        text += "LINE";
        for (int k = 0; k < 4; ++k) text += ' ' + std::to_string(random.between(0, 200));
        text += '\n';
    }
    text += "END";
    return text;
}

void writeDocument(const std::filesystem::path& path, std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    Random random(seed);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint64_t v = random.next();
        std::memcpy(bytes.data() + i, &v, 8);
    }
    for (; i < size; ++i) bytes[i] = static_cast<char>(random.next());
    const std::string_view header = "%PDF-1.4\n";
    std::copy_n(header.begin(), std::min(header.size(), size), bytes.begin());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error(path.string() + ": cannot be written");
}

}  // namespace

GeneratorSummary generateCatalog(const GeneratorSettings& settings,
                                 const std::function<void(std::size_t, std::size_t)>& progress) {
    namespace fs = std::filesystem;
    const fs::path docs = settings.folder / "docs";
    std::error_code ec;
    fs::create_directories(docs, ec);
    if (ec) throw std::runtime_error(docs.string() + ": " + ec.message());

    GeneratorSummary summary;
    Random random(settings.seed);

    // Sizes spread evenly on a logarithmic scale from 10 KB to 2 MB, as real documents are.
    constexpr double kSmallest = 10 * 1024.0;
    constexpr double kLargest = 2 * 1024 * 1024.0;
    const std::size_t poolSize = std::min<std::size_t>(64, 3 * settings.articles);
    std::vector<std::string> pool;
    for (std::size_t i = 0; i < poolSize; ++i) {
        const double share =
            poolSize == 1 ? 0.5 : static_cast<double>(i) / static_cast<double>(poolSize - 1);
        const auto size = static_cast<std::size_t>(
            std::llround(kSmallest * std::pow(kLargest / kSmallest, share)));
        const std::string name = "docs/doc" + std::to_string(i) + ".bin";
        writeDocument(settings.folder / name, size, mix(settings.seed, i));
        pool.push_back(name);
        summary.documentFiles += 1;
        summary.documentBytes += size;
    }

    Json project{
        {"id", "BENCH"},
        {"password", "bench"},
        {"languages", {1033, 1031, 1036, 1040, 1034}},
        {"rootValue", "Catalog"},
        {"fields",
         {field(1, "C01", "Product group", "Produktgruppe", "Groupe de produits",
                "Gruppo di prodotti", "Grupo de productos"),
          field(3, "C03", "Manufacturer", "Hersteller", "Fabricant", "Produttore", "Fabricante"),
          field(5, "C05", "Series", "Baureihe", "Série", "Serie", "Serie"),
          field(7, "C07", "Rated voltage", "Bemessungsspannung", "Tension assignée",
                "Tensione nominale", "Tensión nominal"),
          field(12, "C12", "Mounting", "Montageart", "Montage", "Montaggio", "Montaje"),
          field(14, "C14", "Protection class", "Schutzart", "Indice de protection",
                "Grado di protezione", "Grado de protección"),
          field(20, "C20", "Description", "Bezeichnung", "Désignation", "Descrizione",
                "Descripción")}},
        {"defaultSelect", {1, 3, 5}}};

    Json articles = Json::array();
    for (std::size_t i = 0; i < settings.articles; ++i) {
        const std::string id = std::to_string(100000 + i);
        const Group& group = random.pick(kGroups);
        const std::string manufacturer = random.pick(kManufacturers);
        const std::string series =
            std::string(group.prefix) + "-" + std::to_string(100 * random.between(1, 9));
        const std::string voltage = random.pick(kVoltages);

        Json article{{"id", id},
                     {"values",
                      {{"1", group.name},
                       {"3", manufacturer},
                       {"5", series},
                       {"7", voltage},
                       {"12", random.pick(kMountings)},
                       {"14", random.pick(kProtection)},
                       {"20", std::string(group.singular) + " " + series + " " + voltage}}}};

        Json components = Json::array();
        for (std::size_t c = random.between(0, 4); c > 0; --c) {
            components.push_back(
                {{"number", std::to_string(100000 + random.between(0, settings.articles - 1))},
                 {"quantity", random.between(1, 10)},
                 {"name", std::string(random.pick(kGroups).singular) + " accessory"}});
        }
        article["components"] = std::move(components);

        Json symbols = Json::array();
        for (std::size_t s = random.between(1, 5); s > 0; --s) {
            // Eight symbols per series: articles of one series share some of them.
            const std::string name = series + "_" + std::to_string(random.between(1, 8));
            symbols.push_back(symbolText(name, settings.seed));
        }
        article["symbols"] = std::move(symbols);

        Json gers = Json::array();
        for (std::size_t g = random.between(0, 2); g > 0; --g) {
            gers.push_back("GER " + id + "/" + std::to_string(g) + "\nARTICLE=" + id +
                           "\nMANUFACTURER=" + manufacturer + "\nSERIES=" + series +
                           "\nVOLTAGE=" + voltage + "\nEND");
        }
        article["gers"] = std::move(gers);

        Json documents = Json::array();
        const std::size_t count = random.between(0, 3);
        for (std::size_t d = 0; d < count; ++d) {
            documents.push_back({{"name", id + "_" + kDocumentKinds[d]},
                                 {"file", pool[random.between(0, poolSize - 1)]}});
        }
        article["documents"] = std::move(documents);

        articles.push_back(std::move(article));
        if (progress && ((i + 1) % 1000 == 0 || i + 1 == settings.articles))
            progress(i + 1, settings.articles);
    }
    project["articles"] = std::move(articles);

    const Json catalog{{"clientData",
                        {{"version", OVK_VERSION_TEXT},
                         {"installer", "https://downloads.velmora.example/ovk_client/setup.exe"},
                         {"bannerUrl", "https://www.velmora.example/"},
                         {"mailUrl", "mailto:support@velmora.example"},
                         {"banner", "banner.jpg"}}},
                       {"projects", Json::array({std::move(project)})}};

    const std::string_view banner = embeddedBannerPicture();
    std::ofstream bannerFile(settings.folder / "banner.jpg", std::ios::binary | std::ios::trunc);
    bannerFile.write(banner.data(), static_cast<std::streamsize>(banner.size()));
    std::ofstream json(settings.folder / "catalog.json", std::ios::binary | std::ios::trunc);
    json << catalog.dump(1) << '\n';
    if (!bannerFile || !json)
        throw std::runtime_error(settings.folder.string() + ": the catalogue cannot be written");
    summary.articles = settings.articles;
    return summary;
}

}  // namespace ovk::refservice
