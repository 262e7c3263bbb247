// Recovery coding, SHA-256 and the split encoder, each against a yardstick of the same run:
//   encode/k=10/m=M/part=B   ISA-L encode of 10 data buffers of B bytes (GB/s of data)
//   decode/...               rebuilding 2 lost data parts from 8 data and 2 recovery
//   read_pass/k=10/part=B    a plain read of the same 10 buffers: the memory bound
//   sha256, crc32, read_pass over one 256 MiB buffer
//   crc32_combine, zlib_crc32_combine64: one combine of a 256 KiB and of a 2^40 + 12345 tail
//   split/k+m                SplitEncoder on a cached 1 GiB file (GB/s of source)
//   copy_to_parts/k          the same file copied into k part files, nothing else
// (cpu_s: CPU seconds of every thread of the process per split.)
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true for medians;
// PW_BENCH_SCRATCH=DIR puts the 1 GiB file and the parts there (default: /tmp). Peak
// memory of one benchmark: /usr/bin/time -f %M bench_coding --benchmark_filter=NAME.
#include "coding/coding_layout.h"
#include "coding/reed_solomon.h"
#include "coding/sha256.h"
#include "coding/split_encoder.h"
#include "crc/crc32.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <immintrin.h>
#include <random>
#include <sys/resource.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<unsigned char> randomBytes(std::size_t size, uint64_t seed) {
    std::vector<unsigned char> bytes(size);
    std::mt19937_64 gen(seed);
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t v = gen();
        for (int j = 0; j < 8; ++j)
            bytes[i + static_cast<std::size_t>(j)] = static_cast<unsigned char>(v >> (8 * j));
    }
    return bytes;
}

// A plain read with the widest loads the CPU has (64 bytes with AVX-512, as ISA-L uses
// here): the bound no pass over the same bytes can beat.
__attribute__((target("avx512f"))) uint64_t readPassWide(const unsigned char* p, std::size_t n) {
    __m512i acc = _mm512_setzero_si512();
    for (std::size_t i = 0; i + 64 <= n; i += 64)
        acc = _mm512_xor_si512(acc, _mm512_loadu_si512(p + i));
    // Through memory: GCC 12's lane-extract intrinsics trip its own -Wuninitialized.
    alignas(64) uint64_t lanes[8];
    _mm512_store_si512(lanes, acc);
    uint64_t sum = 0;
    for (const uint64_t lane : lanes)
        sum ^= lane;
    return sum;
}

uint64_t readPass(const unsigned char* p, std::size_t n) {
    static const bool wide = __builtin_cpu_supports("avx512f");
    if (wide)
        return readPassWide(p, n);
    uint64_t acc = 0;
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        uint64_t v;
        __builtin_memcpy(&v, p + i, 8);
        acc ^= v;
    }
    return acc;
}

struct Stripes {
    Stripes(int k, int m, std::size_t size) {
        for (int i = 0; i < k; ++i)
            data.push_back(randomBytes(size, static_cast<uint64_t>(i)));
        for (int i = 0; i < m; ++i)
            recovery.emplace_back(size);
        for (auto& d : data)
            in.push_back(d.data());
        for (auto& r : recovery)
            out.push_back(r.data());
    }
    std::vector<std::vector<unsigned char>> data, recovery;
    std::vector<const unsigned char*> in;
    std::vector<unsigned char*> out;
};

