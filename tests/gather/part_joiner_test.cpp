// Joining part files: the output holds the parts' bytes in order and the CRC returned is
// the output's, whether the copy runs in the kernel (same file system) or through the
// buffer (parts on tmpfs, output on the disk), and across the copy's 64 MiB steps.
#include "crc/crc32.h"
#include "gather/part_joiner.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray randomBytes(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    for (qint64 i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class PartJoinerTest : public ::testing::TestWithParam<bool> {};

TEST_P(PartJoinerTest, OutputHoldsThePartsInOrderWithTheirCrc) {
    const bool partsOnTmpfs = GetParam();
    QTemporaryDir outDir;
    QTemporaryDir partDir(partsOnTmpfs ? "/dev/shm/pw-join-XXXXXX" : QDir::tempPath() + "/pw-join-XXXXXX");
    ASSERT_TRUE(outDir.isValid());
    ASSERT_TRUE(partDir.isValid()) << "no /dev/shm";
    const QList<qint64> sizes{0, 1, 64 * 1024 * 1024 + 4099, 12345};
    QStringList parts;
    QByteArray whole;
    for (int i = 0; i < sizes.size(); ++i) {
        const QByteArray bytes = randomBytes(sizes[i], 7 + i);
        parts << partDir.filePath(QString("p%1.bin").arg(i + 1));
        writeFile(parts.last(), bytes);
        whole += bytes;
    }
    const QString output = outDir.filePath("joined");
    const JoinResult joined = JoinParts(parts, output);
    ASSERT_TRUE(joined.ok) << joined.error.toStdString();
    EXPECT_EQ(joined.bytes, whole.size());
    EXPECT_TRUE(readFile(output) == whole);
    uint32_t fileCrc = 0;
    ASSERT_TRUE(FileCrc32(QFile::encodeName(output).toStdString(), fileCrc));
    EXPECT_EQ(joined.crc, fileCrc);
}

INSTANTIATE_TEST_SUITE_P(Locations, PartJoinerTest, ::testing::Values(false, true),
                         [](const auto& row) { return row.param ? "PartsOnTmpfs" : "SameFileSystem"; });

TEST(PartJoiner, MissingPartStopsWithItsNameAndKeepsWhatWasCopied) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("a"), "first part");
    const JoinResult joined = JoinParts({dir.filePath("a"), dir.filePath("missing"), dir.filePath("a")}, dir.filePath("out"));
    EXPECT_FALSE(joined.ok);
    EXPECT_TRUE(joined.error.startsWith("Cannot open the part file " + dir.filePath("missing") + ": "))
        << joined.error.toStdString();
    EXPECT_EQ(readFile(dir.filePath("out")), QByteArray("first part"));
}

}  // namespace
