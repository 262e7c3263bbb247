#include "gather/part_joiner.h"

#include "common/safe_folder.h"
#include "common/system_error.h"
#include "common/unique_fd.h"
#include "common/write_fully.h"
#include "crc/crc32.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
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

qint64 TotalSize(const SafeFolder& parts, const QStringList& names) {
    qint64 total = 0;
    for (const QString& name : names) {
        struct stat info {};
        if (::fstatat(parts.fd(), QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode))
            total += info.st_size;
    }
    return total;
}

// The CRC of the output, read on the second core right behind the copy: the bytes are
// still in the page cache, so the CRC costs little more than the copy, and it is the
// CRC of what the output file holds, not of what the parts held when read again. It
// reads through a descriptor of its own on the same open file, at its own offsets.
class OutputCrcPass {
public:
    OutputCrcPass(int output, const QString& path, bool sha256)
        : m_output(path), m_in(::fcntl(output, F_DUPFD_CLOEXEC, 0)), m_error(m_in.valid() ? 0 : errno),
          m_sha(sha256 ? std::make_unique<Sha256>() : nullptr), m_thread([this] { run(); }) {}
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
    // The copy is over: true once the rest of the output is read, false after `ms`
    // without that.
    bool waitDone(int ms) {
        end();
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_done; });
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
    Sha256Digest sha256() { return m_sha ? m_sha->finish() : Sha256Digest{}; }
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
        readOutput();
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
    }

    void readOutput() {
        if (!m_in.valid())
            return;
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
                const ssize_t n = ::pread(m_in.get(), buffer.get(), want, position);
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
                if (m_sha)
                    m_sha->update(buffer.get(), static_cast<std::size_t>(n));
                position += n;
            }
        }
    }

    const QString m_output;
    const UniqueFd m_in;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_written = 0;
    bool m_copied = false;
    bool m_done = false;
    std::atomic<bool> m_stop{false};
    uint32_t m_register = 0xFFFFFFFFu;
    int m_error;
    std::unique_ptr<Sha256> m_sha;
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
        if (const int error = WriteFully(out, buffer, static_cast<std::size_t>(n)))
            return error;
        advanced(n);
    }
}

}  // namespace

JoinResult JoinParts(const SafeFolder& parts, const QStringList& names, UniqueFd output, const QString& outputPath,
                     const JoinProgress& progress, bool sha256) {
    JoinResult result;
    const qint64 total = TotalSize(parts, names);
    OutputCrcPass crcPass(output.get(), outputPath, sha256);
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
    for (const QString& name : names) {
        QString error;
        const UniqueFd in = parts.openForReading(name, error, "the part file ");
        if (!in.valid())
            return abandon(error);
        ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        bool readFailed = false;
        if (const int failure = AppendPart(in.get(), output.get(), buffer.get(), kernelCopy, advanced, readFailed))
            return abandon(readFailed ? SystemError("Cannot read the part file ", parts.path() + name, failure)
                                      : SystemError("Cannot write ", outputPath, failure));
    }
    if (output.close() != 0)
        return abandon(SystemError("Cannot write ", outputPath, errno));
    // A SHA-256 runs slower than the copy: the read behind it may have some way to go,
    // and the caller's event loop turns meanwhile.
    while (sha256 && progress && !crcPass.waitDone(5))
        progress(result.bytes, total);
    crcPass.finish();
    if (!crcPass.ok()) {
        result.error = crcPass.failure();
        return result;
    }
    result.crc = crcPass.crc();
    result.sha256 = crcPass.sha256();
    result.ok = true;
    return result;
}
