#include "common/manifest_format.h"
#include "crc/crc32.h"
#include "scatter/manifest_writer.h"
#include "scatter/upload_table.h"
#include "support/scripted_prompt.h"
#include "support/test_bytes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString CrcText(const QByteArray& bytes) {
    return QString::fromStdString(Crc32Text(~Crc32Update(0xFFFFFFFFu, bytes.constData(), bytes.size())));
}

class ManifestWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_source = m_dir.filePath("movie.avi");
        QFile f(m_source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0123456789");
        f.close();
        const char* parts[] = {"0123", "4567", "89"};
        for (int i = 0; i < 3; ++i)
            m_uploads.addRow({m_dir.filePath(QString("movie.avi.uldir/movie%1.bin").arg(i + 1)), "http://w.example/d/",
                              QString::number(qstrlen(parts[i])), CrcText(parts[i]), "ftp.w", "u", "p", "?", "?"});
    }
    QTemporaryDir m_dir;
    QString m_source;
    TextTable m_uploads{UploadTableColumns()};
    ManifestLines m_mempwq;
    ScriptedPrompt m_prompt;
};

TEST_F(ManifestWriterTest, TheTenByteExampleGivesSixteenLines) {
    m_mempwq.replace({"a loaded manifest"});
    MakeManifestLines({m_source, 3, "Me", "My file"}, m_uploads, m_mempwq);
    EXPECT_EQ(m_mempwq.lines(),
              (QStringList{ManifestSignature, "1", "movie.avi", CrcText("0123456789"), "3",
                           "http://w.example/d/movie1.bin", "4", CrcText("0123"), "http://w.example/d/movie2.bin", "4",
                           CrcText("4567"), "http://w.example/d/movie3.bin", "2", CrcText("89"), "Me", "My file"}));
}

TEST_F(ManifestWriterTest, RowsAreWrittenAsTheyStandAndTheCountUnchecked) {
    m_uploads.setCell(0, UploadColumn::Site, "?");
    m_uploads.setCell(2, UploadColumn::Site, "Do Not Upload");
    MakeManifestLines({m_dir.filePath("gone.avi"), 7, "", ""}, m_uploads, m_mempwq);
    ASSERT_EQ(m_mempwq.count(), 16);
    EXPECT_EQ(m_mempwq.line(2), "gone.avi");
    EXPECT_EQ(m_mempwq.line(3), "00000000") << "an unreadable source";
    MakeManifestLines({m_dir.filePath("gone.avi"), 7, "", "", 0x0BADF00Du}, m_uploads, m_mempwq);
    EXPECT_EQ(m_mempwq.line(3), "0BADF00D") << "the split's CRC, when it is known, is the one written";
    EXPECT_EQ(m_mempwq.line(4), "7");
    EXPECT_EQ(m_mempwq.line(5), "?movie1.bin");
    EXPECT_EQ(m_mempwq.line(11), "Do Not Uploadmovie3.bin");
    EXPECT_EQ(m_mempwq.line(14), "");
    EXPECT_EQ(m_mempwq.line(15), "");
}

TEST_F(ManifestWriterTest, WritePwqOffersTheDialogAndWritesCrLfAfterEveryLine) {
    MakeManifestLines({m_source, 3, "", ""}, m_uploads, m_mempwq);
    EXPECT_FALSE(WritePwq(m_mempwq, "movie", m_prompt)) << "cancelled";
    ASSERT_EQ(m_prompt.shown().size(), 1);
    const UserPrompt::FileDialog dialog = m_prompt.shown()[0].dialog;
    EXPECT_EQ(dialog.title, "Save PWQ file as:");
    EXPECT_EQ(dialog.filter, "PWQ (*.pwq)");
    EXPECT_EQ(dialog.defaultExtension, "pwq");
    EXPECT_EQ(dialog.proposedName, "movie.pwq");
    EXPECT_EQ(m_mempwq.count(), 16) << "a cancel keeps the lines";

    const QString path = m_dir.filePath("movie.pwq");
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(5000, 'x'));
    old.close();
    m_prompt.answerSaveFile(path);
    ASSERT_TRUE(WritePwq(m_mempwq, "movie", m_prompt)) << "offered again after the cancel";
    const QByteArray text = ReadFileBytes(path);
    EXPECT_EQ(text, (m_mempwq.lines().join("\r\n") + "\r\n").toUtf8());
    EXPECT_TRUE(text.endsWith("\r\n\r\n\r\n")) << "two empty comment lines, then the final break";
    EXPECT_EQ(text.count("\r\n"), 16);
}

TEST_F(ManifestWriterTest, AFailedWriteIsReportedAndKeepsTheLines) {
    MakeManifestLines({m_source, 3, "", ""}, m_uploads, m_mempwq);
    m_prompt.answerSaveFile(m_dir.filePath("no/such/dir/m.pwq"));
    EXPECT_FALSE(WritePwq(m_mempwq, "movie", m_prompt));
    ASSERT_EQ(m_prompt.messages().size(), 1);
    EXPECT_TRUE(m_prompt.messages()[0].contains("no/such/dir/m.pwq")) << m_prompt.messages()[0].toStdString();
    EXPECT_EQ(m_mempwq.count(), 16);
}

}  // namespace
