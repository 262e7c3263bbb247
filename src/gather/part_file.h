#pragma once

#include <QFile>
#include <cstdint>

// The file a part is downloaded into. It takes the CRC-32 of the bytes as they are
// written, so the check at the end of a download costs nothing however large the part:
// the window never waits for a part to be read back. Writes go straight to the file
// (unbuffered), so a write the file system refuses fails the download at once rather
// than at the close.
class PartFile : public QFile {
public:
    explicit PartFile(const QString& path) : QFile(path) {}

    // Creates the file, or truncates an earlier one. False with errorString() on failure.
    bool create();

    qint64 written() const { return m_written; }
    // The CRC-32 of everything written since create().
    uint32_t crc() const { return ~m_register; }

protected:
    qint64 writeData(const char* data, qint64 len) override;

private:
    uint32_t m_register = 0xFFFFFFFFu;
    qint64 m_written = 0;
};
