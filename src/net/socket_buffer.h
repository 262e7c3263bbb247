#pragma once

#include <QtGlobal>

#include <memory>

// One block of a socket's send queue. Blocks are reused rather than freed: once every
// byte written has been removed, both counts return to 0.
class TBuffer {
public:
    explicit TBuffer(qint64 size); // 1514 when asked for 0 or less

    qint64 size() const { return m_size; }
    // Keeps the first write-count bytes of a block that holds data.
    void setSize(qint64 size);

    // Copies as much as fits behind the write count; returns that amount.
    qint64 write(const char* data, qint64 len);
    // The unread part, from the read count to the write count.
    const char* peek(qint64& len) const;
    // Advances the read count by at most the unread length.
    void remove(qint64 len);
    qint64 unread() const { return m_wrCount - m_rdCount; }
    bool full() const { return m_wrCount >= m_size; }

private:
    std::unique_ptr<char[]> m_data;
    qint64 m_size = 0;
    qint64 m_wrCount = 0;
    qint64 m_rdCount = 0;
};
