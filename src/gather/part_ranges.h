#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// One piece of a part: the bytes [begin, end) of the part file, of which the first `got`
// are in the file, with their CRC-32.
struct ByteRange {
    qint64 begin = 0;
    qint64 end = 0;
    qint64 got = 0;
    uint32_t crc = 0;  // the CRC-32 of the first `got` bytes (0 for none)

    qint64 next() const { return begin + got; }
    qint64 remaining() const { return end - begin - got; }
    bool complete() const { return got == end - begin; }
};

// A part as byte ranges that together cover it, each filled from its start: what a
// download in several pieces has of the part, and what is left. A range is never moved
// in memory once made (a writer holds on to it), so ranges added by a split go to the end.
class PartRanges {
public:
    // One range over the whole part, with its first `kept` bytes already in the file.
    explicit PartRanges(qint64 size = 0, qint64 kept = 0, uint32_t keptCrc = 0);

    qint64 size() const { return m_size; }
    int count() const { return int(m_ranges.size()); }
    ByteRange& at(int index) { return m_ranges[size_t(index)]; }
    const ByteRange& at(int index) const { return m_ranges[size_t(index)]; }

    qint64 received() const;
    bool complete() const;
    // The CRC-32 of the bytes received in the part's order, combined from the ranges'
    // own: the part's once every range is complete, the prefix's below.
    uint32_t crc() const;
    // When every byte received lies in one run from the part's start (no gap before a
    // byte received), that run's length; -1 otherwise. The file then holds a plain
    // prefix of the part, and a later download needs nothing but the file to go on.
    qint64 prefixLength() const;

    // Cuts the rest of range `index` in two halves of at least `minPiece` bytes each; the
    // upper half becomes a new range (its index is returned) and the range ends where the
    // new one begins. -1 when the rest is too short.
    int split(int index, qint64 minPiece);
    // Cuts the largest rest into equal pieces of at least `minPiece` bytes, so that there
    // are up to `pieces` ranges: a download in ranges asks each piece for its own
    // connection, and no request then runs past the piece it is for.
    void spread(int pieces, qint64 minPiece);
    // Back to one range over the whole part, nothing received.
    void restart();

    // The text kept beside a part file while it has gaps, and its reader. The reader
    // takes only ranges that cover exactly [0, size) in order, each with no more bytes
    // than it holds and none beyond `fileSize`; nothing for anything else.
    QByteArray text() const;
    static std::optional<PartRanges> fromText(const QByteArray& text, qint64 size, qint64 fileSize);
    // The most ranges a text may hold (a split leaves no piece below a few MiB).
    static constexpr int MaxRanges = 256;

private:
    std::vector<const ByteRange*> inOrder() const;

    qint64 m_size = 0;
    std::deque<ByteRange> m_ranges;
};
