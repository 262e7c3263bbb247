#include "coding/coding_layout.h"

std::optional<CodingLayout> MakeCodingLayout(std::int64_t fileSize, int dataParts, int recoveryParts) {
    if (dataParts < 1 || recoveryParts < 0 || dataParts > kMaxCodingParts - recoveryParts)
        return std::nullopt;
    if (fileSize < 0 || fileSize > kMaxCodedFileSize)
        return std::nullopt;
    CodingLayout layout;
    layout.fileSize = fileSize;
    layout.dataParts = dataParts;
    layout.recoveryParts = recoveryParts;
    layout.partSize = fileSize / dataParts + (fileSize % dataParts != 0 ? 1 : 0);
    layout.lastSize = fileSize - layout.partSize * (dataParts - 1);
    if (layout.lastSize < 0)
        return std::nullopt;
    return layout;
}
