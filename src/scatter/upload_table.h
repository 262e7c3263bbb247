#pragma once

#include "common/text_table.h"

// The upload table: one row per part file of the last split.
namespace UploadColumn {
enum : int {
    Filename = 0,  // full path of the part file (the row's caption)
    Site,          // web address of the assigned site, "?" or "Do Not Upload"
    Size,          // part size in bytes, decimal (hidden)
    Crc,           // part CRC, 8 hex digits (hidden)
    FtpSite,       // FTP host of the assigned site (hidden)
    UserName,      // (hidden)
    Password,      // (hidden)
    Progress,      // "?", "Starting...", "NN%", "100%"
    Status,        // "?", "--", or the final reply code of the store
    Count
};
}

QList<TextColumn> UploadTableColumns();

// The Progress text of a part sent whole.
inline const QString kUploadSent = QStringLiteral("100%");

// The Progress text of a part of `size` bytes with `sent` of them sent: the whole
// percentage, truncated, and "%". An empty part has nothing left to send: "100%".
QString UploadPercent(qint64 sent, qint64 size);
