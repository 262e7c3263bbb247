#include "gather/part_file.h"

#include "common/safe_folder.h"
#include "common/system_error.h"
#include "crc/crc32.h"
#include "gather/file_hasher.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

PartFile::PartFile(const QString& path) : m_path(path) {}

PartFile::~PartFile() { PartFile::close(); }


bool PartFile::create(const SafeFolder& folder, const QString& name, qint64 limit, bool sha256) {
    close();
    m_hasher.reset();
    m_register = 0xFFFFFFFFu;
    m_written = 0;
    m_closedSize = -1;
    m_writeError = 0;
    m_overLimit = false;
    m_limit = limit;
    QString error;
    m_fd = folder.createFile(name, error, sha256);
    if (!m_fd.valid()) {
        setErrorString(error);
        return false;
    }
    if (sha256) {
        // A descriptor of its own on the same open file: it reads at its own offsets.
        UniqueFd reader(::fcntl(m_fd.get(), F_DUPFD_CLOEXEC, 0));
        if (!reader.valid()) {
            setErrorString(SystemReason(errno));
            m_fd.close();
            return false;
        }
        m_hasher = std::make_unique<FileHasher>(std::move(reader), false);
    }
    return open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

void PartFile::close() {
    if (!m_fd.valid())
        return;
    struct stat info {};
    m_closedSize = ::fstat(m_fd.get(), &info) == 0 ? qint64(info.st_size) : -1;
    QIODevice::close();
    // A late failure of the close shows in the file's size and CRC check.
    m_fd.close();
}

qint64 PartFile::readData(char*, qint64) { return -1; }

qint64 PartFile::writeData(const char* data, qint64 len) {
    if (m_limit >= 0 && len > m_limit - m_written) {
        m_overLimit = true;
        setErrorString(PartFileFailure(*this));
        return -1;
    }
    for (qint64 done = 0; done < len;) {
        const ssize_t n = ::write(m_fd.get(), data + done, std::size_t(len - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m_writeError = errno;
            setErrorString(PartFileFailure(*this));
            return -1;
        }
        m_register = Crc32Update(m_register, data + done, std::size_t(n));
        m_written += n;
        done += n;
    }
    if (m_hasher)
        m_hasher->advance(m_written);
    return len;
}

std::unique_ptr<FileHasher> PartFile::takeHasher() { return std::move(m_hasher); }

QString PartFileFailure(const PartFile& file) {
    if (file.overLimit())
        return QStringLiteral("server sent more than the part's %1 bytes").arg(file.limit());
    return file.writeError() != 0 ? SystemReason(file.writeError()) : QString();
}
