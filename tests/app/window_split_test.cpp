// Page 2 through the window: Browse, the labels, the content warning and Split File,
// on real files.
#include "window_fixture.h"

#include "app/limit_spin_box.h"
#include "common/manifest_v2.h"
#include "common/text_table.h"
#include "gather/manifest_text.h"
#include "scatter/upload_table.h"
#include "support/event_wait.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

const char* const kWarning =
    "Parcelwick condemns the distribution of child pornography. All violations will be reported to the Federal "
    "Authorities in your country.";

QString writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class SplitWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        open();
        form().dedir->setText(m_dir.path() + "/save/");
    }
    void browse(const QString& path) {
        m_prompt.answerOpenFile(path);
        form().Button1->click();
    }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(SplitWindowTest, BrowseFillsPathNameLabelsAndCrc) {
    const QString source = writeFile(m_dir.path() + "/src/My Movie (1).avi", "123456789");
    browse(source);
    EXPECT_EQ(form().Edit1->text(), source);
    EXPECT_EQ(form().edtfilename->text(), "MyMovie1");
    EXPECT_EQ(form().lbts->text(), "Total Size: 9");
    EXPECT_EQ(form().lbps->text(), "Part Size: 3");
    EXPECT_EQ(form().lblfs->text(), "Last File Part Size: 3");
    EXPECT_EQ(form().lbcrc->text(), "CRC:= CBF43926");
    EXPECT_GE(m_prompt.busyCount(), 1);
    EXPECT_EQ(m_prompt.busyDepth(), 0);
    EXPECT_TRUE(m_prompt.messages().isEmpty());
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_TRUE(m_prompt.shown()[0].dialog.filter.isEmpty());

    // A new part count changes the sizes but not the CRC, taken from the path in the box.
    writeFile(source, "1234567890");
    form().splitnumber->setValue(4);
    EXPECT_EQ(form().lbts->text(), "Total Size: 10");
    EXPECT_EQ(form().lbps->text(), "Part Size: 3");
    EXPECT_EQ(form().lblfs->text(), "Last File Part Size: 1");
    EXPECT_EQ(form().lbcrc->text(), "CRC:= CBF43926");
}

TEST_F(SplitWindowTest, ContentWarningOnAnyLetterCaseAndNothingAtAllOnCancel) {
    const QString flagged = writeFile(m_dir.path() + "/LoLiTa/a.bin", "x");
    browse(flagged);
    EXPECT_EQ(m_prompt.messages(), QStringList({kWarning}));
    EXPECT_EQ(form().Edit1->text(), flagged);  // the file is still taken

    // Cancelled: the box still holds the flagged path, which was looked at already.
    auto pageTexts = [&] {
        return QStringList({form().Edit1->text(), form().edtfilename->text(), form().lbts->text(),
                            form().lbps->text(), form().lblfs->text(), form().lbcrc->text()});
    };
    const QStringList before = pageTexts();
    const int busyBefore = m_prompt.busyCount();
    writeFile(flagged, "changed since");
    m_prompt.forget();
    form().Button1->click();
    ASSERT_EQ(m_prompt.shown().size(), 1);
    EXPECT_EQ(m_prompt.shown()[0].kind, ScriptedPrompt::Kind::OpenFile);
    EXPECT_TRUE(m_prompt.messages().isEmpty());
    EXPECT_EQ(m_prompt.busyCount(), busyBefore);
    EXPECT_EQ(pageTexts(), before);

    m_prompt.forget();
    browse(writeFile(m_dir.path() + "/plain/b.bin", "y"));
    EXPECT_TRUE(m_prompt.messages().isEmpty());
}

