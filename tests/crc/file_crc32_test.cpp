// FileCrc32 on real files in a temporary directory.
#include "crc/crc32.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zlib.h>

#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint32_t kUntouched = 0x5EED1234u;

std::string randomText(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(gen());
    return bytes;
}

uint32_t zlibCrc(const std::string& bytes) {
    return static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
}

class FileCrc32Test : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    std::string path(const char* name) const { return m_dir.filePath(name).toStdString(); }

    std::string write(const char* name, const std::string& bytes) const {
        QFile file(m_dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())), static_cast<qint64>(bytes.size()));
        return path(name);
    }

    QTemporaryDir m_dir;
};

// Sizes around the 1 MiB read chunk and well past it, none a multiple of it.
TEST_F(FileCrc32Test, WholeContentInEveryChunking) {
    const struct {
        std::size_t size;
        unsigned seed;
    } cases[] = {{1, 1}, {9, 2}, {4096, 3}, {(1u << 20) - 1, 4}, {1u << 20, 5}, {(1u << 20) + 1, 6}, {(3u << 20) + 12345, 7}};
    for (const auto& c : cases) {
        const std::string bytes = randomText(c.size, c.seed);
        uint32_t crc = kUntouched;
        EXPECT_TRUE(FileCrc32(write("data.bin", bytes), crc)) << c.size;
        EXPECT_EQ(crc, zlibCrc(bytes)) << c.size;
    }
}

TEST_F(FileCrc32Test, CheckValueAndEmptyFile) {
    uint32_t crc = kUntouched;
    EXPECT_TRUE(FileCrc32(write("check.txt", "123456789"), crc));
    EXPECT_EQ(Crc32Text(crc), "CBF43926");
    crc = kUntouched;
    EXPECT_TRUE(FileCrc32(write("empty", ""), crc));
    EXPECT_EQ(crc, 0u);
}

// None of these can be read as a file: false, the caller's value stays, and a FIFO
// without a writer must not hang the caller.
TEST_F(FileCrc32Test, FailuresLeaveTheValueUntouched) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder"));
    for (const std::string& p : {path("missing.bin"), path("folder"), path("fifo"), path("missing-dir/file")}) {
        uint32_t crc = kUntouched;
        EXPECT_FALSE(FileCrc32(p, crc)) << p;
        EXPECT_EQ(crc, kUntouched) << p;
    }
}

// The split computes a part's CRC while its own handle still writes it, and may hold
// an exclusive advisory lock on it.
TEST_F(FileCrc32Test, FileStillOpenForWritingCoversWhatIsWritten) {
    QFile writer(m_dir.filePath("part.001"));
    ASSERT_TRUE(writer.open(QIODevice::WriteOnly));
    ASSERT_EQ(::flock(writer.handle(), LOCK_EX), 0);
    const std::string first = randomText(100'000, 8);
    writer.write(first.data(), static_cast<qint64>(first.size()));
    ASSERT_TRUE(writer.flush());
    uint32_t crc = kUntouched;
    EXPECT_TRUE(FileCrc32(path("part.001"), crc));
    EXPECT_EQ(crc, zlibCrc(first));

    const std::string more = randomText(2'000'000, 9);
    writer.write(more.data(), static_cast<qint64>(more.size()));
    ASSERT_TRUE(writer.flush());
    EXPECT_TRUE(FileCrc32(path("part.001"), crc));
    EXPECT_EQ(crc, zlibCrc(first + more));
}

// Past 4 GiB no count may wrap. The file is sparse, so only its two ends take space;
// on tmpfs its holes read as fast as memory (a disk file system first fills the page
// cache with 4 GiB of zeros). The expected value comes from zlib, the zero run by
// doubling with crc32_combine64.
TEST(FileCrc32Sparse, LargerThan4GiB) {
    QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/pw-crc-XXXXXX" : QDir::tempPath() + "/pw-crc-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const std::string head = randomText(3000, 10);
    const std::string tail = randomText(5000, 11);
    const off_t size = (off_t{1} << 32) + 4097 + 8000;
    const off_t zeros = size - static_cast<off_t>(head.size() + tail.size());
    const std::string p = dir.filePath("sparse.bin").toStdString();
    {
        const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0), static_cast<ssize_t>(head.size()));
        ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), size - static_cast<off_t>(tail.size())),
                  static_cast<ssize_t>(tail.size()));
        ::close(fd);
    }
    uLong zeroRun = 0;  // CRC of no bytes
    off_t have = 0;
    uLong zeroBit = crc32_z(0, reinterpret_cast<const Bytef*>("\0"), 1);
    off_t bitLength = 1;
    for (off_t rest = zeros; rest > 0; rest >>= 1) {
        if (rest & 1) {
            zeroRun = crc32_combine64(zeroRun, zeroBit, bitLength);
            have += bitLength;
        }
        zeroBit = crc32_combine64(zeroBit, zeroBit, bitLength);
        bitLength *= 2;
    }
    ASSERT_EQ(have, zeros);
    uLong expected = crc32_combine64(zlibCrc(head), zeroRun, zeros);
    expected = crc32_combine64(expected, zlibCrc(tail), static_cast<off_t>(tail.size()));

    uint32_t crc = kUntouched;
    EXPECT_TRUE(FileCrc32(p, crc));
    EXPECT_EQ(crc, static_cast<uint32_t>(expected));
}

// Root reads a mode-000 file anyway, so a root run drops the file-system identity of
// this thread to "nobody" (which also drops its override of file modes) and proves
// with a readable twin that the mode is what fails.
TEST_F(FileCrc32Test, UnreadableFile) {
    const std::string locked = write("locked.bin", "secret");
    const std::string open = write("open.bin", "123456789");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(m_dir.path().toLocal8Bit().constData(), 0755), 0);
    const uid_t before = static_cast<uid_t>(::setfsuid(65534));
    const uid_t now = static_cast<uid_t>(::setfsuid(65534));  // reports the current one
    if (::geteuid() == 0 && now != 65534u) {
        ::setfsuid(before);
        FAIL() << "running as root and cannot change the file-system user to test an unreadable file";
    }

    uint32_t lockedCrc = kUntouched;
    uint32_t openCrc = kUntouched;
    const bool lockedOk = FileCrc32(locked, lockedCrc);
    const bool openOk = FileCrc32(open, openCrc);
    ::setfsuid(before);

    EXPECT_FALSE(lockedOk);
    EXPECT_EQ(lockedCrc, kUntouched);
    EXPECT_TRUE(openOk);
    EXPECT_EQ(openCrc, 0xCBF43926u);
}

// A file that yields fewer bytes than its size said is a failed read, not a shorter
// CRC. Kernel attribute files do that for real: sized 4096, a few bytes of content.
TEST(FileCrc32ShortRead, FewerBytesThanTheSizeIsAFailure) {
    const char* p = "/sys/devices/system/cpu/online";
    struct stat info {};
    ASSERT_EQ(::stat(p, &info), 0) << p << " is needed to produce a short read";
    ASSERT_GT(info.st_size, 0);
    uint32_t crc = kUntouched;
    EXPECT_FALSE(FileCrc32(p, crc));
    EXPECT_EQ(crc, kUntouched);
}

}  // namespace
