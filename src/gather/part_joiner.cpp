#include "gather/part_joiner.h"

#include "crc/crc32.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// Large enough that system calls cost nothing next to the copy, small enough to stay
// in the cache between the read, the CRC and the write.
constexpr std::size_t BufferBytes = 256 * 1024;

QString SystemError(const QString& what, const QString& path, int error) {
    return what + path + ": " + QString::fromLocal8Bit(std::strerror(error));
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now, so the caller sees a failure that only the close reveals.
    int close() {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

bool WriteAll(int fd, const char* data, std::size_t size, int& error) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

JoinResult JoinParts(const QStringList& partFiles, const QString& outputFile) {
    JoinResult result;
    const QByteArray outName = QFile::encodeName(outputFile);
    Fd out(::open(outName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        result.error = SystemError("Cannot create ", outputFile, errno);
        return result;
    }
    std::unique_ptr<char[]> buffer(new char[BufferBytes]);
    uint32_t crc = 0xFFFFFFFFu;
    for (const QString& part : partFiles) {
        const QByteArray partName = QFile::encodeName(part);
        Fd in(::open(partName.constData(), O_RDONLY | O_CLOEXEC));
        if (in.get() < 0) {
            result.error = SystemError("Cannot open the part file ", part, errno);
            return result;
        }
        ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        for (;;) {
            const ssize_t n = ::read(in.get(), buffer.get(), BufferBytes);
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                result.error = SystemError("Cannot read the part file ", part, errno);
                return result;
            }
            crc = Crc32Update(crc, buffer.get(), static_cast<std::size_t>(n));
            int error = 0;
            if (!WriteAll(out.get(), buffer.get(), static_cast<std::size_t>(n), error)) {
                result.error = SystemError("Cannot write ", outputFile, error);
                return result;
            }
            result.bytes += n;
        }
    }
    if (out.close() != 0) {
        result.error = SystemError("Cannot write ", outputFile, errno);
        return result;
    }
    result.crc = ~crc;
    result.ok = true;
    return result;
}
