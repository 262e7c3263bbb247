#pragma once

#include "common/manifest_format.h"

#include <QList>
#include <QString>
#include <QStringList>

// One part entry of a manifest, as written: URL, size in bytes and CRC, all text.
struct ManifestPart {
    QString url;
    QString size;
    QString crc;
};

// The number of part entries in manifest lines: one per complete group of three lines
// from the sixth line on; the two trailing lines (comment and description) never
// complete a group; the part-count line is not consulted.
int ManifestPartCount(const ManifestLines& lines);
// Those part entries (empty lines already dropped), in order.
QList<ManifestPart> ManifestParts(const ManifestLines& lines);
// Entry j's first line (URL), second (size) and third (CRC), from 0.
int ManifestPartLine(int entry, int field);

// Why lines may not fill the download table, as the message to show; empty when they
// may. Checked in this order: the signature line, the version line, the number of
// parts (at most MaxManifestParts, by the entries and by the part-count line), then
// the names of the files a gather would create (the file-name line and each part's
// local name).
QString ManifestRefusal(const ManifestLines& lines);
