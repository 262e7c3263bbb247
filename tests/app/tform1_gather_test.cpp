// Page 1 through the window's own controls: opening a manifest starts the gather, the
// buttons and the popup menu steer it, and the hidden Rebuild joins what lies on disk.
#include "app/limit_spin_box.h"
#include "common/manifest_format.h"
#include "common/text_table.h"
#include "gather/download_table.h"
#include "gather/gather_engine.h"
#include "gather/gather_paths.h"
#include "support/event_wait.h"
#include "support/manifest_maker.h"
#include "support/part_server.h"
#include "support/test_bytes.h"
#include "window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

namespace {

// Manifests written to disk and opened through the window. The window's default save
// path lies under HOME, which points into the test's own folder.
class GatherWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_dir.path()));
        m_savePath = m_dir.path() + "/save/";
    }
    void TearDown() override {
        m_form.reset();
        qputenv("HOME", m_home);
    }
    QString writeManifest(const QString& name, const QStringList& lines) {
        QFile f(m_dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ManifestFileText(lines));
        return f.fileName();
    }
    // big.iso in the three parts, fetched from the server at /big1.bin ...
    QStringList manifestOn(const PartServer& server, const QString& fileCrc = QString()) const {
        QStringList urls;
        for (int i = 0; i < m_parts.size(); ++i)
            urls << server.url(QString("/big%1.bin").arg(i + 1));
        return ManifestLinesFor("big.iso", m_parts, urls, fileCrc);
    }
    QString cell(int row, int column) const { return m_form->downloadTable()->cell(row, column); }

    QTemporaryDir m_dir;
    QByteArray m_home;
    QString m_savePath;
    const QList<QByteArray> m_parts = {SeededBytes(9000, 1), SeededBytes(12000, 2), SeededBytes(700, 3)};
};

TEST_F(GatherWindowTest, TheArgumentIsOpenedWithoutADialogAndStartsTheFirstPass) {
    PartServer server({{"/big1.bin", {PartReply::silent()}}, {"/big2.bin", {PartReply::silent()}}});
    const QString path = writeManifest("given.pwq", manifestOn(server));
    open(path);
    EXPECT_TRUE(m_prompt.shown().isEmpty()) << m_prompt.messages().join("|").toStdString();
    EXPECT_TRUE(form().commandLineFlag());
    EXPECT_EQ(form().manifestPath(), path);
    EXPECT_EQ(form().mempwq.count(), 16);
    const TextTable& table = *form().downloadTable();
    ASSERT_EQ(table.rows(), 3);
    ASSERT_EQ(form().lvdl->model()->columnCount(), 13);
    for (int r = 0; r < 3; ++r) {
        const bool started = r < 2;  // "Simultaneous Downloads:" 2
        EXPECT_EQ(table.rowCells(r), QStringList({server.url(QString("/big%1.bin").arg(r + 1)),
                                                  started ? "Starting..." : "Idle", CrcTextOf(m_parts[r]), "?", "Y",
                                                  "Y", "0", "0", "0", "?", "?", QString::number(m_parts[r].size()),
                                                  started ? "1" : "0"}));
    }
    EXPECT_EQ(form().gather()->liveCount(), 2);
    EXPECT_TRUE(form().StallTimer->isActive());
    EXPECT_EQ(form().Gauge1->value(), 0);
    EXPECT_TRUE(QDir(m_dir.path() + "/ParcelwickFiles/big.iso.dir/parts").exists()) << "under the default save path";
}

