#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

struct JoinResult {
    bool ok = false;
    uint32_t crc = 0;   // CRC-32 of the joined bytes, when ok
    qint64 bytes = 0;   // bytes written to the output, also when a part failed
    QString error;      // the message to show, when not ok
};

// Creates (or truncates) the output and appends the part files to it in order. The copy
// is in-kernel where the file systems allow it; the CRC-32 of the parts is taken beside
// it on a second thread, so the joined file is never read back. Bounded buffers whatever
// the sizes. A part that cannot be opened or read stops the join; the output is closed
// and holds the parts copied so far.
JoinResult JoinParts(const QStringList& partFiles, const QString& outputFile);
