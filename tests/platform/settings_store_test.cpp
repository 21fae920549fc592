// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <QSettings>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/errors.hpp"
#include "platform/ini_settings_store.hpp"
#include "platform/settings_names.hpp"
#include "temp_dir.hpp"

namespace ovk {
namespace {

using test::TempDir;

// Another program keeping its settings in the same files through QSettings, as desktop
// programs do: the component's store must read what it wrote, and it what the store wrote.
class QSettingsPeer : public SettingsStore {
  public:
    explicit QSettingsPeer(std::filesystem::path folder) : folder_(std::move(folder)) {}

    std::optional<std::string> read(const std::string& application, const std::string& section,
                                    const std::string& key) const override {
        const QSettings settings(file(application), QSettings::IniFormat);
        const QVariant value = settings.value(name(section, key));
        if (!value.isValid()) return std::nullopt;
        return value.toString().toStdString();
    }
    void write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override {
        QSettings settings(file(application), QSettings::IniFormat);
        settings.setValue(name(section, key), QString::fromStdString(value));
        settings.sync();
        if (settings.status() != QSettings::NoError)
            throw Error(err::PermissionDenied, "QSettings");
    }

  private:
    QString file(const std::string& application) const {
        return QString::fromStdString(
            (folder_ / (encodeSettingsName(application) + ".ini")).string());
    }
    static QString name(const std::string& section, const std::string& key) {
        return QString::fromLatin1(encodeSettingsName(section) + "/" + encodeSettingsName(key));
    }
    std::filesystem::path folder_;
};

// Names a project identifier or a key may carry, including those QSettings gives a meaning.
const std::vector<std::string> kOddNames = {
    "",
    "Settings",
    "General",
    "a/b",
    "a\\b",
    "/leading",
    "trailing/",
    "a//b",
    "%2F",
    "%",
    "with space",
    "semi;colon",
    "x=y",
    "[section]",
    "#comment",
    "\xC3\x9C"
    "bung \xE9\xA1\xB9\xE7\x9B\xAE",
    "tab\there",
    "line\nbreak",
    "\"quoted\"",
    "UPPER",
    "upper",
    "@Variant(0)",
};

const std::vector<std::string> kOddValues = {
    "",
    "30",
    "ID_1;ID_2;ID_3",
    " padded ",
    "a,b",
    "\xC3\x84\xC3\x96\xC3\x9C \xE2\x82\xAC",
    "@Variant(\\0\\0\\0\\x7f)",
    "line\r\nbreak",
    "\"quoted\"",
    "back\\slash",
    "=",
    "true",
};

TEST(IniSettingsStore, EveryTextRoundTripsThroughTheFileAsSectionKeyAndValue) {
    const TempDir dir;
    {
        IniSettingsStore store(dir.path());
        for (size_t i = 0; i < kOddNames.size(); ++i) {
            for (size_t j = 0; j < kOddNames.size(); ++j) {
                store.write("VelmoraDotNet", kOddNames[i], kOddNames[j],
                            kOddValues[(i + j) % kOddValues.size()]);
            }
        }
    }
    // A fresh store reads what the first one left on disk.
    const IniSettingsStore reader(dir.path());
    for (size_t i = 0; i < kOddNames.size(); ++i) {
        for (size_t j = 0; j < kOddNames.size(); ++j) {
            const auto value = reader.read("VelmoraDotNet", kOddNames[i], kOddNames[j]);
            ASSERT_TRUE(value.has_value())
                << "section '" << kOddNames[i] << "' key '" << kOddNames[j] << "'";
            EXPECT_EQ(*value, kOddValues[(i + j) % kOddValues.size()])
                << "section '" << kOddNames[i] << "' key '" << kOddNames[j] << "'";
        }
    }
}

TEST(IniSettingsStore, AnEmptyValueIsStoredAndAMissingKeyIsNothing) {
    const TempDir dir;
    IniSettingsStore store(dir.path());
    store.write("VelmoraDotNet", "P1", "1031", "");
    EXPECT_EQ(store.read("VelmoraDotNet", "P1", "1031"), std::optional<std::string>(""));
    EXPECT_EQ(store.read("VelmoraDotNet", "P1", "1033"), std::nullopt);
    EXPECT_EQ(store.read("VelmoraDotNet", "P2", "1031"), std::nullopt);
    EXPECT_EQ(store.read("OtherApplication", "P1", "1031"), std::nullopt);
}

TEST(IniSettingsStore, NamesThatQSettingsWouldNestOrFoldStayApart) {
    const TempDir dir;
    IniSettingsStore store(dir.path());
    store.write("App", "a/b", "c", "1");
    store.write("App", "a", "b/c", "2");
    store.write("App", "a\\b", "c", "3");
    store.write("App", "a%2Fb", "c", "4");
    store.write("App", "A/B", "c", "5");
    EXPECT_EQ(store.readText("App", "a/b", "c"), "1");
    EXPECT_EQ(store.readText("App", "a", "b/c"), "2");
    EXPECT_EQ(store.readText("App", "a\\b", "c"), "3");
    EXPECT_EQ(store.readText("App", "a%2Fb", "c"), "4");
    EXPECT_EQ(store.readText("App", "A/B", "c"), "5");
}

TEST(IniSettingsStore, PlainNamesAreReadableInTheIniFile) {
    const TempDir dir;
    IniSettingsStore store(dir.path());
    store.write("VelmoraDotNet", "Settings", "SOAPTimeout", "30");
    store.write("VelmoraDotNet", "Settings", "SOAPTimeout", "45");
    EXPECT_EQ(store.fileOf("VelmoraDotNet"), dir / "VelmoraDotNet.ini");
    const std::string content = test::readAll(dir / "VelmoraDotNet.ini");
    EXPECT_NE(content.find("[Settings]"), std::string::npos) << content;
    EXPECT_NE(content.find("SOAPTimeout=45"), std::string::npos) << content;
    EXPECT_EQ(content.find("SOAPTimeout=30"), std::string::npos) << content;
}

// The start-up writes the time-out back every time; the file is only rewritten for a change.
TEST(IniSettingsStore, WritingTheStoredValueAgainLeavesTheFileAsItIs) {
    const TempDir dir;
    IniSettingsStore store(dir.path());
    const auto file = store.fileOf("VelmoraDotNet");
    auto inode = [&] {
        struct stat info {};
        return ::stat(file.c_str(), &info) == 0 ? info.st_ino : ino_t{0};
    };
    store.write("VelmoraDotNet", "Settings", "SOAPTimeout", "180000");
    const ino_t written = inode();
    ASSERT_NE(written, ino_t{0});
    store.write("VelmoraDotNet", "Settings", "SOAPTimeout", "180000");
    EXPECT_EQ(inode(), written);
    store.write("VelmoraDotNet", "Settings", "SOAPTimeout", "200000");
    EXPECT_EQ(store.read("VelmoraDotNet", "Settings", "SOAPTimeout"),
              std::optional<std::string>("200000"));
}

TEST(IniSettingsStore, WithoutAFolderTheUsersConfigurationFolderIsUsed) {
    const TempDir home;
    const char* previous = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = previous != nullptr ? previous : "";
    setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
    const IniSettingsStore store;
    if (previous != nullptr) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_EQ(store.folder(), home / "ovk_client");
}

}  // namespace
}  // namespace ovk

