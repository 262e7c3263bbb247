#pragma once

#include "coding/sha256.h"

#include <QtGlobal>
#include <cstdint>
#include <optional>

// What a finished download knows of its part file when the file is judged: its size,
// and the CRC-32 of its bytes when that CRC is known to cover exactly the bytes in the
// file. Only the sequential write of a whole part (PartFile) has its SHA-256 taken
// behind it; a download that wrote its bytes out of order (in ranges) or kept bytes from
// an earlier one knows none: a version-2 part is then read back beside the event loop
// before its verdict.
struct PartDigest {
    qint64 size = -1;        // the file's size when it was closed; -1 when it could not be seen
    bool crcKnown = false;   // crc32 is the CRC of the file's bytes, in order
    uint32_t crc32 = 0;
    std::optional<Sha256Digest> sha256;
};
