#pragma once

#include <QtGlobal>
#include <cstdint>

// What a finished download knows of its part file when the file is judged: its size,
// and the CRC-32 of its bytes when that CRC is known to cover exactly the bytes in the
// file. A download that wrote its bytes out of order (in ranges) or kept bytes from an
// earlier one knows no SHA-256: a step that needs one reads the file back.
struct PartDigest {
    qint64 size = -1;        // the file's size when it was closed; -1 when it could not be seen
    bool crcKnown = false;   // crc32 is the CRC of the file's bytes, in order
    uint32_t crc32 = 0;
    bool sha256Known = false;
};