TEST_F(GatherWindowTest, LaterOpensAskWithThePwqFilterAndReplaceTheGather) {
    PartServer server({{"/big1.bin", {PartReply::silent()}}, {"/big2.bin", {PartReply::silent()}},
                       {"/only.bin", {PartReply::silent()}}});
    open(writeManifest("given.pwq", manifestOn(server)));
    const QString second = writeManifest(
        "second.pwq", ManifestLinesFor("other.bin", {SeededBytes(100, 4)}, {server.url("/only.bin")}));
    m_prompt.answerOpenFile(second);
    form().btnLoadpwq->click();
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_EQ(m_prompt.shown()[0].dialog.filter, "pwq (*.pwq)");
    EXPECT_EQ(form().manifestPath(), second);
    EXPECT_EQ(form().downloadTable()->rows(), 1);
    EXPECT_EQ(form().gather()->liveCount(), 1) << "the two downloads of the first manifest were dropped";
    EXPECT_TRUE(waitUntil([&] { return server.openNow() == 1; }));

    // File > Open goes to page 1 and asks again; a cancel changes nothing.
    form().PageControl1->setCurrentIndex(3);
    form().findChild<QAction*>("Open1")->trigger();
    EXPECT_EQ(form().PageControl1->currentIndex(), 0);
    ASSERT_EQ(m_prompt.shown().size(), 2);
    EXPECT_EQ(m_prompt.shown()[1].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_EQ(form().manifestPath(), second);
    EXPECT_EQ(form().downloadTable()->rows(), 1);
    EXPECT_EQ(form().gather()->liveCount(), 1);
}

TEST_F(GatherWindowTest, RefusedOrUnreadableManifestsLeaveTheTableAndCreateNothing) {
    open();
    form().dedir->setText(m_savePath);
    const QList<QByteArray> parts = {"first part.", "second part"};
    const QStringList urls = {"http://127.0.0.1:9/big1.bin", "http://127.0.0.1:9/big2.bin"};
    struct Row {
        QString path;
        QString messageStart;
    };
    const Row rows[] = {
        {writeManifest("hostile.pwq", ManifestLinesFor("../x", parts, urls)),
         "Refused: this Parcelwick file names the file \"../x\", which is not a plain file name."},
        {writeManifest("absolute.pwq", ManifestLinesFor("/etc/passwd", parts, urls)), "Refused: "},
        {m_dir.filePath("missing.pwq"), ""},
    };
    for (const Row& row : rows) {
        m_prompt.forget();
        m_prompt.answerOpenFile(row.path);
        form().btnLoadpwq->click();
        ASSERT_EQ(m_prompt.messages().size(), 1) << row.path.toStdString();
        EXPECT_TRUE(m_prompt.messages()[0].startsWith(row.messageStart)) << m_prompt.messages()[0].toStdString();
        EXPECT_EQ(form().downloadTable()->rows(), 0);
    }
    EXPECT_FALSE(QDir(m_savePath).exists());
    EXPECT_FALSE(QFile::exists(m_dir.path() + "/x"));
}

TEST_F(GatherWindowTest, CheckAndFillRunsOnTheLinesInMemoryAndARefusalLeavesTheGather) {
    PartServer server({{"/a1.bin", {PartReply::silent()}}});
    open();
    form().dedir->setText(m_savePath);
    form().mempwq.replace(ManifestLinesFor("a.bin", {"abcd"}, {server.url("/a1.bin")}));
    form().btnldpwq2->click();
    EXPECT_TRUE(m_prompt.shown().isEmpty());
    ASSERT_EQ(form().downloadTable()->rows(), 1);
    EXPECT_EQ(cell(0, DownloadColumn::Status), "Starting...");
    EXPECT_TRUE(QDir(m_savePath + "a.bin.dir/parts").exists());

    form().mempwq.replace({"<html>", "1"});
    form().btnldpwq2->click();
    EXPECT_EQ(m_prompt.messages(), QStringList{"Not a Parcelwick file!"});
    EXPECT_EQ(form().downloadTable()->rows(), 1) << "a refused manifest keeps the table";
    EXPECT_EQ(form().gather()->liveCount(), 1) << "and its downloads";
}

TEST_F(GatherWindowTest, PartsOnDiskAreJoinedAtOnceAndTheHiddenRebuildJoinsThemAgain) {
    struct Row {
        const char* name;
        QString fileCrc;  // empty: the true CRC
        bool extracted;
    };
    const Row rows[] = {{"good", QString(), true}, {"wrong CRC", "0BADC0DE", false}};
    PartServer nobody({});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QStringList lines = manifestOn(nobody, row.fileCrc);
        const GatherPaths paths(m_dir.path() + "/ParcelwickFiles/", "big.iso");
        ASSERT_TRUE(QDir().mkpath(paths.partsDirectory()));
        for (int r = 0; r < m_parts.size(); ++r) {
            QFile part(paths.partFile(lines[5 + 3 * r]));
            ASSERT_TRUE(part.open(QIODevice::WriteOnly | QIODevice::Truncate));
            part.write(m_parts[r]);
        }
        m_prompt.forget();
        open(writeManifest("r.pwq", lines));
        const QString output = paths.outputFile();
        const QStringList message = {row.extracted ? "Extracted " + output + " successfully!" : "CRC Error on " + output};
        EXPECT_EQ(m_prompt.messages(), message) << "nothing was fetched: every part lay on disk";
        EXPECT_EQ(nobody.requests("/big1.bin") + nobody.requests("/big2.bin") + nobody.requests("/big3.bin"), 0);
        EXPECT_EQ(m_prompt.openedUrls().size(), row.extracted ? 1 : 0);
        EXPECT_EQ(form().Gauge1->value(), 100);
        QFile rebuilt(output);
        ASSERT_TRUE(rebuilt.open(QIODevice::ReadOnly));
        EXPECT_EQ(rebuilt.readAll(), m_parts.join());

        rebuilt.remove();
        m_prompt.forget();
        form().btnReBuild->click();
        EXPECT_EQ(m_prompt.messages(), message);
        EXPECT_TRUE(QFile::exists(output));
    }
}

