#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The CRC text of bytes, as manifests and the download table hold it.
QString CrcTextOf(const QByteArray& bytes);

// The lines of a manifest for a file made of `parts` in order, part i fetched from
// urls[i]; `fileCrc` replaces the true whole-file CRC when not empty.
QStringList ManifestLinesFor(const QString& fileName, const QList<QByteArray>& parts, const QStringList& urls,
                             const QString& fileCrc = QString());

// Lines as a manifest file holds them: CR LF after each.
QByteArray ManifestFileText(const QStringList& lines);

// A file in k data parts and m recovery parts, coded as a split codes them, and the lines
// of its version-2 manifest; part i (data parts first) is fetched from urls[i].
struct CodedFile {
    QList<QByteArray> parts;
    QStringList lines;
};
CodedFile CodedManifestFor(const QString& fileName, const QByteArray& file, int k, int m, const QStringList& urls);

// Other bytes of the same length and the same CRC-32 (at least 5 bytes): the first byte
// changed, the last four chosen to bring the CRC back, as a hostile host can.
QByteArray SameCrcOtherBytes(const QByteArray& original);
