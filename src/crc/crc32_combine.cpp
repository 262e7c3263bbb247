// Crc32Combine: the CRC of a concatenation without reading it again.
#include "crc/crc32.h"
#include "crc/crc32_table.h"

#include <array>

namespace {

using crc32_detail::kReflectedPolynomial;

// a times b modulo the polynomial, both in the register's reflected form (bit 31 is the
// coefficient of x^0). b is multiplied by x once per bit of a, lowest degree first, and
// the loop stops as soon as a has no higher terms left.
constexpr uint32_t multiplyModP(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (; a != 0; a <<= 1) {
        product ^= b & (0u - (a >> 31));
        b = (b >> 1) ^ (kReflectedPolynomial & (0u - (b & 1u)));
    }
    return product;
}

constexpr uint32_t kOne = 0x80000000u;  // x^0
constexpr uint32_t kX = 0x40000000u;    // x^1

// Entry i is x^(8 * 2^i) mod P: moving a CRC past 2^i bytes. 64 entries cover every
// 64-bit length, so a move costs one multiplication per set bit of the length.
constexpr std::array<uint32_t, 64> makeBytePowers() {
    std::array<uint32_t, 64> powers{};
    uint32_t p = kX;
    for (int square = 0; square < 3; ++square)
        p = multiplyModP(p, p);
    for (auto& entry : powers) {
        entry = p;
        p = multiplyModP(p, p);
    }
    return powers;
}

constexpr std::array<uint32_t, 64> kBytePowers = makeBytePowers();

}  // namespace

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
    // The initial and final inversions of the three CRCs cancel out: only crcA moves.
    uint32_t shift = kOne;
    for (int i = 0; lengthB != 0; ++i, lengthB >>= 1)
        if (lengthB & 1u)
            shift = multiplyModP(shift, kBytePowers[static_cast<std::size_t>(i)]);
    return multiplyModP(shift, crcA) ^ crcB;
}
