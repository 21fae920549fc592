#include "qt/qt_settings_store.hpp"

#include <QSettings>
#include <QStandardPaths>
#include <system_error>

#include "platform/errors.hpp"
#include "platform/settings_names.hpp"

namespace ovk {
namespace {

QString settingsKey(const std::string& section, const std::string& key) {
    return QString::fromLatin1(encodeSettingsName(section) + "/" + encodeSettingsName(key));
}

std::filesystem::path defaultFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return std::filesystem::path(base.toStdString()) / "ovk_client";
}

}  // namespace

QtSettingsStore::QtSettingsStore(std::optional<std::filesystem::path> folder)
    : folder_(folder ? std::move(*folder) : defaultFolder()) {}

std::filesystem::path QtSettingsStore::fileOf(const std::string& application) const {
    return folder_ / (encodeSettingsName(application) + ".ini");
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
