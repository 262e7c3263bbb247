#pragma once

#include "common/manifest_format.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// A manifest is a few hundred bytes; anything larger than this is not one, and holding
// it whole would only let a stray file or document exhaust memory.
constexpr qint64 kMaxManifestBytes = 64 * 1024 * 1024;

// The non-empty lines of a manifest's text, in order. CR LF, a lone CR and a lone LF
// each end a line: manifests written on other systems, or passed through a mail
// program, load alike whatever their line ends. Empty lines are dropped before anyone
// counts lines, so an empty comment line simply disappears. Text is UTF-8. Lines past
// the first one beyond the largest manifest (MaxManifestLines) are not kept: such a
// text is refused for its part count whatever follows, and its lines would otherwise
// cost memory in proportion to any stray file.
ManifestLines ManifestTextToLines(QByteArrayView text);
QStringList ManifestTextLines(const QByteArray& text);

// Reads a manifest file into its non-empty lines. A Ctrl-Z (character 26) ends the text
// as if the file ended there, as text files of the old platform did. False and the
// message to show in `error` when the file cannot be opened or read, or there is not
// memory enough to hold it; `lines` is then left as it was.
bool ReadManifestFile(const QString& path, ManifestLines& lines, QString& error);
bool ReadManifestFile(const QString& path, QStringList& lines, QString& error);