namespace ovk {
namespace {

// Programs that keep their settings through QSettings share the files: each side must read
// what the other wrote, byte for byte as a user would see it.
TEST(IniSettingsStore, ReadsWhatQSettingsWroteAndQSettingsReadsWhatItWrote) {
    const TempDir qtDir, iniDir;
    QSettingsPeer qtWriter(qtDir.path());
    IniSettingsStore iniWriter(iniDir.path());
    auto valueOf = [](size_t i, size_t j) { return kOddValues[(i + j) % kOddValues.size()]; };
    // Every name as a section and as a key, every value; each write is flushed to disk, so not
    // every pair.
    const size_t n = kOddNames.size();
    for (size_t i = 0; i < n; ++i) {
        for (size_t j : {i, (i + 1) % n}) {
            qtWriter.write("VelmoraDotNet", kOddNames[i], kOddNames[j], valueOf(i, j));
            iniWriter.write("VelmoraDotNet", kOddNames[i], kOddNames[j], valueOf(i, j));
        }
    }
    // Each store then changes a few values in the other's file.
    const IniSettingsStore iniOnQt(qtDir.path());
    QSettingsPeer qtOnIni(iniDir.path());
    IniSettingsStore(qtDir.path()).write("VelmoraDotNet", "Settings", "SOAPTimeout", "200000");
    qtOnIni.write("VelmoraDotNet", "Settings", "SOAPTimeout", "200000");
    for (const auto& [name, reader, other] :
         {std::tuple<const char*, const SettingsStore*, const SettingsStore*>{
              "written by QSettings", &iniOnQt, &qtWriter},
          {"written without Qt", &qtOnIni, &iniWriter}}) {
        SCOPED_TRACE(name);
        for (size_t i = 0; i < n; ++i) {
            for (size_t j : {i, (i + 1) % n}) {
                const auto expected = valueOf(i, j);
                EXPECT_EQ(reader->read("VelmoraDotNet", kOddNames[i], kOddNames[j]), expected)
                    << "section '" << kOddNames[i] << "' key '" << kOddNames[j] << "'";
                EXPECT_EQ(other->read("VelmoraDotNet", kOddNames[i], kOddNames[j]), expected);
            }
        }
        EXPECT_EQ(reader->readText("VelmoraDotNet", "Settings", "SOAPTimeout"), "200000");
        EXPECT_EQ(other->readText("VelmoraDotNet", "Settings", "SOAPTimeout"), "200000");
    }
}

// Files a user edited by hand read the same in both stores.
TEST(IniSettingsStore, ReadsHandEditedFilesAsQSettingsDoes) {
    const std::vector<std::string> files = {
        "[Settings]\nSOAPTimeout = 30 \nCAFile=/home/me/ca.pem\n",
        "; a comment\n[Settings]\r\nSOAPTimeout=\"  padded  \" ; why\r\nCAFile=a, b\r\n",
        "[Settings]\nSOAPTimeout=@Invalid()\nCAFile=@@at\n[Settings]\nCAFile=\"last\\twins\"\n",
        "\xEF\xBB\xBF[General]\nSOAPTimeout=root\n[Settings]\nSOAPTimeout=x\\\n  y\n",
        "[Settings]\nSOAPTimeout=\\x41\\102\\n\\\"\nCAFile=@String(s)\nBroken line\n",
        "[%General]\nSOAPTimeout=g\n[Settings]\nCAFile=\"multi\nline\"\n",
        "[Settings]\nSOAPTimeout=@ByteArray(bytes)\nCAFile=\xC3\x84 \xE2\x82\xAC\n",
        "[Settings]\n[Other]\nSOAPTimeout=other\n",
        "",
    };
    for (const std::string& content : files) {
        SCOPED_TRACE(content);
        const TempDir dir;
        dir.write("VelmoraDotNet.ini", content);
        const QSettingsPeer qt(dir.path());
        const IniSettingsStore ini(dir.path());
        for (const char* section : {"Settings", "General", "Other"}) {
            for (const char* key : {"SOAPTimeout", "CAFile", "Missing"}) {
                EXPECT_EQ(ini.read("VelmoraDotNet", section, key),
                          qt.read("VelmoraDotNet", section, key))
                    << section << "/" << key;
            }
        }
    }
}

// Writing leaves the rest of the file as the user left it and never a half-written file, and
// waits for QSettings' lock unless its process has gone.
TEST(IniSettingsStore, WritesOneLineUnderQSettingsLock) {
    const TempDir dir;
    const std::string original = "; keep me\n[Settings]\nSOAPTimeout=30\n\n[P1]\n1031=\"A;B\"\n";
    dir.write("VelmoraDotNet.ini", original);
    dir.write(
        "VelmoraDotNet.ini.lock", "999999999\nsomething\n" + [] {
            char name[256] = {};
            gethostname(name, sizeof name - 1);
            return std::string(name);
        }() + "\n\n\n");
    IniSettingsStore store(dir.path());
    store.write("VelmoraDotNet", "Settings", "SOAPTimeout", "180000");
    store.write("VelmoraDotNet", "P1", "1033", "C");
    store.write("VelmoraDotNet", "P2", "1031", "D");
    EXPECT_EQ(test::readAll(dir / "VelmoraDotNet.ini"),
              "; keep me\n[Settings]\nSOAPTimeout=180000\n\n[P1]\n1031=\"A;B\"\n1033=C\n\n[P2]\n"
              "1031=D\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "VelmoraDotNet.ini.lock"));

    const auto blocker = dir.write("not-a-folder", "x");
    IniSettingsStore unwritable(blocker / "settings");
    EXPECT_THROW(unwritable.write("VelmoraDotNet", "Settings", "SOAPTimeout", "30"), Error);
}

}  // namespace
}  // namespace ovk
