// A source beyond 4 GiB: sizes, offsets and CRCs must not wrap at 32 bits. The source is
// sparse (holes read as zeros) with marker bytes around the part boundaries.
#include "scatter/splitter.h"
#include "scatter/upload_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <map>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 GiB = 1024LL * 1024 * 1024;
constexpr qint64 Total = 4 * GiB + 4097;

// CRC of the source's bytes [from, to), zeros except for the markers, with zlib.
uLong expectedCrc(const std::map<qint64, unsigned char>& markers, qint64 from, qint64 to) {
    static const std::vector<Bytef> zeros(1 << 20, 0);
    static const uLong zeroBlockCrc = crc32(0, zeros.data(), static_cast<uInt>(zeros.size()));
    uLong crc = crc32(0, nullptr, 0);
    auto addZeros = [&](qint64 count) {
        for (; count >= qint64(zeros.size()); count -= zeros.size())
            crc = crc32_combine(crc, zeroBlockCrc, static_cast<z_off_t>(zeros.size()));
        crc = crc32(crc, zeros.data(), static_cast<uInt>(count));
    };
    qint64 at = from;
    for (auto it = markers.lower_bound(from); it != markers.end() && it->first < to; ++it) {
        addZeros(it->first - at);
        crc = crc32(crc, &it->second, 1);
        at = it->first + 1;
    }
    addZeros(to - at);
    return crc;
}

QByteArray readAt(const QString& path, qint64 offset, qint64 size) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.seek(offset));
    return f.read(size);
}

// Four GiB of parts written to a disk-backed folder wait on writeback for most of a
// minute on a busy machine; in memory (tmpfs) they take seconds. Falls back to the
// ordinary temporary folder where there is no /dev/shm.
QString scratchFolder() {
    const QString shm = "/dev/shm";
    return QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
}

TEST(SplitLargeFile, SparseSourceBeyondFourGiB) {
    QTemporaryDir dir(scratchFolder() + "/pw-split-large-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath("big.img");
    const PartSizes sizes = ComputePartSizes(Total, 3);
    const qint64 P = sizes.partSize;
    std::map<qint64, unsigned char> markers;
    unsigned char value = 0xA0;
    for (qint64 offset : {qint64(0), P - 1, P, 2 * P - 1, 2 * P, 2 * GiB - 1, 2 * GiB, 4 * GiB - 1, 4 * GiB,
                          Total - 2, Total - 1})
        markers[offset] = value++;
    {
        const int fd = ::open(QFile::encodeName(source).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, Total), 0);
        for (const auto& [offset, byte] : markers)
            ASSERT_EQ(::pwrite(fd, &byte, 1, offset), 1);
        ::close(fd);
    }

    TextTable table(UploadTableColumns());
    SplitFile({source, 3, "big", "bin", dir.path() + "/"}, table);

    ASSERT_EQ(table.rows(), 3);
    qint64 from = 0;
    for (int row = 0; row < 3; ++row) {
        const qint64 size = row < 2 ? P : sizes.lastSize;
        const QString part = table.cell(row, UploadColumn::Filename);
        EXPECT_EQ(QFile(part).size(), size);
        EXPECT_EQ(table.cell(row, UploadColumn::Size), QString::number(size));
        const QString crc = QString("%1").arg(expectedCrc(markers, from, from + size), 8, 16, QChar('0')).toUpper();
        EXPECT_EQ(table.cell(row, UploadColumn::Crc), crc) << "part " << row + 1;
        // Two bytes at each end of the part, as the source has them.
        for (qint64 offset : {qint64(0), qint64(1), size - 2, size - 1}) {
            const auto found = markers.find(from + offset);
            const char want = found == markers.end() ? 0 : static_cast<char>(found->second);
            EXPECT_EQ(readAt(part, offset, 1), QByteArray(1, want)) << "part " << row + 1 << " offset " << offset;
        }
        from += size;
        QFile::remove(part);
    }
    EXPECT_EQ(from, Total);
}

}  // namespace
