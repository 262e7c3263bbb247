#include "gather/part_ranges.h"

#include "crc/crc32.h"

#include <QList>
#include <algorithm>

namespace {

const QByteArray Signature = "parcelwick ranges 1";

// Digits only: toLongLong alone would take a sign and blanks.
std::optional<qint64> decimal(const QByteArray& text) {
    if (text.isEmpty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

}  // namespace

PartRanges::PartRanges(qint64 size, qint64 kept, uint32_t keptCrc) : m_size(size) {
    m_ranges.push_back({0, size, kept, keptCrc});
}

std::vector<const ByteRange*> PartRanges::inOrder() const {
    std::vector<const ByteRange*> sorted;
    for (const ByteRange& r : m_ranges)
        sorted.push_back(&r);
    std::sort(sorted.begin(), sorted.end(), [](const ByteRange* a, const ByteRange* b) { return a->begin < b->begin; });
    return sorted;
}

qint64 PartRanges::received() const {
    qint64 total = 0;
    for (const ByteRange& r : m_ranges)
        total += r.got;
    return total;
}

bool PartRanges::complete() const {
    return std::all_of(m_ranges.begin(), m_ranges.end(), [](const ByteRange& r) { return r.complete(); });
}

uint32_t PartRanges::crc() const {
    uint32_t crc = 0;
    for (const ByteRange* r : inOrder())
        crc = Crc32Combine(crc, r->crc, uint64_t(r->got));
    return crc;
}

qint64 PartRanges::prefixLength() const {
    qint64 length = 0;
    bool gap = false;
    for (const ByteRange* r : inOrder()) {
        if (r->got > 0 && gap)
            return -1;
        length += r->got;
        gap = gap || !r->complete();
    }
    return length;
}

int PartRanges::split(int index, qint64 minPiece) {
    ByteRange& r = m_ranges[size_t(index)];
    const qint64 rest = r.remaining();
    if (rest < 2 * std::max<qint64>(minPiece, 1))
        return -1;
    const qint64 middle = r.next() + rest / 2;
    // A deque that grows at its end keeps every element where it was.
    m_ranges.push_back({middle, r.end, 0, 0});
    r.end = middle;
    return int(m_ranges.size()) - 1;
}

void PartRanges::spread(int pieces, qint64 minPiece) {
    int largest = 0;
    for (int i = 1; i < count(); ++i)
        if (at(i).remaining() > at(largest).remaining())
            largest = i;
    const qint64 rest = at(largest).remaining();
    const qint64 cuts = std::min<qint64>(pieces - count() + 1, rest / std::max<qint64>(minPiece, 1));
    if (cuts < 2)
        return;
    const qint64 end = at(largest).end;
    const qint64 from = at(largest).next();
    at(largest).end = from + rest / cuts;
    for (qint64 k = 1; k < cuts; ++k)
        m_ranges.push_back({from + rest * k / cuts, k + 1 == cuts ? end : from + rest * (k + 1) / cuts, 0, 0});
}

void PartRanges::restart() {
    m_ranges.clear();
    m_ranges.push_back({0, m_size, 0, 0});
}

QByteArray PartRanges::text() const {
    QByteArray out = Signature + "\nsize " + QByteArray::number(m_size) + '\n';
    for (const ByteRange* r : inOrder())
        out += QByteArray::number(r->begin) + ' ' + QByteArray::number(r->end) + ' ' + QByteArray::number(r->got) +
               ' ' + QByteArray::number(r->crc, 16).rightJustified(8, '0').toUpper() + '\n';
    return out;
}

std::optional<PartRanges> PartRanges::fromText(const QByteArray& text, qint64 size, qint64 fileSize) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    if (lines.size() < 3 || lines.size() > 2 + MaxRanges || lines[0] != Signature ||
        lines[1] != "size " + QByteArray::number(size))
        return std::nullopt;
    PartRanges parts(size);
    parts.m_ranges.clear();
    qint64 expectedBegin = 0;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(' ');
        if (fields.size() != 4 || fields[3].size() != 8)
            return std::nullopt;
        const std::optional<qint64> begin = decimal(fields[0]), end = decimal(fields[1]), got = decimal(fields[2]);
        bool isHex = false;
        const uint32_t crc = fields[3].toUInt(&isHex, 16);
        if (!begin || !end || !got || !isHex || *begin != expectedBegin || *end <= *begin || *end > size ||
            *got > *end - *begin || (*got > 0 && *begin + *got > fileSize))
            return std::nullopt;
        parts.m_ranges.push_back({*begin, *end, *got, crc});
        expectedBegin = *end;
    }
    if (expectedBegin != size)
        return std::nullopt;
    return parts;
}
