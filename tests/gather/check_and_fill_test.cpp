#include "common/manifest_format.h"
#include "gather/check_and_fill.h"
#include "gather/download_table.h"
#include "support/scripted_prompt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QByteArray Manifest = QByteArray(ManifestSignature) +
                            "\r\n1\r\nbig.iso\r\n0000ABCD\r\n2\r\n"
                            "http://w/big1.bin\r\n1000\r\nAAAAAAAA\r\n"
                            "http://v/d/big2.bin\r\n500\r\nBBBBBBBB\r\nme\r\nhello\r\n";

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return f.fileName();
}

TEST(CheckAndFill, FillsOneFreshRowPerPartAndAsksForTheFirstPass) {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    ManifestLines mempwq;
    TextTable table(DownloadTableColumns());
    table.addRow({"old row"});
    EXPECT_EQ(OpenManifestFile(WriteFile(dir, "m.pwq", Manifest), mempwq, table, prompt), FillOutcome::StartFirstPass);
    EXPECT_TRUE(prompt.shown().isEmpty());
    EXPECT_EQ(mempwq.count(), 13);
    ASSERT_EQ(table.rows(), 2);
    EXPECT_EQ(table.rowCells(0), (QStringList{"http://w/big1.bin", "Idle", "AAAAAAAA", "?", "Y", "Y", "0", "0", "0",
                                              "?", "?", "1000", "0"}));
    EXPECT_EQ(table.cell(1, DownloadColumn::Filename), "http://v/d/big2.bin");
    EXPECT_EQ(table.cell(1, DownloadColumn::PartSize), "500");
}

TEST(CheckAndFill, LineEndsAndEmptyCommentsDoNotChangeTheRows) {
    QTemporaryDir dir;
    QByteArray lf = Manifest;
    lf.replace("\r\n", "\n");
    QByteArray cr = Manifest;
    cr.replace("\r\n", "\r");
    QByteArray noComments = Manifest;
    noComments.replace("me\r\nhello\r\n", "\r\n\r\n");
    QList<QStringList> firstRows;
    for (const QByteArray& text : {Manifest, lf, cr, noComments}) {
        ScriptedPrompt prompt;
        ManifestLines mempwq;
        TextTable table(DownloadTableColumns());
        EXPECT_EQ(OpenManifestFile(WriteFile(dir, "m.pwq", text), mempwq, table, prompt), FillOutcome::StartFirstPass);
        ASSERT_EQ(table.rows(), 2);
        firstRows << (table.rowCells(0) + table.rowCells(1));
    }
    for (const QStringList& rows : firstRows)
        EXPECT_EQ(rows, firstRows.first());
}

TEST(CheckAndFill, ARefusedManifestKeepsTheTableAndCreatesNothing) {
    QTemporaryDir dir;
    const QString savePath = dir.path() + "/save/";
    QByteArray hostile = Manifest;
    hostile.replace("big.iso", "../../x");
    for (const QByteArray& text : {hostile, QByteArray(Manifest).replace("http://v/d/big2.bin", "http://v/d/")}) {
        ScriptedPrompt prompt;
        ManifestLines mempwq;
        TextTable table(DownloadTableColumns());
        table.addRow({"earlier"});
        EXPECT_EQ(OpenManifestFile(WriteFile(dir, "h.pwq", text), mempwq, table, prompt), FillOutcome::Refused);
        ASSERT_EQ(prompt.messages().size(), 1);
        EXPECT_TRUE(prompt.messages()[0].startsWith("Refused:")) << prompt.messages()[0].toStdString();
        EXPECT_EQ(table.rows(), 1);
        EXPECT_EQ(table.cell(0, 0), "earlier");
    }
    EXPECT_FALSE(QDir(savePath).exists());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
}

TEST(CheckAndFill, ShowsTheSignatureMessageForTheLinesInMemory) {
    ScriptedPrompt prompt;
    ManifestLines mempwq;
    mempwq.replace({"<html>", "1"});
    TextTable table(DownloadTableColumns());
    EXPECT_EQ(CheckAndFill(mempwq, table, prompt), FillOutcome::Refused);
    EXPECT_EQ(prompt.messages(), QStringList{"Not a Parcelwick file!"});
    EXPECT_EQ(mempwq.count(), 2) << "the refused lines stay in memory";
}

TEST(OpenManifestFile, AnUnreadableFileChangesNeitherLinesNorTable) {
    QTemporaryDir dir;
    ScriptedPrompt prompt;
    ManifestLines mempwq;
    mempwq.replace({"kept"});
    TextTable table(DownloadTableColumns());
    table.addRow({"kept row"});
    EXPECT_EQ(OpenManifestFile(dir.filePath("none.pwq"), mempwq, table, prompt), FillOutcome::Refused);
    ASSERT_EQ(prompt.shown().size(), 1);
    EXPECT_EQ(prompt.shown()[0].kind, ScriptedPrompt::Kind::Error);
    EXPECT_EQ(mempwq.lines(), QStringList{"kept"});
    EXPECT_EQ(table.rows(), 1);
}

TEST(ChooseManifestPath, TheCommandLineArgumentServesOnceThenTheDialog) {
    ScriptedPrompt prompt;
    bool flag = false;
    EXPECT_EQ(ChooseManifestPath("/x/first.pwq", flag, prompt), "/x/first.pwq");
    EXPECT_TRUE(flag);
    EXPECT_TRUE(prompt.shown().isEmpty());

    prompt.answerOpenFile("/y/chosen.pwq");
    EXPECT_EQ(ChooseManifestPath("/x/first.pwq", flag, prompt), "/y/chosen.pwq");
    ASSERT_EQ(prompt.shown().size(), 1);
    EXPECT_EQ(prompt.shown()[0].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_EQ(prompt.shown()[0].dialog.filter, "pwq (*.pwq)");

    bool noArgument = false;
    EXPECT_EQ(ChooseManifestPath(QString(), noArgument, prompt), QString()) << "cancelled dialog";
    EXPECT_FALSE(noArgument);
    EXPECT_EQ(prompt.shown().size(), 2);
}

}  // namespace
