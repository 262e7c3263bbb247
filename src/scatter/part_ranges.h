#pragma once

#include "scatter/splitter.h"

#include <QHash>

// The parts of a split as byte ranges of the source, without part files: the upload
// table is filled as "Split File" fills it (each row names the part file the split would
// write, whose file name is the part's name on the server and in the manifest; its size
// and CRC-32), but nothing is written, so a source needs no free space for its parts.
// The source is read once, in bounded chunks. Throws UserError with the message to show
// when the split is refused (as SplitFile refuses it) or the source cannot be read.
struct PartRanges {
    uint32_t sourceCrc = 0;
    QHash<int, qint64> rowStarts;  // the first byte of each row's part in the source
};
PartRanges DescribePartRanges(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress = {});
