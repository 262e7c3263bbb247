// Joining part files: the output holds the parts' bytes in order and the CRC returned is
// the output's, whether the copy runs in the kernel (same file system) or through the
// buffer (parts on tmpfs, output on the disk), and across the copy's 64 MiB steps.
#include "common/safe_folder.h"
#include "crc/crc32.h"
#include "gather/part_joiner.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

// Joins the named parts of `folder` into a new file at `output` (or /dev/null).
JoinResult join(const QString& folder, const QStringList& names, const QString& output, const JoinProgress& progress = {}) {
    QString error;
    const SafeFolder parts = SafeFolder::Open(folder, {}, error);
    EXPECT_TRUE(parts.valid()) << error.toStdString();
    UniqueFd out(::open(QFile::encodeName(output).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    EXPECT_TRUE(out.valid());
    return JoinParts(parts, names, std::move(out), output, progress);
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
        parts << QString("p%1.bin").arg(i + 1);
        writeFile(partDir.filePath(parts.last()), bytes);
        whole += bytes;
    }
    const QString output = outDir.filePath("joined");
    QList<std::pair<qint64, qint64>> progress;
    const JoinResult joined = join(partDir.path(), parts, output, [&](qint64 done, qint64 total) { progress.append({done, total}); });
    ASSERT_TRUE(joined.ok) << joined.error.toStdString();
    EXPECT_EQ(joined.bytes, whole.size());
    ASSERT_GE(progress.size(), 8) << "the 64 MiB part is told in steps";
    EXPECT_EQ(progress.last(), std::make_pair(qint64(whole.size()), qint64(whole.size())));
    for (qsizetype i = 1; i < progress.size(); ++i)
        EXPECT_LT(progress[i - 1].first, progress[i].first);
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
    const JoinResult joined = join(dir.path(), {"a", "missing", "a"}, dir.filePath("out"));
    EXPECT_FALSE(joined.ok);
    EXPECT_TRUE(joined.error.startsWith("Cannot open the part file " + dir.filePath("missing") + ": "))
        << joined.error.toStdString();
    EXPECT_EQ(readFile(dir.filePath("out")), QByteArray("first part"));
}

TEST(PartJoiner, APartThatCannotBeReadIsNamedNotTakenForAWriteFailure) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath("a"), "first part");
    ASSERT_TRUE(QDir().mkdir(dir.filePath("adir")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("afifo")).constData(), 0600), 0);
    struct Row {
        const char* part;
        QString message;
    };
    const Row rows[] = {
        {"adir", "Cannot read the part file " + dir.filePath("adir") + ": Is a directory"},
        {"afifo", "Cannot read the part file " + dir.filePath("afifo") + ": not a regular file"},
        {"missing", "Cannot open the part file " + dir.filePath("missing") + ": No such file or directory"},
    };
    for (const Row& row : rows) {
        const JoinResult joined = join(dir.path(), {"a", row.part, "a"}, dir.filePath("out"));
        EXPECT_FALSE(joined.ok) << row.part;
        EXPECT_EQ(joined.error, row.message);
        EXPECT_EQ(readFile(dir.filePath("out")), QByteArray("first part")) << row.part;
    }
}

// The CRC is the one of what the output holds, read back: an output that keeps nothing
// of what was written (here /dev/null) gives the CRC of nothing, never the CRC of the
// parts.
TEST(PartJoiner, TheCrcIsTheOneOfTheOutputAsWritten) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray bytes = randomBytes(3 * 1024 * 1024 + 5, 99);
    writeFile(dir.filePath("p1"), bytes);
    const JoinResult joined = join(dir.path(), {"p1"}, "/dev/null");
    ASSERT_TRUE(joined.ok) << joined.error.toStdString();
    EXPECT_EQ(joined.bytes, bytes.size());
    EXPECT_EQ(joined.crc, 0u) << "the CRC of an empty file";
}

}  // namespace
