#include "coding/split_encoder.h"

#include "coding/hash_lane.h"
#include "coding/reed_solomon.h"
#include "crc/crc32.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using Kind = SplitEncoderError::Kind;

constexpr int kRingBlocks = 8;
constexpr std::size_t kStripeBudget = std::size_t{24} << 20;
constexpr std::size_t kMaxStripe = std::size_t{1} << 20;
constexpr std::size_t kMinStripe = 4096;

// One anonymous mapping cut into `count` slices of `size` bytes, each on a cache line of
// its own. Mapped and unmapped whole, so a split's memory goes back to the system when it
// ends, instead of staying behind in the allocator arenas of the threads that used it.
class Slices {
public:
    Slices(std::size_t count, std::size_t size)
        : m_stride((std::max<std::size_t>(size, 1) + 63) / 64 * 64), m_length(count * m_stride) {
        void* bytes = ::mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (bytes == MAP_FAILED)
            throw std::bad_alloc();
        m_base = static_cast<unsigned char*>(bytes);
    }
    ~Slices() { ::munmap(m_base, m_length); }
    Slices(const Slices&) = delete;
    Slices& operator=(const Slices&) = delete;

    unsigned char* operator[](std::size_t i) const { return m_base + i * m_stride; }

private:
    std::size_t m_stride;
    std::size_t m_length;
    unsigned char* m_base = nullptr;
};

// Reads until `size` bytes or the end of the file; the errno, or 0.
int readAt(int fd, unsigned char* data, std::size_t size, std::int64_t offset, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, data + got, size - got, static_cast<off_t>(offset + static_cast<std::int64_t>(got)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return 0;
}

int writeAt(int fd, const unsigned char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return 0;
}

std::string describe(Kind kind, int part, int error) {
    static const char* const what[] = {"reading the source",        "the source ended early",
                                       "writing data part ",        "reading data part ",
                                       "data part ",                "writing recovery part ",
                                       "SHA-256 in OpenSSL failed", "the split was cancelled"};
    std::string text = what[static_cast<int>(kind)];
    if (part >= 0)
        text += std::to_string(part + 1);
    if (kind == Kind::DataEnded)
        text += " ended early";
    if (error != 0)
        text += ": " + std::generic_category().message(error);
    return text;
}

// On every way out of a scope, waits until the hashing threads are done with its
// buffers: they must outlive every update posted on them.
template <typename Slots>
struct WaitAllUnused {
    Slots& slots;
    ~WaitAllUnused() {
        for (auto& slot : slots)
            WaitUnused(slot.users);
    }
};

}  // namespace

SplitEncoderError::SplitEncoderError(Kind kind, int part, int error)
    : std::runtime_error(describe(kind, part, error)), m_kind(kind), m_part(part), m_error(error) {}

struct SplitEncoder::State {
    CodingLayout layout;
    int source = -1;
    std::vector<int> data;
    std::vector<int> recovery;
    std::size_t block = 0;
    std::size_t stripe = 0;
    bool ran = false;

    std::atomic<bool> stop{false};
    std::atomic<std::int64_t> written{0};  // source bytes in the data parts
    std::atomic<std::uint64_t> readSignal{0};
    std::atomic<std::int64_t> coded{0};  // bytes of each recovery part written
    std::atomic<std::uint64_t> codeSignal{0};
    std::atomic<bool> coderDone{false};

    std::mutex failureMutex;
    std::optional<SplitEncoderError> failure;
    std::exception_ptr coderException;

    Sha256 fileSha;
    std::vector<Sha256> dataSha;
    std::vector<Sha256> recoverySha;
    std::vector<uint32_t> dataCrc;
    std::vector<uint32_t> recoveryCrc;

    // Wakes every wait that ends on a stop.
    void halt() {
        stop.store(true);
        readSignal.fetch_add(1);
        readSignal.notify_all();
        codeSignal.fetch_add(1);
        codeSignal.notify_all();
    }

    void fail(Kind kind, int part, int error) {
        {
            const std::lock_guard lock(failureMutex);
            if (!failure)
                failure.emplace(kind, part, error);
        }
        halt();
    }

    SplitEncoderProgress snapshot() const { return {written.load(), coded.load()}; }

    void readSource(HashLane& fileLane, HashLane& partLane, const std::function<void()>& report);
    void code(HashLane& partLane);
    void runCoder(HashLane& partLane);
    void waitForCoder(const std::function<void()>& report);
    SplitDigests digests();
};