void Encode(benchmark::State& state) {
    const int k = 10;
    const int m = static_cast<int>(state.range(0));
    const auto size = static_cast<std::size_t>(state.range(1));
    Stripes s(k, m, size);
    const RecoveryEncoder encoder(k, m);
    for (auto _ : state) {
        encoder.encode(size, s.in.data(), s.out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k * static_cast<int64_t>(size));
}

// Parts 2 and 5 lost: rebuilt from the other 8 data parts and both recovery parts.
void Decode(benchmark::State& state) {
    const int k = 10;
    const auto size = static_cast<std::size_t>(state.range(0));
    Stripes s(k, 2, size);
    RecoveryEncoder(k, 2).encode(size, s.in.data(), s.out.data());
    const RecoveryDecoder decoder(k, 2, {0, 1, 3, 4, 6, 7, 8, 9, 10, 11});
    std::vector<const unsigned char*> at;
    for (const int p : decoder.present())
        at.push_back(p < k ? s.data[static_cast<std::size_t>(p)].data() : s.recovery[static_cast<std::size_t>(p - k)].data());
    std::vector<std::vector<unsigned char>> rebuilt(2, std::vector<unsigned char>(size));
    unsigned char* out[2] = {rebuilt[0].data(), rebuilt[1].data()};
    for (auto _ : state) {
        decoder.decode(size, at.data(), out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * k * static_cast<int64_t>(size));
}

void ReadPass10(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    Stripes s(10, 0, size);
    for (auto _ : state) {
        uint64_t acc = 0;
        for (const unsigned char* p : s.in)
            acc ^= readPass(p, size);
        benchmark::DoNotOptimize(acc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 10 * static_cast<int64_t>(size));
}

const std::vector<unsigned char>& bigBuffer() {
    static const std::vector<unsigned char> bytes = randomBytes(std::size_t{256} << 20, 42);
    return bytes;
}

template <typename Pass>
void overBigBuffer(benchmark::State& state, Pass pass) {
    const auto& b = bigBuffer();
    for (auto _ : state)
        benchmark::DoNotOptimize(pass(b.data(), b.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(b.size()));
}

// In 256 KiB updates, as the split's blocks feed it.
void Sha256Pass(benchmark::State& state) {
    overBigBuffer(state, [](const unsigned char* p, std::size_t n) {
        Sha256 hash;
        for (std::size_t done = 0; done < n; done += 256 * 1024)
            hash.update(p + done, 256 * 1024);
        return hash.finish()[0];
    });
}

void CombinePair(benchmark::State& state, bool zlib) {
    const uint64_t lengths[2] = {256 * 1024, (uint64_t{1} << 40) + 12345};
    const uint64_t length = lengths[state.range(0)];
    uint32_t crc = 0x12345678u;
    for (auto _ : state) {
        crc = zlib ? static_cast<uint32_t>(crc32_combine64(crc, 0x9ABCDEF0u, static_cast<z_off64_t>(length)))
                   : Crc32Combine(crc, 0x9ABCDEF0u, length);
        benchmark::DoNotOptimize(crc);
    }
}

// --- the split of a cached file ---------------------------------------------------------

constexpr std::int64_t kFileSize = std::int64_t{1} << 30;

std::string scratch() {
    const char* dir = std::getenv("PW_BENCH_SCRATCH");
    return dir ? dir : "/tmp";
}

// The source, written once through a 1 MiB buffer (so it is in the page cache and the
// process's memory stays small), removed at exit.
int sourceFile() {
    static const int fd = [] {
        const std::string path = scratch() + "/pw-bench-coding-source.bin";
        const int f = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (f < 0)
            std::abort();
        ::unlink(path.c_str());
        std::mt19937_64 gen(7);
        std::vector<uint64_t> block((std::size_t{1} << 20) / 8);
        for (std::int64_t done = 0; done < kFileSize; done += static_cast<std::int64_t>(block.size() * 8)) {
            for (auto& v : block)
                v = gen();
            if (::pwrite(f, block.data(), block.size() * 8, done) != static_cast<ssize_t>(block.size() * 8))
                std::abort();
        }
        return f;
    }();
    return fd;
}

std::vector<int> openParts(int count) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        const std::string path = scratch() + "/pw-bench-coding-part" + std::to_string(i);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0)
            std::abort();
        ::unlink(path.c_str());
        fds.push_back(fd);
    }
    return fds;
}

// CPU seconds of the whole process, every thread: the split's hashing threads included.
double processCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void closeAll(const std::vector<int>& fds) {
    for (const int fd : fds)
        ::close(fd);
}

// k, m and the bytes of the source split (the wide layout takes only its first 64 MiB).
void SplitFile(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const int m = static_cast<int>(state.range(1));
    const std::int64_t size = state.range(2);
    const CodingLayout layout = *MakeCodingLayout(size, k, m);
    const int source = sourceFile();
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<int> data = openParts(k);
        const std::vector<int> recovery = openParts(m);
        state.ResumeTiming();
        benchmark::DoNotOptimize(SplitEncoder(layout, source, data, recovery).run().fileCrc);
        state.PauseTiming();
        closeAll(data);
        closeAll(recovery);
        state.ResumeTiming();
    }
    state.counters["cpu_s"] = benchmark::Counter((processCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

// The yardstick: the same bytes into k files through one 256 KiB buffer, no CRC, no hash.
void CopyToParts(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    const CodingLayout layout = *MakeCodingLayout(kFileSize, k, 0);
    const int source = sourceFile();
    std::vector<unsigned char> buffer(256 * 1024);
    const double cpuBefore = processCpuSeconds();
    for (auto _ : state) {
        state.PauseTiming();
        const std::vector<int> parts = openParts(k);
        state.ResumeTiming();
        for (int j = 0; j < k; ++j)
            for (std::int64_t pos = 0; pos < layout.dataPartSize(j);) {
                const auto n = static_cast<std::size_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), layout.dataPartSize(j) - pos));
                if (::pread(source, buffer.data(), n, layout.dataPartOffset(j) + pos) != static_cast<ssize_t>(n) ||
                    ::pwrite(parts[static_cast<std::size_t>(j)], buffer.data(), n, pos) != static_cast<ssize_t>(n))
                    std::abort();
                pos += static_cast<std::int64_t>(n);
            }
        state.PauseTiming();
        closeAll(parts);
        state.ResumeTiming();
    }
    state.counters["cpu_s"] = benchmark::Counter((processCpuSeconds() - cpuBefore) / static_cast<double>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kFileSize);
}

