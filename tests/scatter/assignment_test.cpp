#include "scatter/assignment.h"
#include "scatter/site_list_table.h"
#include "scatter/upload_table.h"
#include "support/scripted_prompt.h"

#include <gtest/gtest.h>

namespace {

class AssignmentTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 1; i <= 6; ++i)
            m_uploads.addRow({QString("/up/m%1.bin").arg(i), "?", "4", "0000ABCD", "?", "?", "?", "?", "?"});
        m_sites.addRow({"ftp.a.example", "anna", "pa", "http://a.example/"});
        m_sites.addRow({"ftp.b.example", "bob", "pb", "http://b.example/x&y/"});
        m_sites.addRow({"ftp.c.example", "carl", "pc", "http://a.example/"});
    }
    TextTable m_uploads{UploadTableColumns()};
    TextTable m_sites{SiteListColumns()};
    ScriptedPrompt m_prompt;
};

TEST_F(AssignmentTest, FiveSelectedRowsGetTheSiteAndItsAccount) {
    AssignSiteToRows(m_uploads, {4, 0, 1, 2, 3}, m_sites, 1, m_prompt);
    EXPECT_TRUE(m_prompt.shown().isEmpty());
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(m_uploads.rowCells(r), (QStringList{QString("/up/m%1.bin").arg(r + 1), "http://b.example/x&y/", "4",
                                                      "0000ABCD", "ftp.b.example", "bob", "pb", "?", "?"}))
            << "row " << r;
    EXPECT_EQ(m_uploads.cell(5, UploadColumn::Site), "?") << "unselected row";
}

TEST_F(AssignmentTest, EachEntryUsesItsOwnRowEvenWhenAddressesRepeat) {
    AssignSiteToRows(m_uploads, {0}, m_sites, 0, m_prompt);
    AssignSiteToRows(m_uploads, {1}, m_sites, 2, m_prompt);
    EXPECT_EQ(m_uploads.cell(0, UploadColumn::UserName), "anna");
    EXPECT_EQ(m_uploads.cell(1, UploadColumn::UserName), "carl");
    EXPECT_EQ(m_uploads.cell(1, UploadColumn::Site), "http://a.example/");
}

TEST_F(AssignmentTest, EntriesWithoutASiteOrWithoutSelectionChangeNothing) {
    const QList<QStringList> before = {m_uploads.rowCells(0), m_uploads.rowCells(1)};
    AssignSiteToRows(m_uploads, {0, 1}, m_sites, 3, m_prompt);
    EXPECT_EQ(m_prompt.messages(), QStringList{"Select FTP site (Step 5) not \"None\""});
    AssignSiteToRows(m_uploads, {}, m_sites, 0, m_prompt);
    TextTable noSites(SiteListColumns());
    AssignSiteToRows(m_uploads, {0, 1}, noSites, 0, m_prompt);
    EXPECT_EQ(m_prompt.messages().size(), 2);
    EXPECT_EQ((QList<QStringList>{m_uploads.rowCells(0), m_uploads.rowCells(1)}), before);
}

TEST_F(AssignmentTest, DoNotUploadMarksRowsAndAReassignmentSendsThemAgain) {
    AssignSiteToRows(m_uploads, {0, 1, 2}, m_sites, 0, m_prompt);
    m_uploads.setCell(1, UploadColumn::Status, "226");
    m_uploads.setCell(1, UploadColumn::Progress, "100%");
    MarkDoNotUpload(m_uploads, {1, 2, 99});
    for (int r : {1, 2}) {
        EXPECT_EQ(m_uploads.cell(r, UploadColumn::Site), "Do Not Upload");
        EXPECT_EQ(m_uploads.cell(r, UploadColumn::Progress), "100%");
        EXPECT_EQ(m_uploads.cell(r, UploadColumn::Status), "--");
        EXPECT_EQ(m_uploads.cell(r, UploadColumn::FtpSite), "ftp.a.example") << "the account stays";
    }
    EXPECT_EQ(m_uploads.cell(0, UploadColumn::Site), "http://a.example/");

    AssignSiteToRows(m_uploads, {2}, m_sites, 1, m_prompt);
    EXPECT_EQ(m_uploads.cell(2, UploadColumn::Progress), "?");
    EXPECT_EQ(m_uploads.cell(2, UploadColumn::Status), "--") << "Status is the upload driver's";
    EXPECT_EQ(m_uploads.cell(2, UploadColumn::Site), "http://b.example/x&y/");
}

}  // namespace
