#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "component_folder.hpp"
#include "document/client_resources.hpp"
#include "document/resource_items.hpp"
#include "platform/errors.hpp"
#include "platform/xml/document.hpp"

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
