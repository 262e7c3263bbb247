#include "gather/range_writer.h"

#include "common/system_error.h"
#include "crc/crc32.h"

#include <cerrno>
#include <unistd.h>

RangeWriter::RangeWriter(int fd, ByteRange& range, qint64 askedEnd) : m_fd(fd), m_range(range), m_askedEnd(askedEnd) {
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 RangeWriter::readData(char*, qint64) { return -1; }

qint64 RangeWriter::writeData(const char* data, qint64 len) {
    if (len > m_askedEnd - m_range.next()) {
        m_overAsked = true;
        setErrorString(QStringLiteral("server sent more than the bytes asked (to byte %1)").arg(m_askedEnd));
        return -1;
    }
    const qint64 take = qMin(len, m_range.remaining());
    for (qint64 done = 0; done < take;) {
        const ssize_t n = ::pwrite(m_fd, data + done, size_t(take - done), m_range.next());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_writeError = n < 0 ? errno : EIO;
            setErrorString(SystemReason(m_writeError));
            return -1;
        }
        m_range.crc = ~Crc32Update(~m_range.crc, data + done, size_t(n));
        m_range.got += n;
        done += n;
    }
    return len;
}
