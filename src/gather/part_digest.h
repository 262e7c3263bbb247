#pragma once

#include "coding/sha256.h"

#include <QtGlobal>
#include <cstdint>
#include <optional>

// What a finished download left in its part file, as the verdict on the part takes it:
// from the sequential write (PartFile::digest) or from any other way of writing the file
// (ranges written at their offsets, their CRCs combined).
struct PartDigest {
    qint64 size = -1;      // the file's size on disk; -1 when it could not be seen
    qint64 crcBytes = 0;   // how many bytes the CRC covers: the whole file when equal to size
    uint32_t crc = 0;      // their CRC-32
    // Their SHA-256 when it is at hand already; without it a version-2 part is read back
    // beside the event loop before its verdict.
    std::optional<Sha256Digest> sha256;
};
