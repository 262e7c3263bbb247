#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One part a manifest names, as whoever checks or fetches the parts takes it.
struct ManifestEntry {
    QString url;
    qint64 size = -1;       // bytes; -1 when a version-1 size line is no number
    QString crc;            // CRC-32 as the manifest writes it (8 hex digits)
    bool recovery = false;  // a recovery part of a version-2 manifest
};

// The parts of a manifest of either version: the data parts in file order, then (version
// 2) the recovery parts, any dataParts of which rebuild the file.
struct ManifestEntries {
    int version = 1;
    int dataParts = 0;
    int recoveryParts = 0;
    QList<ManifestEntry> parts;
};

// Reads manifest lines (empty lines already dropped). Returns the refusal, the message to
// show, or an empty text and the parts in `entries` (left as they were on a refusal).
// Version 1 is refused as a gather refuses it (ManifestRefusal, local part names
// included); version 2 by its strict reader (ParseManifestV2).
QString ReadManifestEntries(const QStringList& lines, ManifestEntries& entries);
