#pragma once

#include "common/manifest_v2.h"

#include <QString>
#include <QStringList>
#include <vector>

class SafeFolder;

// The parts of a version-2 manifest as they lie in a parts folder, for the command-line
// tool's show and rebuild, which work offline: each part good (its file has the size,
// CRC-32 and SHA-256 of its entry), wrong, or missing. Checked one after another on the
// calling thread, each file read once.
struct PartsOnDisk {
    enum State { Missing, Wrong, Good };
    std::vector<State> state;  // per part: the k data parts, then the m recovery parts
    int goodData = 0;
    int goodRecovery = 0;
};

// `folder` may be invalid (no parts folder): every part is then missing.
PartsOnDisk CheckPartsOnDisk(const SafeFolder& folder, const ManifestV2& manifest);

// "2 of 10 data parts and 1 of 2 recovery parts are lost: cannot rebuild"
QString PartsLostMessage(int lostData, int dataParts, int lostRecovery, int recoveryParts);

// Rebuilds the data parts that are not good from k good parts (data parts first), into
// their part files, and checks each by CRC-32 and SHA-256. Appends one line per part
// ("part 3 rebuilt from recovery parts 1 and 2"). False, with the message in `error`,
// when fewer than k parts are good, a file cannot be read or written, or a rebuilt part
// is wrong; the parts that were good stay as they were.
bool RebuildMissingParts(const SafeFolder& folder, const ManifestV2& manifest, const PartsOnDisk& onDisk,
                         QStringList& lines, QString& error);
