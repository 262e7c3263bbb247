// A source beyond 4 GiB: sizes, offsets and CRCs must not wrap at 32 bits. The source is
// sparse (holes read as zeros) with marker bytes around the part boundaries.
#include "coding/reed_solomon.h"
#include "scatter/splitter.h"
#include "scatter/upload_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
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

// SHA-256 of the same bytes with OpenSSL's EVP, as 64 lower-case hex digits.
QString expectedSha(const std::map<qint64, unsigned char>& markers, qint64 from, qint64 to) {
    static const std::vector<unsigned char> zeros(1 << 20, 0);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    for (qint64 at = from; at < to;) {
        const auto next = markers.lower_bound(at);
        const qint64 n = std::min<qint64>((next == markers.end() ? to : std::min(to, next->first)) - at, zeros.size());
        EVP_DigestUpdate(context, n > 0 ? zeros.data() : &next->second, static_cast<size_t>(std::max<qint64>(n, 1)));
        at += std::max<qint64>(n, 1);
    }
    unsigned char digest[32];
    EVP_DigestFinal_ex(context, digest, nullptr);
    EVP_MD_CTX_free(context);
    return QByteArray(reinterpret_cast<const char*>(digest), 32).toHex();
}

// A field of /proc/self/status in KiB ("VmHWM", "VmRSS").
qint64 statusKiB(const char* field) {
    QFile f("/proc/self/status");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const auto match = QRegularExpression(QString("^%1:\\s*(\\d+)").arg(field), QRegularExpression::MultilineOption)
                           .match(QString::fromLatin1(f.readAll()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
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

void makeSparseSource(const QString& source, const std::map<qint64, unsigned char>& markers) {
    const int fd = ::open(QFile::encodeName(source).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, Total), 0);
    for (const auto& [offset, byte] : markers)
        ASSERT_EQ(::pwrite(fd, &byte, 1, offset), 1);
    ::close(fd);
}

// With recovery parts and no data part files (each data part stays its range of the
// source): the digests of every range, recovery parts that rebuild a lost data part
// around every marker, and memory that does not grow with the file.
TEST(SplitLargeFile, RecoveryPartsOfASparseSourceBeyondFourGiB) {
    QTemporaryDir dir(scratchFolder() + "/pw-split-coded-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath("big.img");
    constexpr int k = 8, m = 2;
    const PartSizes sizes = ComputePartSizes(Total, k);
    const qint64 P = sizes.partSize;
    std::map<qint64, unsigned char> markers;
    unsigned char value = 0x31;
    for (qint64 offset : {qint64(0), 2 * GiB - 1, 2 * GiB, 4 * GiB - 1, 4 * GiB, Total - 2, Total - 1})
        markers[offset] = value++;
    for (int j = 1; j < k; ++j)
        markers[j * P - 1] = markers[j * P] = value++;
    makeSparseSource(source, markers);

    // Peak memory from here on: the high-water mark starts again at what is resident.
    QFile clear("/proc/self/clear_refs");
    ASSERT_TRUE(clear.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && clear.write("5") == 1);
    const qint64 residentBefore = statusKiB("VmRSS");
    TextTable table(UploadTableColumns());
    const SplitOutcome outcome = SplitSource({source, k, "big", "bin", dir.path() + "/", m, false, false}, table);
    EXPECT_LT(statusKiB("VmHWM") - residentBefore, 64 * 1024) << "KiB of peak memory growth";

    EXPECT_EQ(outcome.fileCrc, expectedCrc(markers, 0, Total));
    EXPECT_EQ(QString::fromStdString(Sha256Text(*outcome.fileSha256)), expectedSha(markers, 0, Total));
    ASSERT_EQ(table.rows(), k + m);
    auto partSize = [&](int j) { return j + 1 < k ? P : sizes.lastSize; };
    for (int j = 0; j < k; ++j) {
        EXPECT_EQ(table.cell(j, UploadColumn::Size), QString::number(partSize(j)));
        EXPECT_FALSE(QFileInfo::exists(table.cell(j, UploadColumn::Filename)));
        const uLong crc = expectedCrc(markers, j * P, j * P + partSize(j));
        EXPECT_EQ(table.cell(j, UploadColumn::Crc), QString("%1").arg(crc, 8, 16, QChar('0')).toUpper()) << j;
        EXPECT_EQ(outcome.partSha256[j], expectedSha(markers, j * P, j * P + partSize(j))) << "part " << j + 1;
    }
    for (int r = k; r < k + m; ++r)
        EXPECT_EQ(QFileInfo(table.cell(r, UploadColumn::Filename)).size(), P);

    // Data part 1 lost: rebuilt from the others and one recovery part (each in turn), in a
    // window around each marker's offset within its part and around the last part's end.
    std::vector<qint64> offsets = {P - 1, sizes.lastSize};
    for (const auto& marker : markers)
        offsets.push_back(marker.first % P);
    constexpr qint64 Window = 64;
    for (std::size_t w = 0; w < offsets.size(); ++w) {
        const qint64 o = std::clamp<qint64>(offsets[w] - Window / 2, 0, P - Window);
        auto part = [&](int j) {
            if (j >= k)
                return readAt(table.cell(j, UploadColumn::Filename), o, Window);
            return readAt(source, j * P + o, std::clamp<qint64>(partSize(j) - o, 0, Window)).leftJustified(Window, 0);
        };
        const RecoveryDecoder decoder(k, m, {1, 2, 3, 4, 5, 6, 7, k + static_cast<int>(w % m)});
        QByteArray stripes[k], rebuilt(Window, 0);
        const unsigned char* in[k];
        for (int i = 0; i < k; ++i) {
            stripes[i] = part(decoder.present()[i]);
            in[i] = reinterpret_cast<const unsigned char*>(stripes[i].constData());
        }
        unsigned char* out[1] = {reinterpret_cast<unsigned char*>(rebuilt.data())};
        decoder.decode(Window, in, out);
        EXPECT_EQ(rebuilt, part(0)) << "data part 1 at " << o << " with recovery part " << w % m + 1;
    }
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
    makeSparseSource(source, markers);

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
