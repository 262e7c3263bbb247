#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The individual CRC-32 kernels behind Crc32Update, exposed so that tests and
// benchmarks can hold every kernel the machine runs against the byte-wise reference.
// All of them share Crc32Update's contract: register in, register out, no inversion.
namespace crc32_detail {

using Crc32Kernel = uint32_t (*)(uint32_t crc, const unsigned char* data, std::size_t size);

// One table step per byte: the reference every faster kernel must agree with.
uint32_t crc32Bytewise(uint32_t crc, const unsigned char* data, std::size_t size);
// Portable: sixteen bytes per step through sixteen tables; runs on any CPU.
uint32_t crc32Slice16(uint32_t crc, const unsigned char* data, std::size_t size);

struct NamedKernel {
    const char* name;
    Crc32Kernel kernel;
};

// Every kernel this CPU can run, portable ones first, the fastest last.
std::vector<NamedKernel> availableCrc32Kernels();

// The kernel Crc32Update uses on this machine.
NamedKernel selectedCrc32Kernel();

}  // namespace crc32_detail
