#pragma once

#include <cstdint>
#include <optional>

// How a file of F bytes lies in k data parts and m recovery parts.
//
// Every part is P = ceil(F / k) bytes long except the last data part, which holds what
// is left: F - (k - 1) P, from 0 to P bytes (0 when F = 10 and k = 6: five parts of 2
// bytes and an empty one; P when k divides F; P = F when k = 1; every part empty when
// F = 0). Data part j (from 0) is the byte range [j P, j P + size) of the file. Recovery
// parts are P bytes: byte o of each is coded from byte o of every data part, the last
// data part counting as zero-padded to P (the padding is never stored). These are the
// sizes a split makes, so a manifest that states others is refused.

// k + m at most: the coding takes k + m distinct elements of GF(2^8), and the format
// keeps one of its 256 in reserve.
inline constexpr int kMaxCodingParts = 255;
// F at most (4 EiB): every offset plus a part size then stays below 2^63.
inline constexpr std::int64_t kMaxCodedFileSize = std::int64_t{1} << 62;

struct CodingLayout {
    std::int64_t fileSize = 0;
    int dataParts = 1;      // k
    int recoveryParts = 0;  // m
    std::int64_t partSize = 0;  // P
    std::int64_t lastSize = 0;  // the last data part's size, 0..P

    std::int64_t dataPartSize(int j) const { return j + 1 < dataParts ? partSize : lastSize; }
    std::int64_t dataPartOffset(int j) const { return partSize * j; }

    bool operator==(const CodingLayout&) const = default;
};

// The one rule for part sizes, with no limit on the number of parts (a split without
// recovery parts takes up to 1000): P = ceil(F / k) and the last part what is left,
// negative when F is too small for k parts of P bytes but the last. F >= 0 and k >= 1.
CodingLayout PartSizeRule(std::int64_t fileSize, int dataParts);

// The layout, or nothing when the numbers admit none: k below 1, m below 0, k + m above
// kMaxCodingParts, F below 0 or above kMaxCodedFileSize, or a file too small for k parts
// of P bytes but the last (10 bytes into 7 parts: 6 parts of 2 would need 12).
std::optional<CodingLayout> MakeCodingLayout(std::int64_t fileSize, int dataParts, int recoveryParts);
