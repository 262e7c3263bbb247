#pragma once

#include "coding/sha256.h"
#include "common/unique_fd.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

class SafeFolder;

struct JoinResult {
    bool ok = false;
    uint32_t crc = 0;   // CRC-32 of the output file as it stands after the join, when ok
    Sha256Digest sha256{};  // its SHA-256, when asked for and ok
    qint64 bytes = 0;   // bytes written to the output, also when a part failed
    QString error;      // the message to show, when not ok
};

// Bytes written so far and the sum of the parts' sizes; called on the calling thread
// after every block, so a front end can show how far the join is.
using JoinProgress = std::function<void(qint64 done, qint64 total)>;

// Appends the part files `names` of the parts folder, in order, to the output (a new
// file, open for reading and writing, closed here). The copy is in-kernel where the file
// systems allow it; a second thread reads the output right behind the copy and takes its
// CRC-32, so the CRC is the one of the bytes that landed in the file, at little more
// than the cost of the copy; asked for it (`sha256`), the same thread takes the SHA-256
// too, and while it catches up after the copy `progress` is called again every few
// milliseconds with the last figures, so a caller that turns its event loop there
// never stalls. Bounded buffers whatever the sizes. A part is never read
// through a link planted in its place. A part that cannot be opened or read (missing, a
// directory, a link, no permission) stops the join with a message naming that part;
// the output then holds the parts copied so far. `outputPath` names the output in
// messages.
JoinResult JoinParts(const SafeFolder& parts, const QStringList& names, UniqueFd output, const QString& outputPath,
                     const JoinProgress& progress = {}, bool sha256 = false);
