#pragma once

#include "coding/coding_layout.h"
#include "coding/sha256.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

// The version-2 manifest: the file's parts with SHA-256 besides CRC-32, and the recovery
// parts that let any k of the k + m parts rebuild the file. Written only when recovery
// parts or a strong hash are asked for; docs/manifest-v2.md is its full description.
//
// Lines, counted from 1 after empty lines are dropped (as every reader does):
//   1 signature, 2 "2", 3 file name, 4 file CRC-32, 5 k (data parts), 6 m (recovery
//   parts), 7 file size in bytes, 8 file SHA-256; then per part, the k data parts first
//   and the m recovery parts after them, four lines: URL, size, CRC-32, SHA-256; then the
//   comment and the description, either of which may be empty and so absent.
// Lines 1 and 3 to 5 mean what they mean in version 1, and line 2 makes a version-1
// reader refuse the file with its version message. Numbers are decimal without sign,
// spaces or leading zeros; CRC-32 texts are 8 upper-case and SHA-256 texts 64 lower-case
// hexadecimal digits; sizes are those of CodingLayout.

inline constexpr char ManifestVersion2[] = "2";

struct ManifestV2Part {
    QString url;
    qint64 size = 0;
    uint32_t crc = 0;
    Sha256Digest sha256{};

    bool operator==(const ManifestV2Part&) const = default;
};

struct ManifestV2 {
    QString fileName;
    uint32_t fileCrc = 0;
    Sha256Digest fileSha256{};
    CodingLayout layout;              // k, m, P, the file size and the last part's size
    QList<ManifestV2Part> data;       // k entries, in file order
    QList<ManifestV2Part> recovery;   // m entries
    // With one of the two absent a reader cannot tell which: a single line after the
    // parts reads as the comment.
    QString comment;
    QString description;

    bool operator==(const ManifestV2&) const = default;
};

// Reads manifest lines (empty ones are skipped, as when loaded). Returns the refusal, a
// text naming the line and what is wrong with it, or an empty text and the manifest in
// `manifest` (left as it was on a refusal). Plain file names for the file and the parts
// are the gather's check, as for version 1.
QString ParseManifestV2(const QStringList& lines, ManifestV2& manifest);

// Every line of the manifest, the comment and description lines included even when
// empty, to be written each followed by CR LF. What it returns reads back as the same
// manifest. Throws UserError naming the line when it would not: counts, sizes or layout
// that do not agree, an empty URL or file name, a line break in any text.
QStringList ManifestV2Lines(const ManifestV2& manifest);
