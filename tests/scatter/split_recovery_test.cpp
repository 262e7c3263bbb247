// Splits with recovery parts, SHA-256 or no data part files: every row's size and CRC-32
// and the split's SHA-256 of it against zlib and OpenSSL over the same bytes, the part
// files there or not, and the version-2 manifest of the rows read back. Decoding is the
// coding layer's.
#include "coding/sha256.h"
#include "common/manifest_v2.h"
#include "common/manifest_format.h"
#include "common/user_error.h"
#include "scatter/manifest_writer.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"

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

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct CodedCase {
    const char* name;
    qint64 total;
    int parts;
    int recovery;
    bool sha256;
    bool dataFiles;
};

class CodedSplitRows : public ::testing::TestWithParam<CodedCase> {};

TEST_P(CodedSplitRows, RowsFilesAndManifest) {
    const CodedCase c = GetParam();
    QTemporaryDir dir;
    QByteArray content(c.total, Qt::Uninitialized);
    QRandomGenerator generator(static_cast<quint32>(c.total * 7 + c.parts));
    for (char& b : content)
        b = static_cast<char>(generator.generate());
    const QString source = dir.filePath("movie.avi");
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const SplitRequest request{source, c.parts, "mv", "bin", dir.filePath("save/"), c.recovery, c.sha256, c.dataFiles};
    TextTable table(UploadTableColumns());
    const SplitOutcome outcome = SplitSource(request, table);

    const PartSizes sizes = ComputePartSizes(c.total, c.parts);
    const QString uldir = dir.filePath("save/movie.avi.uldir/");
    EXPECT_EQ(outcome.fileCrc, crc32(0, reinterpret_cast<const Bytef*>(content.constData()), uInt(content.size())));
    EXPECT_EQ(outcome.fileSha256.has_value(), request.strong());
    if (outcome.fileSha256)
        EXPECT_EQ(QString::fromStdString(Sha256Text(*outcome.fileSha256)), opensslSha(content));
    ASSERT_EQ(table.rows(), c.parts + c.recovery);
    for (int r = 0; r < table.rows(); ++r) {
        const bool recovery = r >= c.parts;
        const QString path = recovery ? uldir + QString("mvr%1.bin").arg(r - c.parts + 1)
                                      : uldir + QString("mv%1.bin").arg(r + 1);
        const qint64 size = recovery || r + 1 < c.parts ? sizes.partSize : sizes.lastSize;
        // A data part's bytes are its slice of the source, there or not; a recovery
        // part's are what its file holds.
        const QByteArray bytes = recovery ? readAll(path) : content.mid(r * sizes.partSize, size);
        EXPECT_EQ(table.cell(r, UploadColumn::Filename), path);
        EXPECT_EQ(table.cell(r, UploadColumn::Size), QString::number(size)) << r;
        EXPECT_EQ(bytes.size(), size) << r;
        EXPECT_EQ(table.cell(r, UploadColumn::Crc), zlibCrc(bytes)) << r;
        EXPECT_EQ(outcome.partSha256.value(r), request.strong() ? opensslSha(bytes) : QString()) << r;
        EXPECT_EQ(outcome.isRecoveryRow(r), recovery) << r;
        EXPECT_EQ(table.cell(r, UploadColumn::Progress), "?");
        if (!recovery)
            EXPECT_EQ(QFileInfo::exists(path) ? readAll(path) : QByteArray("<none>"),
                      c.dataFiles ? bytes : QByteArray("<none>"))
                << r;
    }
    // Coded from the source read back or from the part files: the same recovery parts.
    if (!c.dataFiles && c.recovery > 0) {
        SplitRequest withFiles = request;
        withFiles.writeDataParts = true;
        withFiles.savePath = dir.filePath("again/");
        TextTable again(UploadTableColumns());
        SplitFile(withFiles, again);
        for (int r = c.parts; r < table.rows(); ++r)
            EXPECT_EQ(readAll(again.cell(r, UploadColumn::Filename)), readAll(table.cell(r, UploadColumn::Filename)));
    }
    if (!request.strong())
        return;
    for (int r = 0; r < table.rows(); ++r)
        table.setCell(r, UploadColumn::Site, QString("http://s%1.example/").arg(r % 2));
    ManifestLines lines;
    MakeManifestLines({source, 999, "Ann", "", outcome.fileCrc, &outcome}, table, lines);
    ManifestV2 manifest;
    ASSERT_EQ(ParseManifestV2(lines.lines(), manifest), "");
    EXPECT_EQ(lines.line(ManifestLine::Version), "2");
    EXPECT_EQ(manifest.fileName, "movie.avi");
    EXPECT_EQ(manifest.layout.fileSize, c.total);
    EXPECT_EQ(manifest.fileSha256, *outcome.fileSha256);
    EXPECT_EQ(manifest.comment, "Ann");
    ASSERT_EQ(manifest.data.size() + manifest.recovery.size(), table.rows());
    for (int r = 0; r < table.rows(); ++r) {
        const ManifestV2Part& part = r < c.parts ? manifest.data[r] : manifest.recovery[r - c.parts];
        EXPECT_EQ(part.url, table.cell(r, UploadColumn::Site) + QFileInfo(table.cell(r, UploadColumn::Filename)).fileName());
        EXPECT_EQ(QString::fromStdString(Sha256Text(part.sha256)), outcome.partSha256[r]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Splits, CodedSplitRows,
    ::testing::Values(CodedCase{"ten_bytes_3_plus_2", 10, 3, 2, false, true},
                      CodedCase{"empty_last_part_6_plus_1", 10, 6, 1, false, true},
                      CodedCase{"empty_file_2_plus_1", 0, 2, 1, false, true},
                      CodedCase{"sha256_without_recovery", 300001, 4, 0, true, true},
                      CodedCase{"blocks_and_stripes_7_plus_3_from_the_source", 3000001, 7, 3, false, false},
                      CodedCase{"crc_only_without_part_files", 1000, 3, 0, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Refused before anything is created: no folder, the table as it was.
TEST(CodedSplitRefusals, CountsOutsideTheCoding) {
    QTemporaryDir dir;
    const QString source = dir.filePath("ten.bin");
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("0123456789");
    }
    const struct {
        int parts, recovery;
        bool sha256;
        QString message;
    } cases[] = {
        {3, 255, false, "The number of recovery parts must be between 0 and 254."},
        {3, -1, false, "The number of recovery parts must be between 0 and 254."},
        {254, 2, false, "With recovery parts or SHA-256 a file is split into at most 255 parts in all, not 254 data "
                        "parts and 2 recovery parts."},
        {256, 0, true, "With recovery parts or SHA-256 a file is split into at most 255 parts in all, not 256 data "
                       "parts and 0 recovery parts."},
    };
    for (const auto& c : cases) {
        TextTable table(UploadTableColumns());
        table.addRow({"/old/p1.bin", "http://w/", "5", "01234567", "h", "u", "p", "100%", "226"});
        QString message;
        try {
            SplitFile({source, c.parts, "p", "bin", dir.filePath("save/"), c.recovery, c.sha256}, table);
        } catch (const UserError& e) {
            message = e.text();
        }
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(table.rows(), 1);
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("save")));
    }
}

}  // namespace
