// CRC-32 by carry-less-multiply folding: PCLMULQDQ on 128-bit blocks, and VPCLMULQDQ
// with AVX-512 on 512-bit blocks. Each function carries its own target attribute, so
// the rest of the build needs no special flags; Crc32Update picks one at run time.
#include "crc/crc32_clmul.h"

#if PW_CRC32_HAVE_CLMUL

#include "crc/crc32_fold_constants.h"
#include "crc/crc32_impl.h"

#include <cpuid.h>
#include <immintrin.h>

#define PW_TARGET_CLMUL __attribute__((target("pclmul,sse4.1")))
#define PW_TARGET_VCLMUL __attribute__((target("pclmul,sse4.1,avx512f,avx512vl,avx512bw,vpclmulqdq")))

namespace crc32_detail {

namespace {

constexpr const FoldConstants& k = kFoldConstants;

PW_TARGET_CLMUL inline __m128i constantPair(const uint64_t (&pair)[2]) {
    return _mm_set_epi64x(static_cast<long long>(pair[1]), static_cast<long long>(pair[0]));
}

// Moves a block forward by the distance its constant pair stands for.
PW_TARGET_CLMUL inline __m128i fold128(__m128i block, __m128i constants) {
    return _mm_xor_si128(_mm_clmulepi64_si128(block, constants, 0x00), _mm_clmulepi64_si128(block, constants, 0x11));
}

PW_TARGET_CLMUL inline __m128i load128(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds the remaining whole 16-byte blocks into acc (advancing data and size past them),
// then reduces the 128 bits to the 32-bit register: 128 -> 64 bits by x^64 mod P, then
// Barrett. The last 0..15 bytes are left to the caller.
PW_TARGET_CLMUL uint32_t finish128(__m128i acc, const unsigned char*& data, std::size_t& size) {
    const __m128i by128 = constantPair(k.by128);
    while (size >= 16) {
        acc = _mm_xor_si128(fold128(acc, by128), load128(data));
        data += 16;
        size -= 16;
    }
    const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
    // 128 -> 96 bits: the first quadword moves onto the second.
    __m128i x = _mm_xor_si128(_mm_srli_si128(acc, 8), _mm_clmulepi64_si128(acc, by128, 0x10));
    // 96 -> 64 bits: the first 32 bits times x^64 mod P.
    const __m128i x64 = _mm_set_epi64x(0, static_cast<long long>(k.x64));
    x = _mm_xor_si128(_mm_srli_si128(x, 4), _mm_clmulepi64_si128(_mm_and_si128(x, low32), x64, 0x00));
    // Barrett: quotient estimate from mu, times P, cancels all but the remainder.
    const __m128i barrett = _mm_set_epi64x(static_cast<long long>(k.barrettMu), static_cast<long long>(k.barrettPoly));
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x00);
    return static_cast<uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, q), 1));
}

