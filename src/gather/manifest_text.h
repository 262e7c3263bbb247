#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A manifest is a few hundred bytes; anything larger than this is not one, and holding
// it whole would only let a stray file or document exhaust memory.
constexpr qint64 kMaxManifestBytes = 64 * 1024 * 1024;

// The non-empty lines of a manifest's text, in order. CR LF, a lone CR and a lone LF
// each end a line: manifests written on other systems, or passed through a mail
// program, load alike whatever their line ends. Empty lines are dropped before anyone
// counts lines, so an empty comment line simply disappears. Text is UTF-8.
QStringList ManifestTextLines(const QByteArray& text);

// Reads a manifest file into its non-empty lines. A Ctrl-Z (character 26) ends the text
// as if the file ended there, as text files of the old platform did. False and the
// message to show in `error` when the file cannot be opened or read; `lines` is then
// left as it was.
bool ReadManifestFile(const QString& path, QStringList& lines, QString& error);
