// Split File on real files: the parts are consecutive slices of the source, each row
// carries the part's size and CRC, and a refused or failed split loses nothing.
#include "common/user_error.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"
#include "support/test_bytes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

namespace {

QString zlibCrcText(const QByteArray& bytes) {
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), static_cast<uInt>(bytes.size()));
    return QString("%1").arg(crc, 8, 16, QChar('0')).toUpper();
}

QByteArray randomBytes(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& c : bytes)
        c = static_cast<char>(generator.generate());
    return bytes;
}

class SplitFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_save = m_dir.filePath("save") + "/";
    }
    QString makeSource(const QString& name, const QByteArray& bytes) {
        QFile f(m_dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_EQ(f.write(bytes), bytes.size());
        return f.fileName();
    }
    SplitRequest request(const QString& source, int parts) const { return {source, parts, "movie", "bin", m_save}; }
    // A row left from an earlier split and upload, to see whether the table was touched.
    void fillEarlierRow() { m_table.addRow({"/old/part1.bin", "http://w/", "5", "01234567", "h", "u", "p", "100%", "226"}); }

    QTemporaryDir m_dir;
    QString m_save;
    TextTable m_table{UploadTableColumns()};
};

struct SliceCase {
    qint64 total;
    int parts;
};

class SplitSlices : public SplitFileTest, public ::testing::WithParamInterface<SliceCase> {};

TEST_P(SplitSlices, PartsAreConsecutiveSlicesWithTheirRows) {
    const auto [total, parts] = GetParam();
    const QByteArray content = randomBytes(total, static_cast<quint32>(total * 31 + parts));
    const QString source = makeSource("movie.avi", content);
    fillEarlierRow();

    const uint32_t fileCrc = SplitFile(request(source, parts), m_table);
    EXPECT_EQ(QString("%1").arg(fileCrc, 8, 16, QChar('0')).toUpper(), zlibCrcText(content))
        << "the whole source's CRC, taken on the way";

    const PartSizes sizes = ComputePartSizes(total, parts);
    ASSERT_EQ(m_table.rows(), parts);
    qint64 offset = 0;
    for (int i = 1; i <= parts; ++i) {
        const QString path = m_save + "movie.avi.uldir/movie" + QString::number(i) + ".bin";
        const QByteArray slice = content.mid(offset, i < parts ? sizes.partSize : sizes.lastSize);
        const QByteArray part = ReadFileBytes(path);
        EXPECT_TRUE(part == slice) << "part " << i;
        const QStringList expected = {path, "?", QString::number(slice.size()), zlibCrcText(slice), "?", "?", "?",
                                      "?", "?"};
        EXPECT_EQ(m_table.rowCells(i - 1), expected) << "row " << i;
        offset += slice.size();
    }
    EXPECT_EQ(offset, total);
}

constexpr qint64 MiB = 1024 * 1024;
INSTANTIATE_TEST_SUITE_P(Table, SplitSlices,
                         ::testing::Values(SliceCase{10, 3}, SliceCase{9, 3}, SliceCase{10, 6}, SliceCase{10, 1},
                                           SliceCase{1, 1}, SliceCase{1025, 2}, SliceCase{3 * MiB + 5, 3},
                                           SliceCase{2 * MiB + 1, 2}, SliceCase{5000, 1000}));

TEST_F(SplitFileTest, EmptySourceGivesEmptyPartsWithZeroCrc) {
    SplitFile(request(makeSource("movie.avi", {}), 4), m_table);
    ASSERT_EQ(m_table.rows(), 4);
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(QFileInfo(m_table.cell(row, UploadColumn::Filename)).size(), 0);
        EXPECT_EQ(m_table.cell(row, UploadColumn::Size), "0");
        EXPECT_EQ(m_table.cell(row, UploadColumn::Crc), "00000000");
    }
}

TEST_F(SplitFileTest, SplittingAgainRebuildsTheTableAndOverwritesParts) {
    const QString source = makeSource("movie.avi", "0123456789");
    SplitFile(request(source, 3), m_table);
    m_table.setCell(0, UploadColumn::Site, "http://w/");
    m_table.setCell(0, UploadColumn::Progress, "100%");
    ASSERT_TRUE(QFile::resize(source, 4));
    SplitFile(request(source, 2), m_table);

    ASSERT_EQ(m_table.rows(), 2);
    EXPECT_EQ(m_table.cell(0, UploadColumn::Site), "?");
    EXPECT_EQ(m_table.cell(0, UploadColumn::Progress), "?");
    const QString dir = m_save + "movie.avi.uldir/";
    EXPECT_EQ(ReadFileBytes(dir + "movie1.bin"), "01");
    EXPECT_EQ(ReadFileBytes(dir + "movie2.bin"), "23");
    // Parts of the earlier split that this one does not name are left alone.
    EXPECT_EQ(ReadFileBytes(dir + "movie3.bin"), "89");
}

