#pragma once

#include <cstdint>

// Constants of carry-less-multiply folding for the reflected CRC-32, derived from the
// polynomial by the compiler rather than copied in.
//
// A 128-bit block of the message stands for A(x), its first bit the highest power.
// Moving a 64-bit half H forward by D bits means multiplying by x^D, and modulo P the
// factor can be replaced by x^D mod P, a 32-bit constant. In the bit-reflected domain
// the carry-less product of a 64-bit half and a 33-bit constant lands 32 bits lower
// than the block layout expects, and one more bit lower because the product of two
// reflected numbers is one bit short; so the constant for a move of n bits is
// reflect32(x^(n-32) mod P) shifted left by one, and the two halves of a block, 64
// bits apart, use x^(D+32) and x^(D-32).
namespace crc32_detail {

inline constexpr uint64_t kNormalPolynomial = 0x104C11DB7u;  // with its x^32 term

// x^n mod P in normal bit order (bit i is the coefficient of x^i).
constexpr uint32_t xPowModP(unsigned n) {
    uint32_t r = 1;
    for (unsigned i = 0; i < n; ++i)
        r = (r << 1) ^ ((r & 0x80000000u) ? static_cast<uint32_t>(kNormalPolynomial) : 0u);
    return r;
}

constexpr uint64_t reflectBits(uint64_t v, unsigned width) {
    uint64_t r = 0;
    for (unsigned i = 0; i < width; ++i)
        if (v & (uint64_t{1} << i))
            r |= uint64_t{1} << (width - 1 - i);
    return r;
}

// Folding constant for a move of n bits (see above).
constexpr uint64_t foldConstant(unsigned n) { return reflectBits(xPowModP(n - 32), 32) << 1; }

// Quotient of x^64 by P (degree 32), for the final Barrett reduction.
constexpr uint64_t x64DivP() {
    uint64_t quotient = 0;
    uint64_t window = uint64_t{1} << 32;  // the top 33 dividend bits: x^64 .. x^32
    for (int bit = 32; bit >= 0; --bit) {
        if (window & (uint64_t{1} << 32)) {
            quotient |= uint64_t{1} << bit;
            window ^= kNormalPolynomial;
        }
        window <<= 1;  // the remaining dividend bits are zero
    }
    return quotient;
}

struct FoldConstants {
    // Pairs for one 128-bit block moved forward by D bits: x^(D+32) for its first
    // (low) quadword, x^(D-32) for its second.
    uint64_t by2048[2];  // 4 x 512-bit accumulators, 256 bytes a step
    uint64_t by512[2];   // 4 x 128-bit accumulators, 64 bytes a step
    uint64_t by384[2];
    uint64_t by256[2];
    uint64_t by128[2];
    uint64_t x64;          // 128 -> 64 bit step: x^64 mod P
    uint64_t barrettMu;    // reflect33(x^64 div P)
    uint64_t barrettPoly;  // reflect33(P)
};

constexpr FoldConstants makeFoldConstants() {
    FoldConstants c{};
    const auto pair = [](uint64_t (&out)[2], unsigned d) {
        out[0] = foldConstant(d + 64);
        out[1] = foldConstant(d);
    };
    pair(c.by2048, 2048);
    pair(c.by512, 512);
    pair(c.by384, 384);
    pair(c.by256, 256);
    pair(c.by128, 128);
    c.x64 = foldConstant(96);
    c.barrettMu = reflectBits(x64DivP(), 33);
    c.barrettPoly = reflectBits(kNormalPolynomial, 33);
    return c;
}

inline constexpr FoldConstants kFoldConstants = makeFoldConstants();

}  // namespace crc32_detail
