#include "common/manifest_format.h"
#include "common/text_table.h"
#include "crc/crc32.h"
#include "gather/download_table.h"
#include "gather/gather_paths.h"
#include "window_fixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

QString CrcText(const QByteArray& bytes) {
    return QString::fromStdString(Crc32Text(~Crc32Update(0xFFFFFFFFu, bytes.constData(), bytes.size())));
}

// Manifests written to disk and opened through the window.
class GatherWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_savePath = m_dir.path() + "/save/";
    }
    // A manifest of `parts` named big.iso; `fileName` replaces the name line.
    QString writeManifest(const QString& name, const QList<QByteArray>& parts, const QString& fileName = "big.iso",
                          const QString& fileCrc = QString()) {
        QStringList lines = {ManifestSignature, ManifestVersion, fileName,
                             fileCrc.isEmpty() ? CrcText(parts.join()) : fileCrc, QString::number(parts.size())};
        for (int i = 0; i < parts.size(); ++i)
            lines << QString("http://w.example/d/big%1.bin").arg(i + 1) << QString::number(parts[i].size())
                  << CrcText(parts[i]);
        lines << "me" << "hello";
        QFile f(m_dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write((lines.join("\r\n") + "\r\n").toUtf8());
        return f.fileName();
    }
    QStringList subdirectories() const { return QDir(m_dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }

    QTemporaryDir m_dir;
    QString m_savePath;
    const QList<QByteArray> m_parts = {"first part.", "second part", "end"};
};

TEST_F(GatherWindowTest, ArgumentFillsTheDownloadTableWithoutADialog) {
    const QString path = writeManifest("given.pwq", m_parts);
    open(path);
    EXPECT_TRUE(m_prompt.shown().isEmpty()) << m_prompt.messages().join("|").toStdString();
    EXPECT_TRUE(form().commandLineFlag());
    EXPECT_EQ(form().manifestPath(), path);
    EXPECT_EQ(form().mempwq.count(), 16);
    const TextTable& table = *form().downloadTable();
    ASSERT_EQ(table.rows(), 3);
    ASSERT_EQ(form().lvdl->model()->columnCount(), 13);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(table.rowCells(r), QStringList({QString("http://w.example/d/big%1.bin").arg(r + 1), "Idle",
                                                  CrcText(m_parts[r]), "?", "Y", "Y", "0", "0", "0", "?", "?",
                                                  QString::number(m_parts[r].size()), "0"}));
    EXPECT_EQ(form().Gauge1->value(), 0);
    EXPECT_TRUE(subdirectories().isEmpty()) << "filling creates nothing";
}

TEST_F(GatherWindowTest, LaterOpensAskWithThePwqFilterAndRefill) {
    open(writeManifest("given.pwq", m_parts));
    const QString second = writeManifest("second.pwq", {"only"});
    m_prompt.answerOpenFile(second);
    form().btnLoadpwq->click();
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_EQ(m_prompt.shown()[0].dialog.filter, "pwq (*.pwq)");
    EXPECT_EQ(form().manifestPath(), second);
    EXPECT_EQ(form().downloadTable()->rows(), 1);

    // File > Open goes to page 1 and asks again; a cancel changes nothing.
    form().PageControl1->setCurrentIndex(3);
    form().findChild<QAction*>("Open1")->trigger();
    EXPECT_EQ(form().PageControl1->currentIndex(), 0);
    ASSERT_EQ(m_prompt.shown().size(), 2);
    EXPECT_EQ(m_prompt.shown()[1].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_EQ(form().manifestPath(), second);
    EXPECT_EQ(form().downloadTable()->rows(), 1);
}

TEST_F(GatherWindowTest, RefusedOrUnreadableManifestsLeaveTheTableAndCreateNothing) {
    open();
    form().dedir->setText(m_savePath);
    struct Row {
        QString path;
        QString messageStart;
    };
    const Row rows[] = {
        {writeManifest("hostile.pwq", m_parts, "../x"),
         "Refused: this Parcelwick file names the file \"../x\", which is not a plain file name."},
        {writeManifest("absolute.pwq", m_parts, "/etc/passwd"), "Refused: "},
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
    EXPECT_TRUE(subdirectories().isEmpty());
    EXPECT_FALSE(QFile::exists(m_dir.path() + "/x"));
}

TEST_F(GatherWindowTest, CheckAndFillRunsOnTheLinesInMemory) {
    open();
    form().mempwq.replace({ManifestSignature, ManifestVersion, "a.bin", "00000000", "1", "http://h.example/a1.bin",
                           "4", "11111111"});
    form().btnldpwq2->click();
    EXPECT_TRUE(m_prompt.shown().isEmpty());
    ASSERT_EQ(form().downloadTable()->rows(), 1);
    EXPECT_EQ(form().downloadTable()->cell(0, DownloadColumn::PartSize), "4");

    form().mempwq.replace({"<html>", "1"});
    form().btnldpwq2->click();
    EXPECT_EQ(m_prompt.messages().size(), 1);
    EXPECT_EQ(form().downloadTable()->rows(), 1) << "a refused manifest keeps the table";
}

TEST_F(GatherWindowTest, HiddenRebuildJoinsThePartsAndReports) {
    struct Row {
        const char* name;
        QString fileCrc;  // empty: the true CRC
        bool extracted;
    };
    const Row rows[] = {{"good", QString(), true}, {"wrong CRC", "0BADC0DE", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        open(writeManifest("r.pwq", m_parts, "big.iso", row.fileCrc));
        form().dedir->setText(m_savePath);
        const GatherPaths paths(m_savePath, "big.iso");
        ASSERT_TRUE(QDir().mkpath(paths.partsDirectory()));
        TextTable& table = *form().downloadTable();
        for (int r = 0; r < table.rows(); ++r) {
            QFile part(paths.partFile(table.cell(r, DownloadColumn::Filename)));
            ASSERT_TRUE(part.open(QIODevice::WriteOnly | QIODevice::Truncate));
            part.write(m_parts[r]);
            table.setCell(r, DownloadColumn::CrcOk, "G");  // as the downloads leave a verified part
        }
        m_prompt.forget();
        form().btnReBuild->click();

        const QString output = paths.outputFile();
        if (row.extracted) {
            EXPECT_EQ(m_prompt.messages(), QStringList({"Extracted " + output + " successfully!"}));
            EXPECT_EQ(m_prompt.openedUrls(), QList<QUrl>({QUrl::fromLocalFile(paths.workDirectory())}));
        } else {
            EXPECT_EQ(m_prompt.messages(), QStringList({"CRC Error on " + output}));
            EXPECT_TRUE(m_prompt.openedUrls().isEmpty());
        }
        EXPECT_EQ(form().Gauge1->value(), 100);
        QFile rebuilt(output);
        ASSERT_TRUE(rebuilt.open(QIODevice::ReadOnly));
        EXPECT_EQ(rebuilt.readAll(), m_parts.join());
    }
}

}  // namespace
