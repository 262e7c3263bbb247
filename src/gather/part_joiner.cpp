#include "gather/part_joiner.h"

#include "common/system_error.h"
#include "common/unique_fd.h"
#include "crc/crc32.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Large enough that system calls cost nothing next to the copy, small enough to stay
// in the cache between the read and the CRC.
constexpr std::size_t BufferBytes = 256 * 1024;
// One in-kernel copy call moves at most this much: the reader behind the copy never
// waits long for new bytes, and progress is told often.
constexpr std::size_t KernelCopyBytes = 8 * 1024 * 1024;

QByteArray NativePath(const QString& path) { return QFile::encodeName(path); }

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

qint64 TotalSize(const QStringList& files) {
    qint64 total = 0;
    for (const QString& file : files) {
        struct stat info {};
        if (::stat(NativePath(file).constData(), &info) == 0 && S_ISREG(info.st_mode))
            total += info.st_size;
    }
    return total;
}

// The CRC of the output, read on the second core right behind the copy: the bytes are
// still in the page cache, so the CRC costs little more than the copy, and it is the
// CRC of what the output file holds, not of what the parts held when read again.
class OutputCrcPass {
public:
    explicit OutputCrcPass(const QString& output) : m_output(output), m_thread([this] { run(); }) {}
    ~OutputCrcPass() {
        stop();
        finish();
    }
    OutputCrcPass(const OutputCrcPass&) = delete;
    OutputCrcPass& operator=(const OutputCrcPass&) = delete;

    // The output now holds this many bytes.
    void advance(qint64 written) {
        {
            std::lock_guard lock(m_mutex);
            m_written = written;
        }
        m_changed.notify_one();
    }
    // The join gave up: the CRC is not wanted.
    void stop() {
        m_stop = true;
        end();
    }
    // The copy is over: reads the rest of the output to its end, then returns.
    void finish() {
        end();
        if (m_thread.joinable())
            m_thread.join();
    }
    // Valid after finish().
    bool ok() const { return m_error == 0; }
    uint32_t crc() const { return ~m_register; }
    QString failure() const { return ok() ? QString() : SystemError("Cannot read ", m_output, m_error); }

private:
    void end() {
        {
            std::lock_guard lock(m_mutex);
            m_copied = true;
        }
        m_changed.notify_one();
    }

    void run() {
        UniqueFd in(::open(NativePath(m_output).constData(), O_RDONLY | O_CLOEXEC));
        if (!in.valid()) {
            m_error = errno;
            return;
        }
        std::unique_ptr<char[]> buffer(new char[BufferBytes]);
        qint64 position = 0;
        // A file that reads shorter than what was written to it (a device, a file cut
        // by someone else) is read again only once the copy is over.
        bool behindWrites = true;
        for (;;) {
            qint64 limit = 0;
            bool copied = false;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return m_copied || (behindWrites && m_written > position); });
                copied = m_copied;
                limit = copied ? INT64_MAX : m_written;
            }
            if (m_stop)
                return;
            while (position < limit && !m_stop) {
                const std::size_t want = static_cast<std::size_t>(std::min<qint64>(limit - position, BufferBytes));
                const ssize_t n = ::read(in.get(), buffer.get(), want);
                if (n < 0) {
                    if (errno == EINTR)
                        continue;
                    m_error = errno;
                    return;
                }
                if (n == 0) {
                    if (copied)
                        return;
                    behindWrites = false;
                    break;
                }
                m_register = Crc32Update(m_register, buffer.get(), static_cast<std::size_t>(n));
                position += n;
            }
        }
    }

    const QString m_output;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_written = 0;
    bool m_copied = false;
    std::atomic<bool> m_stop{false};
    uint32_t m_register = 0xFFFFFFFFu;
    int m_error = 0;
    std::thread m_thread;  // last: starts once everything it uses exists
};

// Appends one part to the output: in-kernel where the file systems allow it, else
// through the buffer. Returns 0 or the errno of the failure; `readFailed` tells whose.
int AppendPart(int in, int out, char* buffer, bool& kernelCopy, const std::function<void(qint64)>& advanced,
               bool& readFailed) {
    readFailed = false;
    while (kernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, KernelCopyBytes, 0);
        if (n == 0)
            return 0;
        if (n > 0) {
            advanced(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)
            kernelCopy = false;  // this pair of file systems cannot: copy through the buffer from here on
        // Any other failure: the in-kernel copy cannot say which side failed. The copy
        // through the buffer goes on from the same offsets and meets the failure itself.
        break;
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
        advanced(n);
    }
}

// Opens a part for reading. A FIFO must not hang the join waiting for a writer, and a
// directory opens without complaint but cannot be read: both are refused here with
// the part's name. Returns the descriptor, or -1 and the message.
int OpenPart(const QString& part, QString& error) {
    UniqueFd in(::open(NativePath(part).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!in.valid()) {
        error = SystemError("Cannot open the part file ", part, errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(in.get(), &info) != 0) {
        error = SystemError("Cannot read the part file ", part, errno);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? SystemError("Cannot read the part file ", part, EISDIR)
                                      : "Cannot read the part file " + part + ": not a regular file";
        return -1;
    }
    ::fcntl(in.get(), F_SETFL, ::fcntl(in.get(), F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return in.release();
}

}  // namespace

JoinResult JoinParts(const QStringList& partFiles, const QString& outputFile, const JoinProgress& progress) {
    JoinResult result;
    UniqueFd out(::open(NativePath(outputFile).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!out.valid()) {
        result.error = SystemError("Cannot create ", outputFile, errno);
        return result;
    }
    const qint64 total = TotalSize(partFiles);
    OutputCrcPass crcPass(outputFile);
    std::unique_ptr<char[]> buffer(new char[BufferBytes]);
    bool kernelCopy = true;
    const auto advanced = [&](qint64 n) {
        result.bytes += n;
        crcPass.advance(result.bytes);
        if (progress)
            progress(result.bytes, total);
    };
    const auto abandon = [&](const QString& message) {
        crcPass.stop();
        result.error = message;
        return result;
    };
    for (const QString& part : partFiles) {
        QString error;
        const UniqueFd in(OpenPart(part, error));
        if (!in.valid())
            return abandon(error);
        bool readFailed = false;
        if (const int failure = AppendPart(in.get(), out.get(), buffer.get(), kernelCopy, advanced, readFailed))
            return abandon(readFailed ? SystemError("Cannot read the part file ", part, failure)
                                      : SystemError("Cannot write ", outputFile, failure));
    }
    if (out.close() != 0)
        return abandon(SystemError("Cannot write ", outputFile, errno));
    crcPass.finish();
    if (!crcPass.ok()) {
        result.error = crcPass.failure();
        return result;
    }
    result.crc = crcPass.crc();
    result.ok = true;
    return result;
}