PW_TARGET_CLMUL uint32_t clmulBlocks(uint32_t crc, const unsigned char*& data, std::size_t& size) {
    __m128i x0 = _mm_xor_si128(load128(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = load128(data + 16);
    __m128i x2 = load128(data + 32);
    __m128i x3 = load128(data + 48);
    data += 64;
    size -= 64;
    const __m128i by512 = constantPair(k.by512);
    while (size >= 64) {
        x0 = _mm_xor_si128(fold128(x0, by512), load128(data));
        x1 = _mm_xor_si128(fold128(x1, by512), load128(data + 16));
        x2 = _mm_xor_si128(fold128(x2, by512), load128(data + 32));
        x3 = _mm_xor_si128(fold128(x3, by512), load128(data + 48));
        data += 64;
        size -= 64;
    }
    const __m128i by128 = constantPair(k.by128);
    __m128i acc = _mm_xor_si128(fold128(x0, by128), x1);
    acc = _mm_xor_si128(fold128(acc, by128), x2);
    acc = _mm_xor_si128(fold128(acc, by128), x3);
    return finish128(acc, data, size);
}

PW_TARGET_VCLMUL inline __m512i fold512(__m512i block, __m512i constants, __m512i next) {
    // 0x96: three-way XOR in one instruction.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(block, constants, 0x00),
                                     _mm512_clmulepi64_epi128(block, constants, 0x11), next, 0x96);
}

PW_TARGET_VCLMUL inline __m512i broadcastPair(const uint64_t (&pair)[2]) {
    const auto lo = static_cast<long long>(pair[0]);
    const auto hi = static_cast<long long>(pair[1]);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

PW_TARGET_VCLMUL inline __m512i load512(const unsigned char* p) { return _mm512_loadu_si512(p); }

PW_TARGET_VCLMUL uint32_t vclmulBlocks(uint32_t crc, const unsigned char*& data, std::size_t& size) {
    __m512i z0 = _mm512_xor_si512(load512(data), _mm512_castsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i z1 = load512(data + 64);
    __m512i z2 = load512(data + 128);
    __m512i z3 = load512(data + 192);
    data += 256;
    size -= 256;
    const __m512i by2048 = broadcastPair(k.by2048);
    while (size >= 256) {
        z0 = fold512(z0, by2048, load512(data));
        z1 = fold512(z1, by2048, load512(data + 64));
        z2 = fold512(z2, by2048, load512(data + 128));
        z3 = fold512(z3, by2048, load512(data + 192));
        data += 256;
        size -= 256;
    }
    const __m512i by512 = broadcastPair(k.by512);
    __m512i z = fold512(z0, by512, z1);
    z = fold512(z, by512, z2);
    z = fold512(z, by512, z3);
    while (size >= 64) {
        z = fold512(z, by512, load512(data));
        data += 64;
        size -= 64;
    }
    // The four 128-bit lanes, earliest first, each moved to the end of the last one.
    // (Through memory: GCC 12's lane-extract intrinsics trip its own -Wuninitialized.)
    alignas(64) __m128i lanes[4];
    _mm512_store_si512(lanes, z);
    __m128i acc = lanes[3];
    acc = _mm_xor_si128(acc, fold128(lanes[2], constantPair(k.by128)));
    acc = _mm_xor_si128(acc, fold128(lanes[1], constantPair(k.by256)));
    acc = _mm_xor_si128(acc, fold128(lanes[0], constantPair(k.by384)));
    return finish128(acc, data, size);
}

// A 64-byte load across two cache lines costs twice: big buffers first take the
// bytes up to the next line boundary through the table kernel.
constexpr std::size_t kAlignAbove = 4096;

inline void alignToCacheLine(uint32_t& crc, const unsigned char*& data, std::size_t& size) {
    const auto misalignment = reinterpret_cast<std::uintptr_t>(data) & 63u;
    if (misalignment != 0 && size >= kAlignAbove) {
        const std::size_t head = 64 - misalignment;
        crc = crc32Slice16(crc, data, head);
        data += head;
        size -= head;
    }
}

bool osSavesZmmState() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE))
        return false;
    unsigned lo, hi;
    __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    // SSE, AVX, opmask, upper halves of ZMM0-15 and ZMM16-31.
    return (lo & 0xE6u) == 0xE6u;
}

}  // namespace

uint32_t crc32Clmul(uint32_t crc, const unsigned char* data, std::size_t size) {
    if (size >= 64) {
        alignToCacheLine(crc, data, size);
        crc = clmulBlocks(crc, data, size);
    }
    return crc32Slice16(crc, data, size);
}

uint32_t crc32Vclmul(uint32_t crc, const unsigned char* data, std::size_t size) {
    if (size >= 256) {
        alignToCacheLine(crc, data, size);
        crc = vclmulBlocks(crc, data, size);
    }
    return crc32Clmul(crc, data, size);
}

bool cpuHasClmul() {
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (c & bit_PCLMUL) && (c & bit_SSE4_1);
}

bool cpuHasVclmul() {
    unsigned a, b, c, d;
    if (!cpuHasClmul() || !osSavesZmmState() || !__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return (b & bit_AVX512F) && (b & bit_AVX512BW) && (b & bit_AVX512VL) && (c & bit_VPCLMULQDQ);
}

}  // namespace crc32_detail

#endif
