// The list of ranges kept beside a part file, read back from any bytes: a list that is
// taken covers the part exactly, claims no byte the file lacks, and reads back the same
// once written again.
#include "gather/part_ranges.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The first two bytes: the part's size and the file's, small enough that lists the
    // fuzzer writes can fit them.
    const qint64 partSize = qint64(data[0]) * 97 + 1;
    const qint64 fileSize = qint64(data[1]) * 97;
    const QByteArray text(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));
    const std::optional<PartRanges> ranges = PartRanges::fromText(text, partSize, fileSize);
    if (!ranges)
        return 0;
    qint64 covered = 0;
    for (int i = 0; i < ranges->count(); ++i) {
        const ByteRange& r = ranges->at(i);
        if (r.got < 0 || r.got > r.end - r.begin || (r.got > 0 && r.next() > fileSize))
            std::abort();
        covered += r.end - r.begin;
    }
    if (covered != partSize || ranges->count() > PartRanges::MaxRanges)
        std::abort();
    const std::optional<PartRanges> again = PartRanges::fromText(ranges->text(), partSize, fileSize);
    if (!again || again->text() != ranges->text())
        std::abort();
    return 0;
}
