// SPDX-License-Identifier: MIT
#include "qt/qt_translations.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <array>
#include <memory>
#include <utility>

namespace ovk {

std::string localeOfLanguageId(int32_t languageId) {
    // The low ten bits of an identifier are its primary language; the rest is the region,
    // which Qt's catalogues do not distinguish except for Portuguese and Chinese.
    static constexpr std::array<std::pair<int32_t, const char*>, 26> kPrimary{{
        {0x01, "ar"}, {0x02, "bg"},    {0x03, "ca"}, {0x04, "zh_CN"}, {0x05, "cs"}, {0x06, "da"},
        {0x07, "de"}, {0x08, "el"},    {0x0A, "es"}, {0x0B, "fi"},    {0x0C, "fr"}, {0x0D, "he"},
        {0x0E, "hu"}, {0x10, "it"},    {0x11, "ja"}, {0x12, "ko"},    {0x13, "nl"}, {0x14, "nb"},
        {0x15, "pl"}, {0x16, "pt_PT"}, {0x19, "ru"}, {0x1A, "hr"},    {0x1B, "sk"}, {0x1D, "sv"},
        {0x1F, "tr"}, {0x22, "uk"},
    }};
    if (languageId == 1046) return "pt_BR";
    if (languageId == 1028 || languageId == 3076) return "zh_TW";
    const int32_t primary = languageId & 0x3FF;
    for (const auto& [id, locale] : kPrimary)
        if (id == primary) return locale;
    return {};
}

void useQtTranslations(int32_t languageId) {
    static std::unique_ptr<QTranslator> installed;
    static std::string installedLocale;
    const std::string locale = localeOfLanguageId(languageId);
    if (locale == installedLocale) return;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    installedLocale = locale;
    if (locale.empty()) return;
    auto translator = std::make_unique<QTranslator>();
    const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // "qt_<locale>" bundles qtbase and the other modules; a region-qualified locale falls
    // back to its language ("pt_PT" to "pt") inside QTranslator::load.
    if (!translator->load(QStringLiteral("qt_") + QString::fromStdString(locale), directory))
        return;
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
}

}  // namespace ovk
