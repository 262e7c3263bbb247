#pragma once

#include "common/text_table.h"

#include <QList>

class ManifestLines;
struct ManifestPart;

// The download table: one row per part of the loaded manifest, in manifest order.
// Code addresses rows from 0; a live download carries its row number from 1.
namespace DownloadColumn {
enum : int {
    Filename = 0,  // the part's URL (the row's caption)
    Status,        // "Idle", "Starting...", progress, "Done.", "404 Error", "Error:..."
    CrcPwq,        // expected CRC from the manifest (hidden)
    Size,          // length the server announced, "?" or "-1" (hidden)
    CrcOk,         // "Y" unchecked, "G" good, "R" wrong (hidden)
    SizeOk,        // "Y", "G", "R" (hidden)
    Recvd,         // body bytes of the current or last attempt (hidden)
    LRcvd,         // Recvd at the previous watchdog tick (hidden)
    IdleSeconds,   // watchdog ticks without progress
    Code,          // HTTP status code of the last response
    Content,       // content type of the last response (hidden)
    PartSize,      // expected size from the manifest
    Attempts,      // downloads started for this row
    Count
};
}

QList<TextColumn> DownloadTableColumns();

// The cells of a fresh row for a part entry: its URL, CRC and size, and the initial
// "Idle", "?", "Y" and "0" values of the counters and verdicts.
QStringList DownloadRowCells(const ManifestPart& part);

// Replaces every row with one fresh row per part entry (of the list, or of manifest
// lines). Throws std::bad_alloc when memory runs out; the table is then as it was.
void FillDownloadTable(TextTable& table, const QList<ManifestPart>& parts);
void FillDownloadTable(TextTable& table, const ManifestLines& lines);

// Rows whose CRC OK is "G", times 100, divided by the number of rows, truncated; 0 for
// an empty table. Always 0..100 (the gauge's range). From the counts, or by counting.
int CompletionPercentage(qint64 goodRows, qint64 rows);
int CompletionPercentage(const TextTable& table);
