#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "coding/sha256.h"

#include <cstdint>
#include <functional>
#include <optional>

class TextTable;

// The part counts the window's spin box offers and the split accepts.
constexpr int MinSplitParts = 1;
constexpr int MaxSplitParts = 1000;
// Recovery parts: with them, k + m is at most kMaxCodingParts (255).
constexpr int MaxRecoveryParts = 254;

// Sizes of a split of `total` bytes into `parts` parts: parts 1..n-1 hold partSize
// bytes, part n holds lastSize. lastSize is negative when the file has too few bytes
// for every part but the last (10 bytes into 7 parts): such a split is refused.
// A negative total (no file) or a part count below 1 also gives a negative lastSize.
struct PartSizes {
    qint64 partSize = 0;
    qint64 lastSize = 0;
};
PartSizes ComputePartSizes(qint64 total, int parts);

// Size of the ordinary file at the exact path (symbolic links followed); -1 when the
// path names no ordinary file: missing, a directory, a device, pipe or socket, or a
// hidden file, which on Linux is one whose own name starts with "." (only the last
// path component counts, as a directory search for the path would see it).
qint64 FileSizeOf(const QString& path);

// The text without * & ^ blank $ ! @ ( ) + " and '.
QString RemoveSpecialChars(const QString& text);

// Base name that Browse proposes for a source path: its file name through
// RemoveSpecialChars, without the extension ("My Movie (1).avi" -> "MyMovie1").
QString ProposedBaseName(const QString& sourcePath);

// savePath + file name of the source + ".uldir/". The save path is a plain prefix.
QString UploadDirectory(const QString& savePath, const QString& sourcePath);

// uploadDir + base + decimal index + "." + ext.
QString PartFilePath(const QString& uploadDir, const QString& base, int index, const QString& ext);
// Recovery part j (from 1): uploadDir + base + "r" + j + "." + ext.
QString RecoveryPartFilePath(const QString& uploadDir, const QString& base, int index, const QString& ext);

// The page's label texts for a source path and part count: "Total Size: ",
// "Part Size: ", "Last File Part Size: " with what can be known. A figure that cannot
// be known shows as "?": all three when the path names no ordinary file (FileSizeOf
// is -1); part and last size when no split of that many parts exists (the part count
// is below 1, or the file has too few bytes for it: 10 bytes into 7 parts).
struct SplitLabels {
    QString totalSize;
    QString partSize;
    QString lastSize;
};
SplitLabels DescribeSplit(const QString& sourcePath, int parts);

// The whole-file CRC label "CRC:= XXXXXXXX" that Browse shows; "CRC:= 00000000" when
// the file cannot be read.
QString SourceCrcLabel(const QString& sourcePath);

// "Split File": writes the part files into the upload directory and refills the upload
// table with one row per part. Throws UserError with the message to show when the split
// is refused or fails; part files already written and their rows stay.
// Refused before anything is written (no directory made, table untouched): a part
// count outside MinSplitParts..MaxSplitParts, a source that FileSizeOf does not find
// or that cannot be opened for reading, a split that the file is too small for
// (ComputePartSizes gives a negative lastSize), a base name or extension holding "/"
// or NUL (the part would land outside the upload directory), and a part file that
// would be the source file itself.
// A progress callback, when given, hears after every block copied how many bytes of the
// source are split, of how many, and which part (from 1) is being written. Returns the
// CRC-32 of the whole source as the parts hold it.
//
// Recovery parts (m of them, any k of the k + m parts rebuild the file) or a SHA-256 make
// a coded split (see CodedSplit): the same data parts, then m recovery part files
// (RecoveryPartFilePath) of the part size in the same folder, one row each after the
// data rows, and the SplitOutcome holds every row's SHA-256. Also refused
// then: m outside 0..MaxRecoveryParts, k + m above 255. Its progress counts the source's
// bytes and then the recovery parts' (m x the part size), parts numbered 1..k + m.
// Without data part files (writeDataParts false), only the recovery parts are written:
// data part i stays the byte range [(i - 1) x part size, + its size) of the source, and
// its row names the file it would have been.
struct SplitRequest {
    QString sourcePath;
    int parts = 3;
    QString baseName;
    QString extension;
    QString savePath;
    int recoveryParts = 0;
    bool sha256 = false;
    bool writeDataParts = true;

    // A split other than the plain one: it goes through the split encoder.
    bool coded() const { return recoveryParts != 0 || sha256 || !writeDataParts; }
    // Its rows carry SHA-256, and its manifest is version 2.
    bool strong() const { return recoveryParts != 0 || sha256; }
};
using SplitProgress = std::function<void(qint64 done, qint64 total, int part)>;
uint32_t SplitFile(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress = {});

// What the manifest needs of a split besides the rows it made, in the rows' order.
struct SplitOutcome {
    QString sourcePath;
    uint32_t fileCrc = 0;
    // The whole source's SHA-256 and each row's, when the split is strong.
    std::optional<Sha256Digest> fileSha256;
    QStringList partSha256;
    int dataParts = 0;
    int recoveryParts = 0;

    // The one rule that tells the rows apart: the recovery rows follow the data rows.
    bool isRecoveryRow(int row) const { return row >= dataParts && row < dataParts + recoveryParts; }
};
SplitOutcome SplitSource(const SplitRequest& request, TextTable& uploadTable, const SplitProgress& progress = {});