TEST_F(SplitFileTest, SourceIsOnlyRead) {
    const QByteArray content = randomBytes(100000, 7);
    const QString source = makeSource("movie.avi", content);
    const QDateTime before = QFileInfo(source).lastModified();
    ASSERT_TRUE(QFile::setPermissions(source, QFile::ReadOwner));
    SplitFile(request(source, 3), m_table);
    EXPECT_EQ(m_table.rows(), 3);
    EXPECT_EQ(QFileInfo(source).lastModified(), before);
    EXPECT_TRUE(ReadFileBytes(source) == content);
}

struct RefusalCase {
    const char* what;
    int parts;
    QString baseName;
    QString messageStart;
    QString extension = "bin";
};

const QChar kNul(0);

class SplitRefusal : public SplitFileTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SplitRefusal, WritesNothingAndLeavesTheTable) {
    const RefusalCase c = GetParam();
    makeSource("movie.avi", "0123456789");
    makeSource(".hidden", "0123456789");
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder"));
    QString source = m_dir.filePath(c.what);
    fillEarlierRow();
    const QStringList earlierRow = m_table.rowCells(0);

    SplitRequest r = request(source, c.parts);
    r.baseName = c.baseName;
    r.extension = c.extension;
    try {
        SplitFile(r, m_table);
        ADD_FAILURE() << "split of " << c.what << " was not refused";
    } catch (const UserError& error) {
        EXPECT_TRUE(error.text().startsWith(c.messageStart)) << error.text().toStdString();
        EXPECT_FALSE(error.text().contains(kNul)) << "a NUL is shown, not written into the message";
    }
    EXPECT_FALSE(QFileInfo::exists(m_save));
    ASSERT_EQ(m_table.rows(), 1);
    EXPECT_EQ(m_table.rowCells(0), earlierRow);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitRefusal,
    ::testing::Values(RefusalCase{"movie.avi", 7, "movie", "Cannot split"},  // 10 bytes are too few for 7 parts
                      RefusalCase{"missing.avi", 3, "movie", "Cannot split"},
                      RefusalCase{"folder", 3, "movie", "Cannot split"},
                      RefusalCase{".hidden", 3, "movie", "Cannot split"},
                      RefusalCase{"movie.avi", 0, "movie", "The number of parts must be between 1 and 1000"},
                      RefusalCase{"movie.avi", 1001, "movie", "The number of parts must be between 1 and 1000"},
                      RefusalCase{"movie.avi", 3, "../escape", "The part file name ../escape1.bin must not contain \"/\"."},
                      RefusalCase{"movie.avi", 3, "movie", "The part file name movie1.b/n must not contain \"/\".",
                                  "b/n"},
                      RefusalCase{"movie.avi", 3, "mo" + QString(kNul) + "vie",
                                  "The part file name mo\\0vie1.bin must not contain a NUL character (shown as \\0)."},
                      RefusalCase{"movie.avi", 3, "movie",
                                  "The part file name movie1.bi\\0n must not contain a NUL character (shown as \\0).",
                                  "bi" + QString(kNul) + "n"}));

TEST_F(SplitFileTest, UploadDirectoryThatCannotBeCreated) {
    const QString source = makeSource("movie.avi", "0123456789");
    makeSource("plainfile", "x");
    fillEarlierRow();
    SplitRequest r = request(source, 3);
    r.savePath = m_dir.filePath("plainfile") + "/sub/";
    try {
        SplitFile(r, m_table);
        ADD_FAILURE() << "no error";
    } catch (const UserError& error) {
        EXPECT_EQ(error.text(), "Cannot create " + r.savePath + "movie.avi.uldir/: Not a directory");
    }
    EXPECT_EQ(m_table.rows(), 1);
}

TEST_F(SplitFileTest, FailedPartKeepsTheEarlierPartsAndRows) {
    const QString source = makeSource("movie.avi", "0123456789");
    const QString dir = m_save + "movie.avi.uldir/";
    ASSERT_TRUE(QDir().mkpath(dir + "movie2.bin"));
    try {
        SplitFile(request(source, 3), m_table);
        ADD_FAILURE() << "no error";
    } catch (const UserError& error) {
        EXPECT_TRUE(error.text().startsWith("Cannot create " + dir + "movie2.bin: ")) << error.text().toStdString();
    }
    ASSERT_EQ(m_table.rows(), 1);
    EXPECT_EQ(m_table.cell(0, UploadColumn::Crc), zlibCrcText("0123"));
    EXPECT_EQ(ReadFileBytes(dir + "movie1.bin"), "0123");
}

TEST_F(SplitFileTest, PartThatWouldBeTheSourceIsRefused) {
    // The source lies where its own first part would go: savePath/movie1.bin.uldir/.
    ASSERT_TRUE(QDir().mkpath(m_save + "movie1.bin.uldir"));
    const QByteArray content = "0123456789";
    QFile f(m_save + "movie1.bin.uldir/movie1.bin");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    EXPECT_THROW(SplitFile(request(f.fileName(), 3), m_table), UserError);
    EXPECT_TRUE(ReadFileBytes(f.fileName()) == content);
    EXPECT_EQ(m_table.rows(), 0);
}

}  // namespace
