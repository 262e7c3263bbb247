#include "gather/part_file.h"

#include "crc/crc32.h"

bool PartFile::create() {
    m_register = 0xFFFFFFFFu;
    m_written = 0;
    return open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

qint64 PartFile::writeData(const char* data, qint64 len) {
    const qint64 n = QFile::writeData(data, len);
    if (n > 0) {
        m_register = Crc32Update(m_register, data, static_cast<std::size_t>(n));
        m_written += n;
    }
    return n;
}
