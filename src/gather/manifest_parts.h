#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One part entry of a manifest, as written: URL, size in bytes and CRC, all text.
struct ManifestPart {
    QString url;
    QString size;
    QString crc;
};

// The part entries of manifest lines (empty lines already dropped): from the sixth line
// on, three lines each, one per complete group. The two trailing lines (comment and
// description) never complete a group; the part-count line is not consulted.
QList<ManifestPart> ManifestParts(const QStringList& lines);

// Why lines may not fill the download table, as the message to show; empty when they
// may. Checked in this order: the signature line, the version line, then the names of
// the files a gather would create (the file-name line and each part's local name, which
// must be plain and differ from the other parts' local names).
QString ManifestRefusal(const QStringList& lines);