TEST_F(GatherWindowTest, AbortResumeAndReStartFromTheWindow) {
    PartServer server({{"/big1.bin", {PartReply::stallAfter(m_parts[0], 4500), PartReply::ok(m_parts[0])}},
                       {"/big2.bin",
                        {PartReply::stallAfter(m_parts[1], 3000), PartReply::stallAfter(m_parts[1], 6000),
                         PartReply::ok(m_parts[1])}},
                       {"/big3.bin", {PartReply::ok(m_parts[2])}}});
    open();
    form().dedir->setText(m_savePath);
    m_prompt.answerOpenFile(writeManifest("steer.pwq", manifestOn(server)));
    form().btnLoadpwq->click();
    ASSERT_TRUE(waitUntil([&] { return cell(0, DownloadColumn::Status) == "50%" && cell(1, DownloadColumn::Status) == "25%"; }));

    form().btnAbortDL->click();
    EXPECT_TRUE(form().stopFlag());
    ASSERT_TRUE(waitUntil([&] { return form().gather()->liveCount() == 0; }));
    EXPECT_EQ(cell(0, DownloadColumn::Status), "Error:CRC");
    EXPECT_EQ(cell(1, DownloadColumn::Status), "Error:CRC");
    EXPECT_EQ(cell(2, DownloadColumn::Status), "Idle");
    form().StallTimerTimer();
    EXPECT_FALSE(form().StallTimer->isActive()) << "the tick after the aborted downloads reported";

    form().btndlresume->click();
    EXPECT_FALSE(form().stopFlag());
    ASSERT_TRUE(waitUntil([&] { return cell(0, DownloadColumn::Status) == "Done." && cell(1, DownloadColumn::Status) == "50%"; }));
    form().lvdl->selectionModel()->select(form().lvdl->model()->index(1, 0),
                                          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    form().findChild<QAction*>("ReStart1")->trigger();
    ASSERT_TRUE(waitUntil([&] { return !m_prompt.messages().isEmpty(); }));

    const QString output = GatherPaths(m_savePath, "big.iso").outputFile();
    EXPECT_EQ(m_prompt.messages(), QStringList{"Extracted " + output + " successfully!"});
    EXPECT_EQ(QStringList({cell(0, DownloadColumn::Attempts), cell(1, DownloadColumn::Attempts),
                           cell(2, DownloadColumn::Attempts)}),
              QStringList({"2", "3", "1"}));
    EXPECT_EQ(form().Gauge1->value(), 100);
    QFile rebuilt(output);
    ASSERT_TRUE(rebuilt.open(QIODevice::ReadOnly));
    EXPECT_EQ(rebuilt.readAll(), m_parts.join());
}

// A version-2 manifest through Open/Download: the part not found is rebuilt from a
// recovery part, its row and the log pane say so, and the gather ends as any other.
TEST_F(GatherWindowTest, AVersionTwoManifestWithAPartMissingEndsExtracted) {
    const QByteArray file = m_parts.join();
    const QStringList paths = {"/c1.bin", "/c2.bin", "/c3.bin", "/cr1.bin", "/cr2.bin"};
    const QList<QByteArray> parts = CodedManifestFor("big.iso", file, 3, 2, paths).parts;
    PartServer server({{"/c1.bin", {PartReply::ok(parts[0])}}, {"/c3.bin", {PartReply::ok(parts[2])}},
                       {"/cr1.bin", {PartReply::ok(parts[3])}}, {"/cr2.bin", {PartReply::ok(parts[4])}}});
    QStringList urls;
    for (const QString& path : paths)
        urls << server.url(path);
    open();
    form().dedir->setText(m_savePath);
    m_prompt.answerOpenFile(writeManifest("coded.pwq", CodedManifestFor("big.iso", file, 3, 2, urls).lines));
    form().btnLoadpwq->click();
    ASSERT_TRUE(waitUntil([&] { return !m_prompt.messages().isEmpty(); }));

    const QString output = GatherPaths(m_savePath, "big.iso").outputFile();
    EXPECT_EQ(m_prompt.messages(), QStringList{"Extracted " + output + " successfully!"});
    EXPECT_EQ(cell(1, DownloadColumn::Status), "Rebuilt from recovery part 1");
    EXPECT_EQ(form().downloadTable()->rows(), 4) << "one recovery row, the one used";
    EXPECT_TRUE(form().Memo1->toPlainText().contains("part 2 rebuilt from recovery part 1"))
        << form().Memo1->toPlainText().toStdString();
    EXPECT_EQ(form().Gauge1->value(), 100);
    EXPECT_TRUE(ReadFileBytes(output) == file);
}

TEST_F(GatherWindowTest, TheControlsOfPageOneAreReadAtEveryStep) {
    PartServer server({{"/big1.bin", {PartReply::ok(SeededBytes(9000, 9))}}});
    open();
    form().dedir->setText(m_savePath);
    form().cbcrcretry->setChecked(false);
    form().sdl->setValue(1);
    form().mempwq.replace(manifestOn(server));
    form().btnldpwq2->click();
    EXPECT_EQ(form().gather()->liveCount(), 1) << "one at a time";
    EXPECT_EQ(cell(1, DownloadColumn::Status), "Idle");
    ASSERT_TRUE(waitUntil([&] { return cell(2, DownloadColumn::Status) == "404 Error"; }));
    // Without Retry On CRC Error a wrong part stays "Done." with a bad CRC, and a 404
    // stays as it is.
    EXPECT_EQ(cell(0, DownloadColumn::Status), "Done.");
    EXPECT_EQ(cell(0, DownloadColumn::CrcOk), "R");
    EXPECT_EQ(cell(1, DownloadColumn::Status), "404 Error");
    EXPECT_TRUE(m_prompt.shown().isEmpty()) << "not every part is done: nothing to ask";
}

// The Options page reaches the engine: a cut part asks for its rest, a part above 8 MiB
// goes in two ranges, and one connection to the host at a time.
TEST_F(GatherWindowTest, TheResumeAndConnectionOptionsReachTheDownloads) {
    const QByteArray small = SeededBytes(3000, 5), large = SeededBytes(9 << 20, 6);
    PartServer server({{"/s.bin", {PartReply::shortBody(small, 1800), PartReply::ranged(small)}},
                       {"/l.bin", {PartReply::ranged(large)}}});
    open();
    form().dedir->setText(m_savePath);
    form().cbresume->setChecked(true);
    form().seconnections->setValue(2);
    form().seperhost->setValue(1);
    form().mempwq.replace(ManifestLinesFor("sl.bin", {small, large}, {server.url("/s.bin"), server.url("/l.bin")}));
    form().btnldpwq2->click();
    ASSERT_TRUE(waitUntil([&] { return !m_prompt.messages().isEmpty(); }, 60000));
    EXPECT_EQ(m_prompt.messages(), QStringList{"Extracted " + GatherPaths(m_savePath, "sl.bin").outputFile() + " successfully!"});
    EXPECT_EQ(server.asked("/s.bin"), QStringList({"", "bytes=1800-"}));
    EXPECT_EQ(server.asked("/l.bin"), QStringList({"bytes=0-4718591", "bytes=4718592-"}));
    EXPECT_EQ(server.mostOpen(), 1);
}

}  // namespace
