#pragma once

#include "scatter/splitter.h"

#include <QHash>

// The parts of a split as byte ranges of the source, without part files: the upload
// table is filled as "Split File" fills it (each row names the part file the split would
// write, whose file name is the part's name on the server and in the manifest; its size
// and CRC-32), but nothing is written, so a source needs no free space for its parts.
// The source is read once, in bounded chunks, and checked as every split checks it.
// Throws UserError with the message to show when the split is refused or the source
// cannot be read.
SplitOutcome DescribePartRanges(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress = {});

// The first byte in the source of each data row's part (the rows in split order): what
// an upload from the source's byte ranges sends from.
QHash<int, qint64> DataRowStarts(const SplitOutcome& split, const TextTable& uploadTable);
