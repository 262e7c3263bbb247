#pragma once

#include "coding/coding_layout.h"
#include "coding/sha256.h"
#include "common/unique_fd.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <vector>

class SafeFolder;

// The data parts of a version-2 manifest that are missing, rebuilt into their part files
// from any k parts at hand (RecoveryDecoder), with the CRC-32 and SHA-256 of each as it is
// written. Parts are numbered as the decoder numbers them: data parts 0..k-1, recovery
// parts k..k+m-1.
//
// It works in stripes: the same S bytes at offset o of each of the k parts (a short last
// data part zero-padded), decoded into the stripes of the missing parts, written at o.
// Memory is k + f stripes of S = min(1 MiB, 24 MiB / (k + f)) bytes (4 KiB at least)
// whatever the sizes: 12 MiB for 10 parts at hand and 2 rebuilt. It blocks its caller for
// as long as reading the parts takes: the gather runs it on a thread of its own.
struct ReconstructionFiles {
    std::vector<int> present;           // k part numbers
    std::vector<UniqueFd> parts;        // their files, open for reading, in that order
    std::vector<int> missing;           // the data parts to rebuild (RecoveryDecoder::missingData)
    std::vector<UniqueFd> rebuilt;      // new files for them, open for writing, in that order
    QStringList partNames, rebuiltNames;  // the same files' paths, for messages
};

struct RebuiltPart {
    int part = 0;  // data part number, from 0
    qint64 size = 0;
    uint32_t crc = 0;
    Sha256Digest sha256{};
};

struct ReconstructionResult {
    QString error;  // empty when every missing part was written
    std::vector<RebuiltPart> parts;
};

// Opens what ReconstructParts needs in the parts folder: the parts at hand by their local
// names (never through a link) and new files for the missing ones. False, with the
// message in `error`, when one cannot be opened or made.
bool OpenReconstructionFiles(const SafeFolder& folder, const std::vector<int>& present, const std::vector<int>& missing,
                             const QStringList& localNames, ReconstructionFiles& files, QString& error);

// Rebuilds the missing parts; stops early, with an error, once `cancel` is set.
ReconstructionResult ReconstructParts(const CodingLayout& layout, ReconstructionFiles& files,
                                      const std::atomic<bool>* cancel = nullptr);

// The recovery parts among `present`, as the log and the row name what a part was rebuilt
// from: "recovery part 1", "recovery parts 1 and 2", "recovery parts 1, 2 and 3".
QString RebuiltFromText(const std::vector<int>& present, int dataParts);
