#include "app/limit_spin_box.h"
#include "common/manifest_format.h"
#include "common/text_table.h"
#include "crc/crc32.h"
#include "gather/manifest_parts.h"
#include "gather/manifest_text.h"
#include "scatter/upload_table.h"
#include "window_fixture.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

// Split, assign sites and Make PWQ, all through the window.
class ManifestWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        open();
        QFile source(m_dir.filePath("movie.avi"));
        ASSERT_TRUE(source.open(QIODevice::WriteOnly));
        source.write("1234567890");
        source.close();
        m_source = source.fileName();
        m_prompt.answerOpenFile(m_source);
        form().Button1->click();
        form().dedir->setText(m_dir.path() + "/save/");
        form().splitnumber->setValue(3);
        form().btnSplit->click();
        ASSERT_EQ(form().uploadTable()->rows(), 3);
        for (const char* site : {"a", "b"}) {
            form().edtftpsite->setText(QString("ftp.%1.example").arg(site));
            form().edtWebSite->setText(QString("http://%1.example/up/").arg(site));
            form().btnAddFTPInfo->click();
        }
        assign({0, 1}, "m1");
        assign({2}, "m2");
        form().edtfinusername->setText("Me");
        form().edtComment->setText("My movie");
        m_prompt.forget();
    }
    void assign(const QList<int>& rows, const char* entry) {
        form().lvfiles->clearSelection();
        for (int r : rows)
            form().lvfiles->selectionModel()->select(form().lvfiles->model()->index(r, 0),
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
        form().findChild<QAction*>(entry)->trigger();
    }
    QTemporaryDir m_dir;
    QString m_source;
};

TEST_F(ManifestWindowTest, MakePwqAsksWhereAndWritesTheUploadTable) {
    const QString path = m_dir.filePath("out/movie.pwq");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
    m_prompt.answerSaveFile(path);
    form().btnMain->click();

    ASSERT_EQ(m_prompt.shown().size(), 1);
    const ScriptedPrompt::Shown& dialog = m_prompt.shown()[0];
    EXPECT_EQ(dialog.kind, ScriptedPrompt::Kind::SaveFile);
    EXPECT_EQ(dialog.text, "Save PWQ file as:");
    EXPECT_EQ(dialog.dialog.filter, "PWQ (*.pwq)");
    EXPECT_EQ(dialog.dialog.defaultExtension, "pwq");
    EXPECT_EQ(dialog.dialog.proposedName, "movie.pwq");

    QStringList lines;
    QString error;
    ASSERT_TRUE(ReadManifestFile(path, lines, error)) << error.toStdString();
    ASSERT_EQ(lines.size(), 16);
    uint32_t crc = 0;
    ASSERT_TRUE(FileCrc32(QFile::encodeName(m_source).toStdString(), crc));
    EXPECT_EQ(lines.mid(0, 5), QStringList({ManifestSignature, ManifestVersion, "movie.avi",
                                            QString::fromStdString(Crc32Text(crc)), "3"}));
    EXPECT_EQ(lines.mid(14), QStringList({"Me", "My movie"}));
    const QList<ManifestPart> parts = ManifestParts(lines);
    const TextTable& uploads = *form().uploadTable();
    ASSERT_EQ(parts.size(), uploads.rows());
    const char* const sites[] = {"http://a.example/up/", "http://a.example/up/", "http://b.example/up/"};
    for (int r = 0; r < uploads.rows(); ++r) {
        EXPECT_EQ(parts[r].url, sites[r] + QFileInfo(uploads.cell(r, UploadColumn::Filename)).fileName());
        EXPECT_EQ(parts[r].size, uploads.cell(r, UploadColumn::Size));
        EXPECT_EQ(parts[r].crc, uploads.cell(r, UploadColumn::Crc));
    }
    EXPECT_EQ(form().mempwq.lines(), lines);
}

TEST_F(ManifestWindowTest, CancelledSaveWritesNothingAndWritePwqOffersTheSameLinesAgain) {
    form().btnMain->click();  // cancelled
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_TRUE(m_prompt.messages().isEmpty());
    EXPECT_EQ(form().mempwq.count(), 16);
    EXPECT_EQ(QDir(m_dir.path()).entryList({"*.pwq"}, QDir::Files), QStringList());

    // A site changed after Make PWQ does not reach the file until Make PWQ runs again.
    assign({0}, "m2");
    const QString path = m_dir.filePath("again.pwq");
    m_prompt.answerSaveFile(path);
    form().btnwritepwq->click();
    QStringList lines;
    QString error;
    ASSERT_TRUE(ReadManifestFile(path, lines, error));
    EXPECT_EQ(lines, form().mempwq.lines());
    EXPECT_EQ(ManifestParts(lines).first().url, "http://a.example/up/movie1.bin");

    m_prompt.answerSaveFile(path);
    form().btnMain->click();
    ASSERT_TRUE(ReadManifestFile(path, lines, error));
    EXPECT_EQ(ManifestParts(lines).first().url, "http://b.example/up/movie1.bin");
}

}  // namespace
