#pragma once

#include <array>
#include <cstdint>

// Lookup tables of the reflected polynomial 0xEDB88320, computed by the compiler so the
// program carries them as constants. Slice k maps a byte b to the register after b is
// followed by k zero bytes; slice 0 is the standard 256-entry table.
namespace crc32_detail {

inline constexpr uint32_t kReflectedPolynomial = 0xEDB88320u;

using Crc32Slices = std::array<std::array<uint32_t, 256>, 16>;

constexpr Crc32Slices makeCrc32Slices() {
    Crc32Slices t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit)
            r = (r >> 1) ^ ((r & 1u) ? kReflectedPolynomial : 0u);
        t[0][i] = r;
    }
    for (std::size_t k = 1; k < t.size(); ++k)
        for (std::size_t i = 0; i < 256; ++i)
            t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    return t;
}

inline constexpr Crc32Slices kCrc32Slices = makeCrc32Slices();
inline constexpr const std::array<uint32_t, 256>& kCrc32Table = kCrc32Slices[0];

static_assert(kCrc32Table[1] == 0x77073096u);
static_assert(kCrc32Table[128] == 0xEDB88320u);
static_assert(kCrc32Table[255] == 0x2D02EF8Du);

}  // namespace crc32_detail
