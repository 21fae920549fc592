// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "component_folder.hpp"
#include "document/client_resources.hpp"
#include "document/component_texts.hpp"
#include "document/resource_items.hpp"
#include "platform/errors.hpp"
#include "xml/document.hpp"

namespace ovk {
namespace {

using test::ComponentFolder;
using test::TempDir;

TEST(ClientResources, FindsComponentFilesWithoutRegardToCase) {
    ComponentFolder component;
    EXPECT_TRUE(FileExistsInAppPath("NLS.XML"));
    EXPECT_TRUE(FileExistsInAppPath("nls.xml"));
    EXPECT_FALSE(FileExistsInAppPath("missing.xml"));
}

TEST(ClientResources, GuiLanguageIsAvailableOnlyWithItsOwnBlock) {
    ComponentFolder component;
    EXPECT_TRUE(IsGuiLanguageAvailable(1033));
    EXPECT_TRUE(IsGuiLanguageAvailable(1031));
    EXPECT_FALSE(IsGuiLanguageAvailable(0));
    EXPECT_FALSE(IsGuiLanguageAvailable(1036));
    component.write("ovk_client.xml", "<Ressources><Language ID='1031'>");  // broken
    EXPECT_FALSE(IsGuiLanguageAvailable(1031));
    component.remove("ovk_client.xml");
    EXPECT_FALSE(IsGuiLanguageAvailable(1033));
}

TEST(ClientResources, LanguageNumbersComeFromTheFirstMatchingEntry) {
    ComponentFolder component;
    EXPECT_EQ(GetNlsLanguageId("German"), 1031);
    EXPECT_EQ(GetNlsLanguageId("english"), 0);  // names compare exactly
    component.write("nls.xml",
                    "<Languages><NLS ID='7' Language='Dup'/><NLS ID='8' Language='Dup'/>"
                    "<NLS ID='9' Language=\"O'Brien\"/><NLS Language='Swapped' ID='5'/>"
                    "<NLS ID='99999' Language='Huge'/></Languages>");
    EXPECT_EQ(GetNlsLanguageId("Dup"), 7);
    EXPECT_EQ(GetNlsLanguageId("O'Brien"), 9);  // an apostrophe is looked up like any character
    EXPECT_EQ(GetNlsLanguageId("x' or '1'='1"), 0);
    try {
        GetNlsLanguageId("Swapped");  // the number must be the first attribute
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number, err::TypeMismatch);
    }
    EXPECT_THROW(GetNlsLanguageId("Huge"), Error);
    component.remove("nls.xml");
    EXPECT_EQ(GetNlsLanguageId("German"), 0);
}

TEST(ClientResources, NewVersionTextHasNoFallbackToEnglishBlock) {
    ComponentFolder component;
    EXPECT_EQ(GetNewVersionText("1033"), "Updated Client Version available. Install now?");
    EXPECT_EQ(GetNewVersionText("1031"),
              "Eine neuere Client-Version ist verf\xC3\xBCgbar. Jetzt installieren?");
    EXPECT_EQ(GetNewVersionText("1036"), "A newer Client-Version is avialble. Install it now ?");
    component.write(
        "ovk_client.xml",
        "<Ressources><Language ID='1033'><Item Name='lblNewVersion' Caption='EN'/></Language>"
        "<Language ID='1031'><Item Name='cmdNext' Caption='&amp;Weiter'/></Language></Ressources>");
    EXPECT_EQ(GetNewVersionText("1031"), "A newer Client-Version is avialble. Install it now ?");
    EXPECT_EQ(GetNewVersionText("1033"), "EN");
    component.remove("ovk_client.xml");
    EXPECT_EQ(GetNewVersionText("1033"), "A newer Client-Version is avialble. Install it now ?");
}

TEST(ClientResources, ResourceItemsFallBackTo1033) {
    ComponentFolder component;
    const auto german = LoadResourceItems("1031");
    ASSERT_TRUE(german);
    EXPECT_NE(
        std::ranges::find_if(*german, [](const ResourceItem& i) { return i.caption == "&Weiter"; }),
        german->end());
    const auto other = LoadResourceItems("1036");
    ASSERT_TRUE(other);
    EXPECT_NE(
        std::ranges::find_if(*other, [](const ResourceItem& i) { return i.caption == "&Next"; }),
        other->end());
    component.remove("ovk_client.xml");
    EXPECT_FALSE(LoadResourceItems("1033"));
}

// The component's own messages in the user's language, their variable parts translated too
// where they are such messages; what the component always showed word for word stays.
TEST(ComponentTexts, ComeInTheLanguageOfTheResourceFile) {
    ComponentFolder component;
    const struct {
        int16_t language;
        std::string text;
        std::string shown;
    } rows[] = {
        {1031, "The service sent nothing for article 4713, so it is not in the download.",
         "Der Dienst hat f\u00fcr den Artikel 4713 nichts gesendet; er fehlt im Download."},
        {1031,
         "The file \"a.pdf\" of article 4711 was not written: The Base64 text holds \"!\" at "
         "offset 4, which is neither a Base64 digit nor white space",
         "Die Datei \"a.pdf\" des Artikels 4711 wurde nicht geschrieben: Der Base64-Text "
         "enth\u00e4lt "
         "an Position 4 \"!\"; das ist weder eine Base64-Ziffer noch Leerraum"},
        {1031,
         "Error by set CAFileThe certificate file /x.pem named by the setting CAFile cannot be "
         "read: No such file or directory\r\n53\r\nExtraTrust",
         "Error by set CAFileDie Zertifikatsdatei /x.pem, genannt in der Einstellung CAFile, kann "
         "nicht gelesen werden: No such file or directory\r\n53\r\nExtraTrust"},
        {1031, "Something no text of the component says",
         "Something no text of the component says"},
        {1033, "The reply is empty", "The reply is empty"},
        {1036, "The reply is empty", "The reply is empty"},
    };
    for (const auto& row : rows) EXPECT_EQ(LocalizedText(row.text, row.language), row.shown);

    // Every text has its English as the code makes it and a German of its own, with the same
    // variable parts.
    for (const ComponentTextTemplate& t : ComponentTextTemplates()) {
        SCOPED_TRACE(t.name);
        std::string english = t.english;
        for (std::size_t at; (at = english.find('%')) != std::string::npos;)
            english.replace(at, 2, "<" + english.substr(at + 1, 1) + ">");
        EXPECT_EQ(LocalizedText(english, 1033), english);
        const std::string german = LocalizedText(english, 1031);
        EXPECT_NE(german, english);
        for (char n = '1'; n <= '9'; ++n) {
            const std::string part = std::string("<") + n + ">";
            EXPECT_EQ(german.find(part) != std::string::npos,
                      english.find(part) != std::string::npos)
                << part;
        }
    }
}

TEST(BannerImage, IsDecodedBesideTheDownloadDocument) {
    TempDir dir;
    const auto downloadFile = dir.write("download.xml", "<D/>");
    const auto reply =
        xml::Document::loadMemory("<ClientData V='1'><![CDATA[/9j/4AAQ]]><x/></ClientData>");
    SaveBannerImage(reply.root(), downloadFile);
    EXPECT_EQ(test::readAll(dir / "Banner1.jpg"), std::string("\xFF\xD8\xFF\xE0\x00\x10", 6));

    // The same picture again leaves the file alone; another of the same size replaces it.
    auto inode = [&] {
        struct stat info {};
        return ::stat((dir / "Banner1.jpg").c_str(), &info) == 0 ? info.st_ino : ino_t{0};
    };
    const ino_t first = inode();
    SaveBannerImage(reply.root(), downloadFile);
    EXPECT_EQ(inode(), first);
    const auto other =
        xml::Document::loadMemory("<ClientData V='1'><![CDATA[/9j/4AAR]]><x/></ClientData>");
    SaveBannerImage(other.root(), downloadFile);
    EXPECT_EQ(test::readAll(dir / "Banner1.jpg"), std::string("\xFF\xD8\xFF\xE0\x00\x11", 6));

    const auto noPicture = xml::Document::loadMemory("<ClientData V='1'><x/></ClientData>");
    EXPECT_THROW(SaveBannerImage(noPicture.root(), downloadFile), Error);
}

}  // namespace
}  // namespace ovk
