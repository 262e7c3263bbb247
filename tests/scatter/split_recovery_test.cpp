// Splits with recovery parts or SHA-256: every row's size and CRC-32 and the split's
// SHA-256 of it against zlib and OpenSSL over the same bytes, the part files, and the
// counts the coding refuses. Decoding is the coding layer's, a split without data part
// files split_large_test's, the version-2 manifest of the rows cli_manifest_test's.
#include "common/user_error.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"
#include "support/test_bytes.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <zlib.h>

namespace {

QString zlibCrc(const QByteArray& b) {
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(b.constData()), static_cast<uInt>(b.size()));
    return QString("%1").arg(crc, 8, 16, QChar('0')).toUpper();
}

QString opensslSha(const QByteArray& b) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(b.constData()), static_cast<size_t>(b.size()), digest);
    return QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex();
}

QString writeSource(const QString& path, qint64 size) {
    QByteArray content(size, Qt::Uninitialized);
    QRandomGenerator generator(static_cast<quint32>(size));
    for (char& b : content)
        b = static_cast<char>(generator.generate());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(content) == size);
    return path;
}

struct CodedCase {
    const char* name;
    qint64 total;
    int parts, recovery;
    bool sha256;
};

class CodedSplitRows : public ::testing::TestWithParam<CodedCase> {};

TEST_P(CodedSplitRows, RowsAndFiles) {
    const CodedCase c = GetParam();
    QTemporaryDir dir;
    const QString source = writeSource(dir.filePath("movie.avi"), c.total);
    const QByteArray content = ReadFileBytes(source);
    const SplitRequest request{source, c.parts, "mv", "bin", dir.filePath("save/"), c.recovery, c.sha256};
    TextTable table(UploadTableColumns());
    const SplitOutcome outcome = SplitSource(request, table);

    EXPECT_EQ(zlibCrc(content), QString("%1").arg(outcome.fileCrc, 8, 16, QChar('0')).toUpper());
    EXPECT_EQ(QString::fromStdString(Sha256Text(outcome.fileSha256.value())), opensslSha(content));
    const PartSizes sizes = ComputePartSizes(c.total, c.parts);
    ASSERT_EQ(table.rows(), c.parts + c.recovery);
    for (int r = 0; r < table.rows(); ++r) {
        const bool recovery = r >= c.parts;
        const QString path = dir.filePath("save/movie.avi.uldir/mv") +
                             (recovery ? QString("r%1.bin").arg(r - c.parts + 1) : QString("%1.bin").arg(r + 1));
        const qint64 size = recovery || r + 1 < c.parts ? sizes.partSize : sizes.lastSize;
        const QByteArray bytes = ReadFileBytes(path);
        EXPECT_EQ(bytes, recovery ? bytes : content.mid(r * sizes.partSize, size)) << "data part " << r + 1;
        EXPECT_EQ(table.rowCells(r), QStringList({path, "?", QString::number(size), zlibCrc(bytes), "?", "?", "?", "?", "?"}));
        EXPECT_EQ(bytes.size(), size) << r;
        EXPECT_EQ(outcome.partSha256.value(r), opensslSha(bytes)) << r;
        EXPECT_EQ(outcome.isRecoveryRow(r), recovery) << r;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Splits, CodedSplitRows,
    ::testing::Values(CodedCase{"ten_bytes_3_plus_2", 10, 3, 2, false},
                      CodedCase{"empty_last_part_6_plus_1", 10, 6, 1, false},
                      CodedCase{"empty_file_2_plus_1", 0, 2, 1, false},
                      CodedCase{"blocks_7_plus_3", 3000001, 7, 3, false},
                      CodedCase{"sha256_without_recovery", 300001, 4, 0, true}),
    [](const auto& p) { return std::string(p.param.name); });

// Refused before anything is created: no folder, the table as it was.
TEST(CodedSplitRefusals, CountsOutsideTheCoding) {
    QTemporaryDir dir;
    const QString source = writeSource(dir.filePath("ten.bin"), 10);
    const struct {
        int parts, recovery;
        QString message;
    } cases[] = {{3, 255, "The number of recovery parts must be between 0 and 254."},
                 {254, 2, "With recovery parts or SHA-256 a file is split into at most 255 parts in all, not 254 "
                          "data parts and 2 recovery parts."}};
    for (const auto& c : cases) {
        TextTable table(UploadTableColumns());
        table.addRow({"/old/p1.bin"});
        QString message;
        try {
            SplitFile({source, c.parts, "p", "bin", dir.filePath("save/"), c.recovery}, table);
        } catch (const UserError& e) {
            message = e.text();
        }
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(table.rows(), 1);
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("save")));
    }
}

}  // namespace
