#include "net/socket_buffer.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr qint64 DefaultBlockSize = 1514;
}

TBuffer::TBuffer(qint64 size) { setSize(size); }

void TBuffer::setSize(qint64 size) {
    if (size <= 0)
        size = DefaultBlockSize;
    auto data = std::make_unique<char[]>(size_t(size));
    const qint64 keep = std::min(m_wrCount, size);
    if (keep > 0)
        std::memcpy(data.get(), m_data.get(), size_t(keep));
    m_data = std::move(data);
    m_size = size;
    m_wrCount = keep;
    m_rdCount = std::min(m_rdCount, keep);
}

qint64 TBuffer::write(const char* data, qint64 len) {
    const qint64 n = std::max<qint64>(0, std::min(len, m_size - m_wrCount));
    if (n > 0) {
        std::memcpy(m_data.get() + m_wrCount, data, size_t(n));
        m_wrCount += n;
    }
    return n;
}

const char* TBuffer::peek(qint64& len) const {
    len = m_wrCount - m_rdCount;
    return m_data.get() + m_rdCount;
}

void TBuffer::remove(qint64 len) {
    m_rdCount += std::max<qint64>(0, std::min(len, m_wrCount - m_rdCount));
    if (m_rdCount >= m_wrCount) {
        m_rdCount = 0;
        m_wrCount = 0;
    }
}
