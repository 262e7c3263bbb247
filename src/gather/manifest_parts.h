#pragma once

#include "common/manifest_format.h"
#include "common/manifest_v2.h"

#include <QList>
#include <QString>
#include <QStringList>

// One part entry of a manifest, as written: URL, size in bytes and CRC, all text.
struct ManifestPart {
    QString url;
    QString size;
    QString crc;
};

// The number of part entries in manifest lines (empty lines already dropped): from the
// sixth line on, three lines each, one per complete group. The two trailing lines
// (comment and description) never complete a group; the part-count line is not
// consulted.
int ManifestPartCount(const ManifestLines& lines);
// Those entries, in order.
QList<ManifestPart> ManifestParts(const ManifestLines& lines);
QList<ManifestPart> ManifestParts(const QStringList& lines);
// The index of entry j's line: `field` 0 its URL, 1 its size, 2 its CRC.
int ManifestPartLine(int entry, int field);
// The checks below on lines as the window holds them. After the version line comes the
// number of parts: at most MaxManifestParts, counted by the entries and by the
// part-count line where that is a number, so the largest table is known before a row
// is made.
QString ManifestRefusal(const ManifestLines& lines);

// Why lines may not fill the download table, as the message to show; empty when they
// may. Checked in this order: the signature line, the version line, then the names of
// the files a gather would create (the file-name line and each part's local name, which
// must be plain and differ from the other parts' local names). Lines of version 2 go to
// ManifestV2Refusal; any other version than 1 and 2 is refused with the version message.
QString ManifestRefusal(const QStringList& lines);

// Line 1 is the signature and line 2 the text "2".
bool IsManifestV2(const ManifestLines& lines);
// Version 2: its strict reader (ParseManifestV2, which also bounds the parts to 255),
// then the names as for version 1, the recovery parts' local names included: plain, and
// no two parts of either kind with one local name. Empty, and the manifest in
// `manifest`, when the lines may fill the table.
QString ManifestV2Refusal(const ManifestLines& lines, ManifestV2& manifest);
// A version-2 part as a table row takes it: its size and CRC as text.
ManifestPart ManifestPartOf(const ManifestV2Part& part);
