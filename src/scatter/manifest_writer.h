#pragma once

#include "common/user_prompt.h"
#include "scatter/splitter.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class ManifestLines;
class TextTable;

// The window's inputs that "Make PWQ" puts into a manifest besides the upload table.
struct ManifestInputs {
    QString sourcePath;  // Edit1: the file that was split
    int partCount = 0;   // splitnumber, written as it stands
    QString userName;    // edtfinusername: the comment line
    QString comment;     // edtComment: the description line
    // The source's CRC when the split that made the rows took it; else the file is read.
    std::optional<uint32_t> fileCrc;
    // The strong split (recovery parts or SHA-256) that made the rows: the manifest is
    // then version 2, with its SHA-256 texts and the source's CRC and SHA-256.
    const SplitOutcome* strongSplit = nullptr;
};

// Make PWQ (`btnMainClick`, steps before the write): replaces `mempwq` with the
// manifest of the upload table: signature, version, the source's file name and CRC
// (the one given, else read from the file: "00000000" when it cannot be read), the part count, one URL/size/CRC entry per row
// (Site + the part file's name, Size, CRC, as the row holds them, "?" and
// "Do Not Upload" included), the comment and the description.
// With a strong split given, the manifest is version 2 instead (ManifestV2Lines): the
// data rows in order, then the recovery rows, each URL, size and CRC as above with the
// split's SHA-256; the part count is the number of data rows and the file name that of
// the split's source. Throws UserError when the rows are not those of the split.
void MakeManifestLines(const ManifestInputs& inputs, const TextTable& uploadTable, ManifestLines& mempwq);

// The save dialog of Write PWQ: "Save PWQ file as:", "PWQ (*.pwq)", extension "pwq",
// proposing the part files' base name (edtfilename) + ".pwq".
UserPrompt::FileDialog WritePwqDialog(const QString& baseName);

// Writes the lines to a file (replaced whole), each followed by CR LF, UTF-8. The old
// file stays intact when the write fails. False and the message in `error` on failure.
bool WriteManifestFile(const QStringList& lines, const QString& path, QString& error);

// Write PWQ (`btnwritepwqClick`): asks for the file and writes `mempwq` to it. Nothing is
// written when the user cancels; a failure is reported. `mempwq` keeps its lines either
// way, so "Make PWQ" can be repeated. True when a file was written.
bool WritePwq(const ManifestLines& mempwq, const QString& baseName, UserPrompt& prompt);
