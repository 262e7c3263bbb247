#include "gather/part_joiner.h"

#include "common/system_error.h"
#include "common/unique_fd.h"
#include "crc/crc32.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

// Large enough that system calls cost nothing next to the copy, small enough to stay
// in the cache between the read and the CRC.
constexpr std::size_t BufferBytes = 256 * 1024;
// One in-kernel copy call moves at most this much, so a stop request is seen soon.
constexpr std::size_t KernelCopyBytes = 64 * 1024 * 1024;

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

// The CRC of the parts, taken on the second core while the first copies them: the copy
// is in-kernel, so this pass is the only user-space work of a join, and the two together
// take little longer than the copy alone.
class PartsCrcPass {
public:
    explicit PartsCrcPass(const QStringList& parts) : m_parts(parts), m_thread([this] { run(); }) {}
    ~PartsCrcPass() { finish(); }
    PartsCrcPass(const PartsCrcPass&) = delete;
    PartsCrcPass& operator=(const PartsCrcPass&) = delete;

    void stop() { m_stop = true; }
    void finish() {
        if (m_thread.joinable())
            m_thread.join();
    }
    // Valid after finish().
    bool ok() const { return m_failedPart < 0; }
    uint32_t crc() const { return ~m_register; }
    qint64 bytes() const { return m_bytes; }
    QString failure() const {
        return ok() ? QString() : SystemError("Cannot read the part file ", m_parts[m_failedPart], m_error);
    }

private:
    void run() {
        std::unique_ptr<char[]> buffer(new char[BufferBytes]);
        for (int i = 0; i < m_parts.size() && !m_stop; ++i) {
            UniqueFd in(::open(QFile::encodeName(m_parts[i]).constData(), O_RDONLY | O_CLOEXEC));
            if (!in.valid())
                return fail(i, errno);
            ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
            while (!m_stop) {
                const ssize_t n = ::read(in.get(), buffer.get(), BufferBytes);
                if (n == 0)
                    break;
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    return fail(i, errno);
                }
                m_register = Crc32Update(m_register, buffer.get(), static_cast<std::size_t>(n));
                m_bytes += n;
            }
        }
    }
    void fail(int part, int error) {
        m_failedPart = part;
        m_error = error;
    }

    const QStringList m_parts;
    std::atomic<bool> m_stop{false};
    uint32_t m_register = 0xFFFFFFFFu;
    qint64 m_bytes = 0;
    int m_failedPart = -1;
    int m_error = 0;
    std::thread m_thread;  // last: starts once everything it uses exists
};

// Appends one part to the output: in-kernel where the file systems allow it, else
// through the buffer. Returns 0 or the errno of the failure; `readFailed` tells whose.
int AppendPart(int in, int out, char* buffer, bool& kernelCopy, qint64& written, bool& readFailed) {
    readFailed = false;
    while (kernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, KernelCopyBytes, 0);
        if (n == 0)
            return 0;
        if (n > 0) {
            written += n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return errno;  // copy_file_range cannot say which side failed: the output's message names both
        kernelCopy = false;  // this pair of file systems cannot: copy through the buffer from here on
    }
    for (;;) {
        const ssize_t n = ::read(in, buffer, BufferBytes);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            readFailed = true;
            return errno;
        }
        int error = 0;
        if (!WriteAll(out, buffer, static_cast<std::size_t>(n), error))
            return error;
        written += n;
    }
}

}  // namespace

JoinResult JoinParts(const QStringList& partFiles, const QString& outputFile) {
    JoinResult result;
    UniqueFd out(::open(QFile::encodeName(outputFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out.valid()) {
        result.error = SystemError("Cannot create ", outputFile, errno);
        return result;
    }
    PartsCrcPass crcPass(partFiles);
    std::unique_ptr<char[]> buffer(new char[BufferBytes]);
    bool kernelCopy = true;
    auto abandon = [&](const QString& message) {
        crcPass.stop();
        crcPass.finish();
        result.error = message;
        return result;
    };
    for (const QString& part : partFiles) {
        UniqueFd in(::open(QFile::encodeName(part).constData(), O_RDONLY | O_CLOEXEC));
        if (!in.valid())
            return abandon(SystemError("Cannot open the part file ", part, errno));
        bool readFailed = false;
        if (const int error = AppendPart(in.get(), out.get(), buffer.get(), kernelCopy, result.bytes, readFailed))
            return abandon(readFailed ? SystemError("Cannot read the part file ", part, error)
                                      : SystemError("Cannot write ", outputFile, error));
    }
    if (out.close() != 0)
        return abandon(SystemError("Cannot write ", outputFile, errno));
    crcPass.finish();
    if (!crcPass.ok()) {
        result.error = crcPass.failure();
        return result;
    }
    // The CRC was taken from a second read of the parts: a part that changed between the
    // two reads would make it the CRC of other bytes than the output holds.
    if (crcPass.bytes() != result.bytes) {
        result.error = "A part file changed while the parts were being joined into " + outputFile;
        return result;
    }
    result.crc = crcPass.crc();
    result.ok = true;
    return result;
}
