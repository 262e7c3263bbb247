#include "gather/file_hasher.h"

#include "crc/crc32.h"

#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>

namespace {

// Large enough that the system calls cost nothing next to the hash, small enough to stay
// in the cache between the read and the hash.
constexpr std::size_t BlockBytes = 256 * 1024;

// The hash of a file as far as it has been read.
class Reading {
public:
    Reading(int fd, bool withCrc) : m_fd(fd), m_withCrc(withCrc), m_buffer(new unsigned char[BlockBytes]) {}

    // Reads on from where it stands up to `limit` or the end of the file. False once
    // the end is reached or a read failed (then result().error says why).
    bool readUpTo(qint64 limit, const std::atomic<bool>* cancel) {
        if (m_hash.error != 0)
            return false;
        while (m_hash.bytes < limit && !(cancel && cancel->load(std::memory_order_relaxed))) {
            const std::size_t want = static_cast<std::size_t>(std::min<qint64>(limit - m_hash.bytes, BlockBytes));
            const ssize_t n = ::pread(m_fd, m_buffer.get(), want, m_hash.bytes);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                m_hash.error = errno;
                return false;
            }
            if (n == 0)
                return false;
            m_sha.update(m_buffer.get(), static_cast<std::size_t>(n));
            if (m_withCrc)
                m_register = Crc32Update(m_register, m_buffer.get(), static_cast<std::size_t>(n));
            m_hash.bytes += n;
        }
        return true;
    }

    qint64 position() const { return m_hash.bytes; }

    FileHash result() {
        m_hash.crc = ~m_register;
        m_hash.sha256 = m_sha.finish();
        return m_hash;
    }

private:
    const int m_fd;
    const bool m_withCrc;
    std::unique_ptr<unsigned char[]> m_buffer;
    Sha256 m_sha;
    uint32_t m_register = 0xFFFFFFFFu;
    FileHash m_hash;
};

}  // namespace

FileHash HashDescriptor(int fd, bool withCrc, const std::atomic<bool>* cancel) {
    Reading reading(fd, withCrc);
    reading.readUpTo(INT64_MAX, cancel);
    return reading.result();
}

FileHasher::FileHasher(UniqueFd fd, bool withCrc)
    : m_fd(std::move(fd)), m_withCrc(withCrc), m_thread([this] { run(); }) {}

FileHasher::~FileHasher() {
    m_cancel = true;
    {
        std::lock_guard lock(m_mutex);
        m_finishing = true;
    }
    m_changed.notify_one();
    m_thread.join();
}

void FileHasher::advance(qint64 written) {
    {
        std::lock_guard lock(m_mutex);
        m_written = written;
    }
    m_changed.notify_one();
}

void FileHasher::finish(QObject* receiver, Done done) {
    {
        std::lock_guard lock(m_mutex);
        m_receiver = receiver;
        m_done = std::move(done);
        m_finishing = true;
    }
    m_changed.notify_one();
}

void FileHasher::run() {
    Reading reading(m_fd.get(), m_withCrc);
    // A file that reads shorter than what was written to it (cut by someone else) is read
    // on only once the writing is over.
    bool behindWrites = true;
    for (;;) {
        bool finishing = false;
        qint64 limit = 0;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_finishing || (behindWrites && m_written > reading.position()); });
            finishing = m_finishing;
            limit = finishing ? INT64_MAX : m_written;
        }
        const bool more = reading.readUpTo(limit, &m_cancel);
        if (m_cancel)
            return;
        if (finishing)
            break;
        behindWrites = more;
    }
    const FileHash hash = reading.result();
    std::lock_guard lock(m_mutex);
    QMetaObject::invokeMethod(m_receiver, [done = m_done, hash] { done(hash); }, Qt::QueuedConnection);
}
