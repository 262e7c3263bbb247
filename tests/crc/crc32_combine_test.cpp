// Crc32Combine against the CRC of the concatenation as every kernel computes it, and
// against zlib's crc32_combine64 (an independent yardstick) for lengths no buffer holds.
#include "crc/crc32.h"
#include "crc/crc32_impl.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

TEST(Crc32Combine, EqualsTheCrcOfTheConcatenation) {
    std::mt19937_64 gen(19);
    std::vector<unsigned char> bytes(std::size_t{3} << 20);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(gen());
    struct Row {
        std::size_t a, b;
    };
    std::vector<Row> rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {7, 0}, {0, 77}, {13, 4096}, {65536, 1}, {3, bytes.size() - 3}};
    for (int i = 0; i < 24; ++i) {
        const std::size_t a = gen() % (std::size_t{1} << (gen() % 21));
        rows.push_back({a, gen() % (bytes.size() - a + 1)});
    }
    for (const auto& [name, kernel] : crc32_detail::availableCrc32Kernels())
        for (const Row& row : rows) {
            const unsigned char* p = bytes.data();
            const uint32_t crcA = ~kernel(~0u, p, row.a);
            const uint32_t crcB = ~kernel(~0u, p + row.a, row.b);
            EXPECT_EQ(Crc32Combine(crcA, crcB, row.b), ~kernel(~0u, p, row.a + row.b))
                << name << ": " << row.a << " + " << row.b << " bytes";
        }
}

// 2^31 bytes run through the portable and the fastest kernel, a megabyte at a time.
TEST(Crc32Combine, TwoGibibytesThroughTheKernels) {
    std::mt19937_64 gen(31);
    std::vector<unsigned char> block(std::size_t{1} << 20);
    for (auto& b : block)
        b = static_cast<unsigned char>(gen());
    const std::size_t headSize = 1000;
    const uint64_t length = uint64_t{1} << 31;
    for (const auto kernel : {crc32_detail::crc32Slice16, crc32_detail::selectedCrc32Kernel().kernel}) {
        const uint32_t head = kernel(~0u, block.data(), headSize);
        uint32_t whole = head;
        uint32_t tail = ~0u;
        for (uint64_t done = 0; done < length; done += block.size()) {
            whole = kernel(whole, block.data(), block.size());
            tail = kernel(tail, block.data(), block.size());
        }
        EXPECT_EQ(Crc32Combine(~head, ~tail, length), ~whole);
    }
}

TEST(Crc32Combine, AgreesWithZlibUpTo2To63) {
    std::mt19937 gen(63);
    for (const uint64_t length : {uint64_t{1} << 31, (uint64_t{1} << 32) + 1, (uint64_t{1} << 40) + 12345,
                                  (uint64_t{1} << 62) + 3, (uint64_t{1} << 63) - 1}) {
        const uint32_t a = gen();
        const uint32_t b = gen();
        EXPECT_EQ(Crc32Combine(a, b, length), crc32_combine64(a, b, static_cast<z_off64_t>(length))) << length;
    }
}

}  // namespace
