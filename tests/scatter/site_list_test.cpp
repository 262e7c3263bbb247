#include "scatter/site_list.h"
#include "scatter/site_list_table.h"
#include "support/scripted_prompt.h"

#include <gtest/gtest.h>

namespace {

const QString NoHttp =
    "Warning!  Your website address does not start with \"http://\"! Double-click it to remove it from the list.";
const QString NoSlash =
    "Warning!  Your website address does not end with a slash \"/\"! Double-click it to remove it from the list.";
const QString FtpScheme =
    "Warning!  Your ftp address should not start with \"ftp://\"! Double-click it to remove it from the list.";

struct WarningCase {
    const char* name;
    SiteEntry site;
    QStringList warnings;
};

class AddSiteTest : public ::testing::TestWithParam<WarningCase> {};

TEST_P(AddSiteTest, WarnsIndependentlyAndAddsTheSiteAnyway) {
    ScriptedPrompt prompt;
    TextTable sites(SiteListColumns());
    const SiteEntry& site = GetParam().site;
    EXPECT_EQ(AddSite(sites, site, prompt), 0);
    EXPECT_EQ(prompt.messages(), GetParam().warnings);
    EXPECT_EQ(sites.rowCells(0), (QStringList{site.ftpSite, site.userName, site.password, site.webSite}));
}

INSTANTIATE_TEST_SUITE_P(
    Warnings, AddSiteTest,
    ::testing::Values(WarningCase{"clean", {"ftp.w.example", "u", "p", "http://w.example/d/"}, {}},
                      WarningCase{"upper case scheme is fine", {"ftp.w.example", "u", "p", "HTTP://w.example/"}, {}},
                      WarningCase{"no http", {"ftp.w.example", "u", "p", "w.example/d/"}, {NoHttp}},
                      WarningCase{"no slash", {"ftp.w.example", "u", "p", "http://w.example/d"}, {NoSlash}},
                      WarningCase{"ftp scheme in capitals", {"FTP://ftp.w.example", "u", "p", "http://w/"}, {FtpScheme}},
                      WarningCase{"empty boxes", {"", "", "", ""}, {NoHttp, NoSlash}},
                      WarningCase{"all three", {"ftp:x", " u ", " p ", "https://w"}, {NoHttp, NoSlash, FtpScheme}}),
    [](const auto& param) {
        QString n = param.param.name;
        return n.replace(' ', '_').toStdString();
    });

TEST(RemoveSite, RemovesTheSelectedRowOrSaysNoneIsSelected) {
    ScriptedPrompt prompt;
    TextTable sites(SiteListColumns());
    for (const char* w : {"http://a/", "http://b/", "http://c/"})
        AddSite(sites, {"f", "u", "p", w}, prompt);
    RemoveSite(sites, 1, prompt);
    ASSERT_EQ(sites.rows(), 2);
    EXPECT_EQ(sites.cell(1, SiteColumn::WebSite), "http://c/");
    RemoveSite(sites, -1, prompt);
    EXPECT_EQ(prompt.messages(), QStringList{"Could not delete. No item selected"});
    EXPECT_EQ(sites.rows(), 2);
}

TEST(SiteEntryCaptions, TenEntriesThenOneMorePerSite) {
    ScriptedPrompt prompt;
    TextTable sites(SiteListColumns());
    EXPECT_EQ(SiteEntryCaptions(sites), QStringList(10, "None"));
    for (int i = 1; i <= 12; ++i) {
        AddSite(sites, {"f", "u", "p", QString("http://s%1/").arg(i)}, prompt);
        const QStringList captions = SiteEntryCaptions(sites);
        ASSERT_EQ(captions.size(), std::max(10, i));
        EXPECT_EQ(captions[i - 1], QString("http://s%1/").arg(i));
        if (i < 10) {
            EXPECT_EQ(captions[i], "None") << "entry after site " << i;
        }
    }
    EXPECT_FALSE(SiteEntryCaptions(sites).contains(DoNotUploadCaption));
    // Removing a site moves the later ones up their entries: each entry names its row.
    RemoveSite(sites, 0, prompt);
    EXPECT_EQ(SiteEntryCaptions(sites).first(), "http://s2/");
    EXPECT_EQ(SiteEntryCaptions(sites).size(), 11);
}

TEST(MenuTexts, AmpersandsAreStrippedOrDoubled) {
    EXPECT_EQ(StripAmpersands("&http://a&b/&&"), "http://ab/");
    EXPECT_EQ(StripAmpersands("None"), "None");
    EXPECT_EQ(MenuItemText("http://a&b/"), "http://a&&b/");
    EXPECT_EQ(StripAmpersands(MenuItemText("None")), "None");
}

TEST(SiteListDrop, ShowsTheSelectedSiteIndexOnly) {
    ScriptedPrompt prompt;
    SiteListDrop(-1, prompt);
    EXPECT_TRUE(prompt.shown().isEmpty());
    SiteListDrop(0, prompt);
    SiteListDrop(12, prompt);
    EXPECT_EQ(prompt.messages(), (QStringList{"0", "12"}));
}

}  // namespace