void SplitEncoder::State::readSource(HashLane& fileLane, HashLane& partLane, const std::function<void()>& report) {
    struct Slot {
        unsigned char* bytes;
        std::atomic<int> users{0};
    };
    const Slices memory(kRingBlocks, block);
    std::vector<Slot> ring(kRingBlocks);
    for (std::size_t i = 0; i < ring.size(); ++i)
        ring[i].bytes = memory[i];
    const WaitAllUnused<std::vector<Slot>> guard{ring};

    std::size_t sequence = 0;
    for (int j = 0; j < layout.dataParts; ++j) {
        const std::int64_t size = layout.dataPartSize(j);
        const std::int64_t base = layout.dataPartOffset(j);
        for (std::int64_t pos = 0; pos < size;) {
            if (stop.load())
                return;
            Slot& slot = ring[sequence++ % ring.size()];
            WaitUnused(slot.users);
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block), size - pos));
            std::size_t got = 0;
            if (const int error = readAt(source, slot.bytes, n, base + pos, got))
                return fail(Kind::ReadSource, -1, error);
            if (got < n)
                return fail(Kind::SourceEnded, -1, 0);
            // The hashing threads start on the block while this one writes it.
            slot.users.store(3, std::memory_order_release);
            fileLane.post(fileSha, slot.bytes, n, slot.users);
            partLane.post(dataSha[static_cast<std::size_t>(j)], slot.bytes, n, slot.users);
            const int error = data.empty() ? 0 : writeAt(data[static_cast<std::size_t>(j)], slot.bytes, n, pos);
            if (error == 0)
                dataCrc[static_cast<std::size_t>(j)] = Crc32Update(dataCrc[static_cast<std::size_t>(j)], slot.bytes, n);
            ReleaseUse(slot.users);
            if (error != 0)
                return fail(Kind::WriteData, j, error);
            pos += static_cast<std::int64_t>(n);
            written.fetch_add(static_cast<std::int64_t>(n), std::memory_order_release);
            readSignal.fetch_add(1, std::memory_order_release);
            readSignal.notify_all();
            report();
        }
    }
}

void SplitEncoder::State::code(HashLane& partLane) {
    const int k = layout.dataParts;
    const int m = layout.recoveryParts;
    const std::int64_t lastBase = layout.dataPartOffset(k - 1);
    const RecoveryEncoder encoder(k, m);

    // k input stripes, then two sets of m output stripes.
    const Slices memory(static_cast<std::size_t>(k + 2 * m), stripe);
    std::vector<unsigned char*> in;
    for (int j = 0; j < k; ++j)
        in.push_back(memory[static_cast<std::size_t>(j)]);
    const std::vector<const unsigned char*> inPointers(in.begin(), in.end());
    struct OutSet {
        std::vector<unsigned char*> pointers;
        std::atomic<int> users{0};
    };
    std::vector<OutSet> sets(2);
    for (std::size_t set = 0; set < sets.size(); ++set)
        for (int r = 0; r < m; ++r)
            sets[set].pointers.push_back(memory[static_cast<std::size_t>(k) + set * static_cast<std::size_t>(m) + static_cast<std::size_t>(r)]);
    const WaitAllUnused<std::vector<OutSet>> guard{sets};

    std::size_t which = 0;
    for (std::int64_t o = 0; o < layout.partSize; which ^= 1) {
        const std::int64_t len = std::min<std::int64_t>(static_cast<std::int64_t>(stripe), layout.partSize - o);
        const std::int64_t lastAvailable = std::clamp<std::int64_t>(layout.lastSize - o, 0, len);
        // Every part before the last is complete once the read is in the last one; past the
        // last part's end its stripe is all padding.
        const std::int64_t need = lastBase + (lastAvailable > 0 ? o + lastAvailable : 0);
        for (;;) {
            const std::uint64_t signal = readSignal.load(std::memory_order_acquire);
            if (stop.load())
                return;
            if (written.load(std::memory_order_acquire) >= need)
                break;
            readSignal.wait(signal, std::memory_order_acquire);
        }
        for (int j = 0; j < k; ++j) {
            const std::int64_t want = j + 1 < k ? len : lastAvailable;
            unsigned char* bytes = in[static_cast<std::size_t>(j)];
            std::size_t got = 0;
            if (data.empty()) {
                if (const int error = readAt(source, bytes, static_cast<std::size_t>(want), layout.dataPartOffset(j) + o, got))
                    return fail(Kind::ReadSource, -1, error);
                if (static_cast<std::int64_t>(got) < want)
                    return fail(Kind::SourceEnded, -1, 0);
            } else {
                if (const int error = readAt(data[static_cast<std::size_t>(j)], bytes, static_cast<std::size_t>(want), o, got))
                    return fail(Kind::ReadData, j, error);
                if (static_cast<std::int64_t>(got) < want)
                    return fail(Kind::DataEnded, j, 0);
            }
            std::memset(bytes + want, 0, static_cast<std::size_t>(len - want));
        }
        OutSet& set = sets[which];
        WaitUnused(set.users);
        encoder.encode(static_cast<std::size_t>(len), inPointers.data(), set.pointers.data());
        for (int r = 0; r < m; ++r) {
            const unsigned char* bytes = set.pointers[static_cast<std::size_t>(r)];
            if (const int error = writeAt(recovery[static_cast<std::size_t>(r)], bytes, static_cast<std::size_t>(len), o))
                return fail(Kind::WriteRecovery, r, error);
            recoveryCrc[static_cast<std::size_t>(r)] =
                Crc32Update(recoveryCrc[static_cast<std::size_t>(r)], bytes, static_cast<std::size_t>(len));
        }
        set.users.store(m, std::memory_order_release);
        for (int r = 0; r < m; ++r)
            partLane.post(recoverySha[static_cast<std::size_t>(r)], set.pointers[static_cast<std::size_t>(r)],
                          static_cast<std::size_t>(len), set.users);
        o += len;
        coded.store(o);
        codeSignal.fetch_add(1);
        codeSignal.notify_all();
    }
}

