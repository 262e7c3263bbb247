#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

struct JoinResult {
    bool ok = false;
    uint32_t crc = 0;   // CRC-32 of the output file as it stands after the join, when ok
    qint64 bytes = 0;   // bytes written to the output, also when a part failed
    QString error;      // the message to show, when not ok
};

// Bytes written so far and the sum of the parts' sizes; called on the calling thread
// after every block, so a front end can show how far the join is.
using JoinProgress = std::function<void(qint64 done, qint64 total)>;

// Creates (or truncates) the output and appends the part files to it in order. The copy
// is in-kernel where the file systems allow it; a second thread reads the output right
// behind the copy and takes its CRC-32, so the CRC is the one of the bytes that landed in
// the file, at little more than the cost of the copy. Bounded buffers whatever the sizes.
// A part that cannot be opened or read (missing, a directory, no permission) stops the
// join with a message naming that part; the output is closed and holds the parts copied
// so far.
JoinResult JoinParts(const QStringList& partFiles, const QString& outputFile, const JoinProgress& progress = {});
