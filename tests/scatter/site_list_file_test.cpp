#include "scatter/site_list.h"
#include "scatter/site_list_file.h"
#include "scatter/site_list_table.h"
#include "support/scripted_prompt.h"
#include "support/test_bytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

mode_t ModeOf(const QString& path) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return st.st_mode & 07777;
}

TEST(SiteListFile, ThreeSitesRoundTripThroughThirteenCrLfLinesInMode0600) {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    TextTable sites(SiteListColumns());
    AddSite(sites, {"ftp.a.example", "anna", "s3cr&t", "http://a.example/up/"}, prompt);
    AddSite(sites, {"ftp.b.example", "bob", QString::fromUtf8("p\xc3\xa4ss"), "http://b.example/"}, prompt);
    AddSite(sites, {"ftp.a.example", "", " spaced ", "http://a.example/up/"}, prompt);

    const QString path = dir.filePath("ftplist.txt");
    prompt.answerSaveFile(path);
    ASSERT_TRUE(SaveSiteListDialog(sites, prompt));
    EXPECT_EQ(prompt.shown().last().dialog.proposedName, "ftplist.txt");
    EXPECT_EQ(ModeOf(path), 0600u);
    const QByteArray text = ReadFileBytes(path);
    EXPECT_TRUE(text.startsWith("ftplist\r\nftp.a.example\r\nanna\r\ns3cr&t\r\nhttp://a.example/up/\r\n"));
    EXPECT_TRUE(text.endsWith("\r\n"));
    EXPECT_EQ(text.count("\r\n"), 13);
    EXPECT_EQ(text.count('\n'), 13);

    TextTable loaded(SiteListColumns());
    loaded.addRow({"stale"});
    prompt.answerOpenFile(path);
    ASSERT_TRUE(LoadSiteListDialog(loaded, prompt));
    ASSERT_EQ(loaded.rows(), 3);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(loaded.rowCells(r), sites.rowCells(r)) << "row " << r;
    EXPECT_EQ(SiteEntryCaptions(loaded).mid(0, 4),
              (QStringList{"http://a.example/up/", "http://b.example/", "http://a.example/up/", "None"}));
}

TEST(SiteListFile, ReplacingAReadableFileMakesIt0600) {
    QTemporaryDir dir;
    const QString path = dir.filePath("ftplist.txt");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("a much longer old content that must not survive the save\r\n");
    old.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);

    TextTable sites(SiteListColumns());
    sites.addRow({"f", "u", "p", "http://w/"});
    QString error;
    ASSERT_TRUE(SaveSiteListFile(sites, path, error)) << error.toStdString();
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(ReadFileBytes(path), "ftplist\r\nf\r\nu\r\np\r\nhttp://w/\r\n");
}

TEST(SiteListFile, LoadsShortAndBlankTrailingRecordsAndEveryLineEnd) {
    const QStringList full{"f", "u", "p", "http://w/"};
    const QStringList empty(4, QString());
    const struct {
        const char* name;
        QByteArray text;
        QList<QStringList> rows;
    } cases[] = {
        {"crlf", "ftplist\r\nf\r\nu\r\np\r\nhttp://w/\r\n", {full}},
        {"lf", "ftplist\nf\nu\np\nhttp://w/\n", {full}},
        {"cr without final break", "ftplist\rf\ru\rp\rhttp://w/", {full}},
        {"header unchecked", "anything\r\nf\r\nu\r\np\r\nhttp://w/\r\n", {full}},
        {"last record of two lines", "ftplist\r\nf\r\nu\r\np\r\nhttp://w/\r\ng\r\nv\r\n",
         {full, {"g", "v", "", ""}}},
        {"one empty line after the last record", "ftplist\r\nf\r\nu\r\np\r\nhttp://w/\r\n\r\n", {full, empty}},
        {"empty file", "", {}},
        {"header only", "ftplist\r\n", {}},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = dir.filePath("list.txt");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(c.text);
        f.close();
        TextTable sites(SiteListColumns());
        QString error;
        ASSERT_TRUE(LoadSiteListFile(sites, path, error)) << c.name;
        ASSERT_EQ(sites.rows(), c.rows.size()) << c.name;
        for (int r = 0; r < sites.rows(); ++r)
            EXPECT_EQ(sites.rowCells(r), c.rows[r]) << c.name << " row " << r;
    }
}

TEST(SiteListFile, FailuresAreReportedAndCancelsDoNothing) {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    TextTable sites(SiteListColumns());
    sites.addRow({"kept"});
    EXPECT_FALSE(LoadSiteListDialog(sites, prompt)) << "cancelled";
    EXPECT_FALSE(SaveSiteListDialog(sites, prompt)) << "cancelled";
    EXPECT_TRUE(prompt.messages().isEmpty());

    prompt.answerOpenFile(dir.filePath("missing.txt"));
    EXPECT_FALSE(LoadSiteListDialog(sites, prompt));
    prompt.answerSaveFile(dir.filePath("no/such/dir/ftplist.txt"));
    EXPECT_FALSE(SaveSiteListDialog(sites, prompt));
    ASSERT_EQ(prompt.messages().size(), 2);
    EXPECT_TRUE(prompt.messages()[0].contains("missing.txt"));
    EXPECT_TRUE(prompt.messages()[1].startsWith("Cannot create "));
    EXPECT_EQ(sites.rows(), 1);
    EXPECT_EQ(sites.cell(0, 0), "kept");
}

}  // namespace
