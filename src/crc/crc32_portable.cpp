// Portable CRC-32 kernels: the byte-wise reference and slicing-by-16.
#include "crc/crc32_impl.h"
#include "crc/crc32_table.h"

#include <bit>
#include <cstring>

namespace crc32_detail {

uint32_t crc32Bytewise(uint32_t crc, const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ kCrc32Table[(crc ^ data[i]) & 0xFFu];
    return crc;
}

namespace {

inline uint32_t loadLe32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = ((v & 0xFFu) << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | (v >> 24);
    return v;
}

}  // namespace

uint32_t crc32Slice16(uint32_t crc, const unsigned char* data, std::size_t size) {
    const auto& t = kCrc32Slices;
    while (size >= 16) {
        const uint32_t a = loadLe32(data) ^ crc;
        const uint32_t b = loadLe32(data + 4);
        const uint32_t c = loadLe32(data + 8);
        const uint32_t d = loadLe32(data + 12);
        // Byte j of the block is followed by 15 - j more bytes of it.
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        data += 16;
        size -= 16;
    }
    return crc32Bytewise(crc, data, size);
}

}  // namespace crc32_detail