void SplitEncoder::State::runCoder(HashLane& partLane) {
    try {
        code(partLane);
    } catch (...) {
        coderException = std::current_exception();
        halt();
    }
    coderDone.store(true);
    codeSignal.fetch_add(1);
    codeSignal.notify_all();
}

void SplitEncoder::State::waitForCoder(const std::function<void()>& report) {
    for (;;) {
        const std::uint64_t signal = codeSignal.load();
        if (coderDone.load())
            return;
        report();
        codeSignal.wait(signal);
    }
}

SplitDigests SplitEncoder::State::digests() {
    SplitDigests result;
    uint32_t fileCrc = 0;
    for (int j = 0; j < layout.dataParts; ++j) {
        const auto i = static_cast<std::size_t>(j);
        const PartDigest part{layout.dataPartSize(j), ~dataCrc[i], dataSha[i].finish()};
        fileCrc = Crc32Combine(fileCrc, part.crc, static_cast<uint64_t>(part.size));
        result.data.push_back(part);
    }
    for (std::size_t r = 0; r < recovery.size(); ++r)
        result.recovery.push_back({layout.partSize, ~recoveryCrc[r], recoverySha[r].finish()});
    result.fileCrc = fileCrc;
    result.fileSha256 = fileSha.finish();
    return result;
}

SplitEncoder::SplitEncoder(const CodingLayout& layout, int sourceFd, std::vector<int> dataFds,
                           std::vector<int> recoveryFds, const SplitEncoderTuning& tuning)
    : m_state(std::make_unique<State>()) {
    if ((!dataFds.empty() && static_cast<int>(dataFds.size()) != layout.dataParts) ||
        static_cast<int>(recoveryFds.size()) != layout.recoveryParts || tuning.blockSize == 0)
        throw std::invalid_argument("a split needs one descriptor per part and blocks of at least a byte");
    State& s = *m_state;
    s.layout = layout;
    s.source = sourceFd;
    s.data = std::move(dataFds);
    s.recovery = std::move(recoveryFds);
    s.block = tuning.blockSize;
    s.stripe = stripeSizeFor(layout, tuning);
    s.dataSha.resize(static_cast<std::size_t>(layout.dataParts));
    s.recoverySha.resize(s.recovery.size());
    s.dataCrc.assign(static_cast<std::size_t>(layout.dataParts), 0xFFFFFFFFu);
    s.recoveryCrc.assign(s.recovery.size(), 0xFFFFFFFFu);
}

SplitEncoder::~SplitEncoder() = default;

std::size_t SplitEncoder::stripeSizeFor(const CodingLayout& layout, const SplitEncoderTuning& tuning) {
    if (tuning.stripeSize != 0)
        return tuning.stripeSize;
    const auto buffers = static_cast<std::size_t>(layout.dataParts + 2 * layout.recoveryParts);
    const std::size_t share = kStripeBudget / buffers / kMinStripe * kMinStripe;
    return std::clamp(share, kMinStripe, kMaxStripe);
}

void SplitEncoder::cancel() { m_state->fail(Kind::Cancelled, -1, 0); }

SplitEncoderProgress SplitEncoder::progress() const { return m_state->snapshot(); }

SplitDigests SplitEncoder::run(const ProgressCallback& progress) {
    State& s = *m_state;
    if (s.ran)
        throw std::logic_error("a SplitEncoder runs once");
    s.ran = true;

    // Whatever the caller's callback or an allocation throws, every thread is stopped and
    // joined before it leaves this function.
    std::exception_ptr unexpected;
    const std::function<void()> report = [&] {
        if (!progress || unexpected)
            return;
        try {
            progress(s.snapshot());
        } catch (...) {
            unexpected = std::current_exception();
            s.halt();
        }
    };
    {
        HashLane fileLane;
        HashLane partLane;
        const bool coding = s.layout.recoveryParts > 0 && s.layout.partSize > 0;
        std::thread coder;
        if (coding)
            coder = std::thread([&s, &partLane] { s.runCoder(partLane); });
        try {
            s.readSource(fileLane, partLane, report);
        } catch (...) {
            unexpected = std::current_exception();
            s.halt();
        }
        if (coding) {
            s.waitForCoder(report);
            coder.join();
        }
        try {
            fileLane.finish();
            partLane.finish();
        } catch (...) {
            s.fail(Kind::Hashing, -1, 0);
        }
    }
    if (unexpected)
        std::rethrow_exception(unexpected);
    if (s.coderException)
        std::rethrow_exception(s.coderException);
    if (s.failure)
        throw *s.failure;
    return s.digests();
}
