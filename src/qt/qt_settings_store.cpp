#include "qt/qt_settings_store.hpp"

#include <QSettings>
#include <QStandardPaths>
#include <system_error>

#include "platform/errors.hpp"

namespace ovk {
namespace {

bool keptAsIs(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

// Percent-encodes every byte outside [A-Za-z0-9_.-]. The result is plain ASCII without "/" and
// "\", which QSettings would take as group separators, and differs for different texts. The
// empty text, which QSettings cannot store as a name, becomes a lone "%" that no encoded
// text can produce.
std::string encodeName(const std::string& text) {
    if (text.empty()) return "%";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (keptAsIs(c)) {
            encoded.push_back(ch);
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0x0F]);
        }
    }
    return encoded;
}

QString settingsKey(const std::string& section, const std::string& key) {
    return QString::fromLatin1(encodeName(section) + "/" + encodeName(key));
}

std::filesystem::path defaultFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::filesystem::path(base.toStdString()) / "ovk_client";
}

}  // namespace

QtSettingsStore::QtSettingsStore(std::optional<std::filesystem::path> folder)
    : folder_(folder ? std::move(*folder) : defaultFolder()) {}

std::filesystem::path QtSettingsStore::fileOf(const std::string& application) const {
    return folder_ / (encodeName(application) + ".ini");
}

std::optional<std::string> QtSettingsStore::read(const std::string& application,
                                                 const std::string& section,
                                                 const std::string& key) const {
    const QSettings settings(QString::fromStdString(fileOf(application).string()),
                             QSettings::IniFormat);
    const QVariant value = settings.value(settingsKey(section, key));
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

void QtSettingsStore::write(const std::string& application, const std::string& section,
                            const std::string& key, const std::string& value) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    const std::filesystem::path file = fileOf(application);
    QSettings settings(QString::fromStdString(file.string()), QSettings::IniFormat);
    const QString name = settingsKey(section, key);
    const QString text = QString::fromStdString(value);
    // Every start-up writes the time-out back; when the file holds it already, rewriting and
    // flushing the whole file would change nothing but cost the start-up its slowest step.
    const QVariant stored = settings.value(name);
    if (stored.typeId() == QMetaType::QString && stored.toString() == text) return;
    settings.setValue(name, text);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        throw Error(err::PermissionDenied, "Cannot write the settings file " + file.string(),
                    "Settings");
    }
}

}  // namespace ovk
