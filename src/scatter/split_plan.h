#pragma once

#include "coding/coding_layout.h"
#include "common/safe_folder.h"
#include "scatter/split_reader.h"
#include "scatter/splitter.h"

#include <QString>

#include <memory>

// What every split checks and opens before it writes a byte: the request against the
// source's size, the part names, the source open for reading and the upload folder open
// (never through a link; not opened, and not made, when the split writes no file at
// all). Refused (UserError) before anything is created, so that a refused split leaves
// no folder behind and the upload table as it was.
struct SplitPlan {
    std::unique_ptr<SplitReader> reader;
    SafeFolder folder;
    QString uploadDir;
    // k data parts and m recovery parts of the source; k may pass 255 when m is 0.
    CodingLayout layout;
    QString baseName;
    QString extension;

    QString dataPath(int index) const { return PartFilePath(uploadDir, baseName, index, extension); }
    QString recoveryPath(int index) const { return RecoveryPartFilePath(uploadDir, baseName, index, extension); }
    // A path above, as a name in the upload folder.
    QString nameInFolder(const QString& path) const { return path.mid(uploadDir.size()); }
};

SplitPlan PlanSplit(const SplitRequest& request);
