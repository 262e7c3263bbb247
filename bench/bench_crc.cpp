// CRC-32 throughput on one 256 MiB buffer (larger than any cache): Crc32Update against
// zlib's crc32_z and libdeflate in the same run, plus each of our kernels on its own.
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true for medians.
#include "crc/crc32.h"
#include "crc/crc32_impl.h"

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kBufferSize = std::size_t{256} << 20;

const std::vector<unsigned char>& buffer() {
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> b(kBufferSize);
        std::mt19937_64 gen(42);
        for (std::size_t i = 0; i + 8 <= b.size(); i += 8) {
            const uint64_t v = gen();
            for (int j = 0; j < 8; ++j)
                b[i + static_cast<std::size_t>(j)] = static_cast<unsigned char>(v >> (8 * j));
        }
        return b;
    }();
    return bytes;
}

template <typename Crc>
void runOverBuffer(benchmark::State& state, Crc crc) {
    const auto& b = buffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(crc(b.data(), b.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}

void Crc32UpdateDispatched(benchmark::State& state) {
    state.SetLabel(crc32_detail::selectedCrc32Kernel().name);
    runOverBuffer(state, [](const unsigned char* p, std::size_t n) { return ~Crc32Update(0xFFFFFFFFu, p, n); });
}

void ZlibCrc32z(benchmark::State& state) {
    runOverBuffer(state, [](const unsigned char* p, std::size_t n) { return crc32_z(0, p, n); });
}

void LibdeflateCrc32(benchmark::State& state) {
    runOverBuffer(state, [](const unsigned char* p, std::size_t n) { return libdeflate_crc32(0, p, n); });
}

void Kernel(benchmark::State& state, crc32_detail::Crc32Kernel kernel) {
    runOverBuffer(state, [kernel](const unsigned char* p, std::size_t n) { return ~kernel(0xFFFFFFFFu, p, n); });
}

// A plain read of the buffer: the ceiling no CRC can pass.
void MemoryReadPass(benchmark::State& state) {
    runOverBuffer(state, [](const unsigned char* p, std::size_t n) {
        uint64_t acc = 0;
        for (std::size_t i = 0; i + 8 <= n; i += 8) {
            uint64_t v;
            __builtin_memcpy(&v, p + i, 8);
            acc ^= v;
        }
        return acc;
    });
}

const bool registered = [] {
    benchmark::RegisterBenchmark("Crc32Update", Crc32UpdateDispatched)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("zlib_crc32_z", ZlibCrc32z)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("libdeflate_crc32", LibdeflateCrc32)->Unit(benchmark::kMillisecond);
    for (const auto& k : crc32_detail::availableCrc32Kernels())
        benchmark::RegisterBenchmark((std::string("kernel/") + k.name).c_str(), Kernel, k.kernel)
            ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("memory_read_pass", MemoryReadPass)->Unit(benchmark::kMillisecond);
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
