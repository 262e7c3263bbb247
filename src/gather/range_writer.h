#pragma once

#include "gather/part_ranges.h"

#include <QIODevice>

// The stream one range of a part is downloaded into: each byte goes to its own place in
// the part file (pwrite), so several ranges fill one file at once, and the range keeps
// its count and CRC-32 as the bytes go in. Unbuffered: a write the file system refuses
// fails the download at once.
//
// The server was asked for the bytes up to `askedEnd`. Beyond that it must not send (the
// write is refused and the HTTP client ends the download); bytes past the range's own
// end but within what was asked belong to a range split off since, and are dropped
// (reachedEnd() then says the range is complete).
class RangeWriter : public QIODevice {
public:
    RangeWriter(int fd, ByteRange& range, qint64 askedEnd);
    bool isSequential() const override { return true; }

    bool reachedEnd() const { return m_range.complete(); }
    // The errno of a write the file system refused, 0 when none.
    int writeError() const { return m_writeError; }
    bool overAsked() const { return m_overAsked; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    int m_fd;
    ByteRange& m_range;
    qint64 m_askedEnd;
    int m_writeError = 0;
    bool m_overAsked = false;
};
