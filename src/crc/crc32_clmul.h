#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define PW_CRC32_HAVE_CLMUL 1
#else
#define PW_CRC32_HAVE_CLMUL 0
#endif

#if PW_CRC32_HAVE_CLMUL
namespace crc32_detail {

// Folding kernels; call only when the matching cpuHas* says the CPU runs them.
uint32_t crc32Clmul(uint32_t crc, const unsigned char* data, std::size_t size);
uint32_t crc32Vclmul(uint32_t crc, const unsigned char* data, std::size_t size);

bool cpuHasClmul();   // PCLMULQDQ + SSE4.1
bool cpuHasVclmul();  // and VPCLMULQDQ + AVX-512 F/BW/VL with the OS saving ZMM state

}  // namespace crc32_detail
#endif
