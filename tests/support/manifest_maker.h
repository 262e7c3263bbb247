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