TEST_F(SplitWindowTest, SplitFileFillsTheUploadTable) {
    const QString source = writeFile(m_dir.path() + "/src/movie.avi", "1234567890");
    browse(source);
    form().btnSplit->click();
    EXPECT_TRUE(m_prompt.messages().isEmpty()) << m_prompt.messages().join("|").toStdString();
    EXPECT_EQ(m_prompt.busyDepth(), 0);

    TextTable* table = form().uploadTable();
    ASSERT_EQ(table->rows(), 3);
    const QString dir = m_dir.path() + "/save/movie.avi.uldir/";
    const QByteArray expected[] = {"1234", "5678", "90"};
    for (int r = 0; r < 3; ++r) {
        const QString part = dir + QString("movie%1.bin").arg(r + 1);
        EXPECT_EQ(table->cell(r, UploadColumn::Filename), part);
        EXPECT_EQ(table->cell(r, UploadColumn::Size), QString::number(expected[r].size()));
        EXPECT_EQ(table->cell(r, UploadColumn::Site), "?");
        EXPECT_EQ(table->cell(r, UploadColumn::Crc).size(), 8);
        EXPECT_EQ(readFile(part), expected[r]);
    }
    EXPECT_EQ(form().lvfiles->model()->rowCount(), 3);
}

// "Recovery parts:" reaches the split, which runs beside the event loop and fills the
// table when it ends; Make PWQ then writes version 2.
TEST_F(SplitWindowTest, RecoveryPartsSplitBesideTheLoopAndMakeVersionTwo) {
    browse(writeFile(m_dir.path() + "/src/movie.avi", "1234567890"));
    form().serecovery->setValue(2);
    form().btnSplit->click();
    // The rows come with the end of the split, the busy cursor until then.
    EXPECT_EQ(QList<int>({form().uploadTable()->rows(), form().btnSplit->isEnabled(), m_prompt.busyDepth()}),
              QList<int>({0, false, 1}));
    ASSERT_TRUE(waitUntil([&] { return form().btnSplit->isEnabled(); }));
    EXPECT_EQ(QList<qsizetype>({m_prompt.busyDepth(), m_prompt.messages().size()}), QList<qsizetype>({0, 0}));
    EXPECT_EQ(form().uploadTable()->cell(4, UploadColumn::Filename), m_dir.path() + "/save/movie.avi.uldir/movier2.bin");

    const QString pwq = m_dir.path() + "/movie.pwq";
    m_prompt.answerSaveFile(pwq);
    form().btnMain->click();
    ManifestV2 manifest;
    EXPECT_EQ(ParseManifestV2(ManifestTextLines(readFile(pwq)), manifest), "");
    EXPECT_EQ(manifest.data.size() + manifest.recovery.size(), 5);
}

TEST_F(SplitWindowTest, RefusedSplitIsReportedAndTheWindowGoesOn) {
    const QString source = writeFile(m_dir.path() + "/src/small.bin", "1234567890");
    browse(source);
    form().splitnumber->setValue(7);  // 10 bytes cannot fill six parts of 2 and a seventh
    form().btnSplit->click();
    ASSERT_EQ(m_prompt.shown().size(), 2);
    EXPECT_EQ(m_prompt.shown()[1].kind, ScriptedPrompt::Kind::Error);
    EXPECT_FALSE(m_prompt.shown()[1].text.isEmpty());
    EXPECT_EQ(m_prompt.busyDepth(), 0);
    EXPECT_EQ(readFile(source), "1234567890");

    // A save path below a plain file cannot be created.
    writeFile(m_dir.path() + "/blocker", "f");
    form().dedir->setText(m_dir.path() + "/blocker/");
    form().splitnumber->setValue(2);
    form().btnSplit->click();
    ASSERT_EQ(m_prompt.shown().size(), 3);
    EXPECT_TRUE(m_prompt.shown()[2].text.startsWith("Cannot create ")) << m_prompt.shown()[2].text.toStdString();

    // The window still works.
    form().dedir->setText(m_dir.path() + "/save/");
    form().btnSplit->click();
    EXPECT_EQ(form().uploadTable()->rows(), 2);
}