const bool registered = [] {
    for (const int64_t part : {int64_t{1} << 20, int64_t{16} << 20}) {
        for (const int64_t m : {2, 4, 8})
            benchmark::RegisterBenchmark("encode/k=10", Encode)->Args({m, part})->ArgNames({"m", "part"})->UseRealTime();
        benchmark::RegisterBenchmark("decode/k=10/m=2/lost=2", Decode)->Arg(part)->ArgName("part")->UseRealTime();
        benchmark::RegisterBenchmark("read_pass/k=10", ReadPass10)->Arg(part)->ArgName("part")->UseRealTime();
    }
    benchmark::RegisterBenchmark("sha256/256MiB", Sha256Pass)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("crc32/256MiB", overBigBuffer<uint32_t (*)(const unsigned char*, std::size_t)>,
                                 [](const unsigned char* p, std::size_t n) { return ~Crc32Update(~0u, p, n); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("read_pass/256MiB", overBigBuffer<uint64_t (*)(const unsigned char*, std::size_t)>, readPass)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("crc32_combine", CombinePair, false)->DenseRange(0, 1)->ArgName("long");
    benchmark::RegisterBenchmark("zlib_crc32_combine64", CombinePair, true)->DenseRange(0, 1)->ArgName("long");
    for (const auto& [k, m, size] : {std::tuple{10, 2, kFileSize}, std::tuple{10, 0, kFileSize},
                                     std::tuple{100, 155, std::int64_t{64} << 20}})
        benchmark::RegisterBenchmark("split", SplitFile)
            ->Args({k, m, size})
            ->ArgNames({"k", "m", "bytes"})
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(3);
    benchmark::RegisterBenchmark("copy_to_parts", CopyToParts)->Arg(10)->ArgName("k")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
