#include "coding/coding_layout.h"

std::optional<CodingLayout> MakeCodingLayout(std::int64_t fileSize, int dataParts, int recoveryParts) {
    if (dataParts < 1 || recoveryParts < 0 || dataParts > kMaxCodingParts - recoveryParts)
        return std::nullopt;
    if (fileSize < 0 || fileSize > kMaxCodedFileSize)
        return std::nullopt;
    CodingLayout layout = PartSizeRule(fileSize, dataParts);
    layout.recoveryParts = recoveryParts;
    if (layout.lastSize < 0)
        return std::nullopt;
    return layout;
}

CodingLayout PartSizeRule(std::int64_t fileSize, int dataParts) {
    CodingLayout layout;
    layout.fileSize = fileSize;
    layout.dataParts = dataParts;
    // Rounded up, so that every part but the last is full.
    layout.partSize = fileSize / dataParts + (fileSize % dataParts != 0 ? 1 : 0);
    layout.lastSize = fileSize - layout.partSize * (dataParts - 1);
    return layout;
}
