// Every CRC-32 kernel this machine runs against the byte-wise reference and zlib.
#include "crc/crc32.h"
#include "crc/crc32_fold_constants.h"
#include "crc/crc32_impl.h"
#include "crc/crc32_table.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace crc32_detail {
// A failing row names its kernel.
void PrintTo(const NamedKernel& kernel, std::ostream* os) { *os << kernel.name; }
}  // namespace crc32_detail

namespace {

using crc32_detail::NamedKernel;

std::vector<unsigned char> randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<unsigned char> bytes(size);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(gen());
    return bytes;
}

uint32_t zlibCrc(const unsigned char* data, std::size_t size) {
    return static_cast<uint32_t>(crc32_z(0, data, size));
}

TEST(Crc32, CheckValues) {
    const struct {
        std::string data;
        uint32_t crc;
    } cases[] = {
        {"123456789", 0xCBF43926u},
        {std::string(1, '\0'), 0xD202EF8Du},
        {"", 0x00000000u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(~Crc32Update(0xFFFFFFFFu, c.data.data(), c.data.size()), c.crc) << '"' << c.data << '"';
}

TEST(Crc32, ZeroLengthReturnsRegister) {
    for (uint32_t reg : {0u, 1u, 0xFFFFFFFFu, 0x80000000u})
        EXPECT_EQ(Crc32Update(reg, nullptr, 0), reg);
}

TEST(Crc32, TextIsEightUpperCaseDigits) {
    const struct {
        uint32_t crc;
        const char* text;
    } cases[] = {
        {0xFFFFFFFFu, "FFFFFFFF"}, {43981u, "0000ABCD"}, {0u, "00000000"},
        {0x0A1B2C3Du, "0A1B2C3D"}, {0xCBF43926u, "CBF43926"}, {0x80000000u, "80000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Crc32Text(c.crc), c.text);
}

TEST(Crc32, TableIsTheStandardOne) {
    using crc32_detail::kCrc32Table;
    EXPECT_EQ(kCrc32Table[1], 0x77073096u);
    EXPECT_EQ(kCrc32Table[128], 0xEDB88320u);
    EXPECT_EQ(kCrc32Table[255], 0x2D02EF8Du);
    const z_crc_t* zlibTable = get_crc_table();
    for (std::size_t i = 0; i < 256; ++i)
        ASSERT_EQ(kCrc32Table[i], zlibTable[i]) << "entry " << i;
}

// The published constants of the PCLMULQDQ white paper and the Linux kernel for this
// polynomial, and, for the distances they do not list, a register run over a single
// set bit followed by zeros (which leaves x^m mod P in the register, reflected).
TEST(Crc32, FoldConstantsMatchThePolynomial) {
    const auto& k = crc32_detail::kFoldConstants;
    EXPECT_EQ(k.by512[0], 0x154442BD4u);
    EXPECT_EQ(k.by512[1], 0x1C6E41596u);
    EXPECT_EQ(k.by128[0], 0x1751997D0u);
    EXPECT_EQ(k.by128[1], 0x0CCAA009Eu);
    EXPECT_EQ(k.x64, 0x163CD6124u);
    EXPECT_EQ(k.barrettMu, 0x1F7011641u);
    EXPECT_EQ(k.barrettPoly, 0x1DB710641u);

    // Byte 0x80 first then zeros: message x^(L-8) over L bits, register x^(L+24) mod P.
    const auto viaRegister = [](unsigned n) {
        std::vector<unsigned char> message((n - 56) / 8, 0);
        message[0] = 0x80;
        return uint64_t{crc32_detail::crc32Bytewise(0, message.data(), message.size())} << 1;
    };
    const struct {
        const uint64_t (&pair)[2];
        unsigned distance;
    } pairs[] = {{k.by2048, 2048}, {k.by512, 512}, {k.by384, 384}, {k.by256, 256}, {k.by128, 128}};
    for (const auto& p : pairs) {
        EXPECT_EQ(p.pair[0], viaRegister(p.distance + 64)) << "distance " << p.distance;
        EXPECT_EQ(p.pair[1], viaRegister(p.distance)) << "distance " << p.distance;
    }
    EXPECT_EQ(k.x64, viaRegister(96));
}

// A machine whose CPU has the instructions must also run the kernel that uses them;
// a broken feature check would quietly fall back to the slow path.
TEST(Crc32, AcceleratedKernelsOfferedWhenTheCpuHasThem) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, flags;
    while (std::getline(cpuinfo, line))
        if (line.rfind("flags", 0) == 0) {
            flags = line + ' ';
            break;
        }
    ASSERT_FALSE(flags.empty()) << "no flags line in /proc/cpuinfo";
    const auto has = [&](const char* flag) { return flags.find(std::string(" ") + flag + " ") != std::string::npos; };
    std::vector<std::string> names;
    for (const auto& k : crc32_detail::availableCrc32Kernels())
        names.push_back(k.name);
    const auto offered = [&](const char* name) { return std::find(names.begin(), names.end(), name) != names.end(); };
    EXPECT_TRUE(offered("slice16"));
    EXPECT_EQ(offered("pclmul"), has("pclmulqdq") && has("sse4_1"));
    EXPECT_EQ(offered("vpclmul-avx512"),
              has("vpclmulqdq") && has("avx512f") && has("avx512bw") && has("avx512vl") && has("pclmulqdq"));
    EXPECT_EQ(std::string(crc32_detail::selectedCrc32Kernel().name), names.back());
}

class Crc32Kernel : public testing::TestWithParam<NamedKernel> {};

// Every length up to past the widest kernel's 256-byte step and its remainders, at
// alignments that put the blocks across cache lines, from several registers.
TEST_P(Crc32Kernel, MatchesReferenceOverLengthsAndAlignments) {
    const auto kernel = GetParam().kernel;
    const auto data = randomBytes(1200 + 64, 1);
    for (std::size_t offset : {0, 1, 3, 8, 15, 33, 63})
        for (uint32_t reg : {0xFFFFFFFFu, 0u, 0x12345678u})
            for (std::size_t size = 0; size <= 1200; ++size) {
                const unsigned char* p = data.data() + offset;
                ASSERT_EQ(kernel(reg, p, size), crc32_detail::crc32Bytewise(reg, p, size))
                    << "size " << size << " offset " << offset << " register " << reg;
            }
}

// Large buffers take the cache-line alignment step and every loop of the kernels.
TEST_P(Crc32Kernel, MatchesZlibOnLargeBuffers) {
    const auto kernel = GetParam().kernel;
    const auto data = randomBytes((3u << 20) + 128, 2);
    for (std::size_t offset : {0, 1, 17, 64})
        for (std::size_t size : {4095u, 4096u, 4096u + 255u, 65536u + 64u + 16u + 3u, (1u << 20) + 77u, 3u << 20}) {
            const unsigned char* p = data.data() + offset;
            ASSERT_EQ(~kernel(0xFFFFFFFFu, p, size), zlibCrc(p, size)) << "size " << size << " offset " << offset;
        }
}

TEST_P(Crc32Kernel, SplittingAnywhereGivesTheSameCrc) {
    const auto kernel = GetParam().kernel;
    const auto data = randomBytes(1500, 3);
    const uint32_t whole = kernel(0xFFFFFFFFu, data.data(), data.size());
    for (std::size_t cut = 0; cut <= data.size(); ++cut) {
        const uint32_t head = kernel(0xFFFFFFFFu, data.data(), cut);
        ASSERT_EQ(kernel(head, data.data() + cut, data.size() - cut), whole) << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(AllKernels, Crc32Kernel, testing::ValuesIn(crc32_detail::availableCrc32Kernels()),
                         [](const testing::TestParamInfo<NamedKernel>& kernelInfo) {
                             std::string name = kernelInfo.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST(Crc32, ChainedUpdatesOfTheDispatchedKernelMatchZlib) {
    const auto data = randomBytes(5'000'000, 4);
    const uint32_t expected = zlibCrc(data.data(), data.size());
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{255}, std::size_t{4097}, std::size_t{2'500'001},
                            data.size() - 3, data.size()}) {
        uint32_t reg = Crc32Update(0xFFFFFFFFu, data.data(), cut);
        reg = Crc32Update(reg, data.data() + cut, data.size() - cut);
        EXPECT_EQ(~reg, expected) << "cut at " << cut;
    }
}

}  // namespace
