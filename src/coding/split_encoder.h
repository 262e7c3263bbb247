#pragma once

#include "coding/coding_layout.h"
#include "coding/sha256.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

// The split of one file into k data parts and m recovery parts (see CodingLayout), with
// the CRC-32 and SHA-256 of every part and of the whole file, in one read of the source
// and in bounded memory whatever the file's size and k, m.
//
// How it runs: two passes that overlap.
//   1. The calling thread reads the source once, in order, in blocks of 256 KiB that never
//      straddle two parts. Each block is written to its data part and taken into that
//      part's CRC-32 right there; two hashing threads take it into the part's SHA-256 and
//      into the file's SHA-256 meanwhile (a ring of 8 blocks, each reused once all three
//      are done with it). The file's CRC-32 is the part CRCs combined (Crc32Combine): no
//      pass of its own.
//   2. A coding thread reads the data part files back in stripes: the same S bytes at
//      offset o of each of the k parts (the last part zero-padded), codes the m recovery
//      stripes, writes them at offset o of the recovery parts, takes their CRC-32 and hands
//      them to the part hashing thread. Stripe o needs the last data part written past o,
//      so the pass starts as the read enters the last part, and runs beside it (for k = 1,
//      all along). The stripes come from the page cache the parts were just written to.
//
// Weighed and not taken:
//   - Reading the source in stripes (k reads at o, P + o, 2P + o, ...) codes without any
//     read-back, and each part's CRC and SHA-256 still see their bytes in order; but the
//     file's bytes then arrive out of order, and a SHA-256 cannot be combined the way a CRC
//     can: the file's SHA-256 would need a second read of the source, in order. That costs
//     as much I/O as the read-back here, and reads the source twice.
//   - Coding as each data part goes by (ec_encode_data_update, one source at a time) reads
//     the source in order, but keeps m partial recovery parts of P bytes: m x P of memory
//     (200 MiB for 1 GiB in 10 + 2 parts, unbounded in general), or, kept in the recovery
//     part files, every recovery byte read and written again for each data part: about
//     2 m bytes of page-cache traffic per source byte (4 for m = 2; 508 for k = 1, m = 254).
//   The read-back costs one read of F bytes whatever m is, usually from the page cache (a
//   file larger than memory reads its early parts back from the disk).
//
// CPU, per GiB of source on this machine (bench_coding): SHA-256 0.5-1 s per pass (1 to
// 2 GB/s, by the machine's load), and there are two (parts and file) plus m/k of a pass
// for the recovery parts; the copy and the CRC 0.4 s; reading back, coding 10 + 2 and
// writing 0.5 s. Measured: 3.0-3.2 s of CPU for 10 + 2, 1.9 s for 10 + 0, 0.4 s for a
// plain copy into the parts. The hashing threads spread that over both cores.
//
// Memory: the ring (2 MiB) plus k input and 2 m output stripes (double-buffered, so the
// hashing of one overlaps the coding of the next) of S = min(1 MiB, 24 MiB / (k + 2 m))
// bytes, 4 KiB at least: under 30 MiB for any k, m. Nothing grows with the file.
//
// Files are plain POSIX descriptors that the caller opened and closes: the source
// readable, every data part readable and writable (pass 2 reads it back; O_RDWR, not
// O_APPEND), every recovery part writable, all empty. Without data part descriptors (an
// empty list) no data part is written: their digests are taken all the same, and pass 2
// reads each data part's stripes from its byte range of the source instead, for an
// upload that sends every part straight from the source. Every access is by offset, so
// the descriptors' positions do not matter. run() blocks its caller for the whole split
// (about a second per GiB): a window runs it on a thread of its own and reports back by
// a queued event, polling progress() from a timer; the command-line tool runs it where
// it is, with a progress callback.

struct PartDigest {
    std::int64_t size = 0;
    uint32_t crc = 0;
    Sha256Digest sha256{};
};

struct SplitDigests {
    std::vector<PartDigest> data;      // k
    std::vector<PartDigest> recovery;  // m
    uint32_t fileCrc = 0;
    Sha256Digest fileSha256{};
};

// Why a split stopped. part() is the data or recovery part (from 0) that failed, -1 for
// the source; error() the errno, 0 when there is none (a file that ended early, a
// cancel). The caller turns it into its message with its own file names.
class SplitEncoderError : public std::runtime_error {
public:
    enum class Kind {
        ReadSource,     // reading the source failed
        SourceEnded,    // the source ended before its size: it shrank during the split
        WriteData,      // writing a data part failed
        ReadData,       // reading a data part back failed
        DataEnded,      // a data part ended before its size: someone truncated it
        WriteRecovery,  // writing a recovery part failed
        Hashing,        // OpenSSL failed a SHA-256
        Cancelled,      // cancel() was called
    };
    SplitEncoderError(Kind kind, int part, int error);

    Kind kind() const { return m_kind; }
    int part() const { return m_part; }
    int error() const { return m_error; }

private:
    Kind m_kind;
    int m_part;
    int m_error;
};

struct SplitEncoderProgress {
    std::int64_t sourceDone = 0;    // bytes of the source read and written to the data parts
    std::int64_t recoveryDone = 0;  // bytes of each recovery part written, 0..P
};

// Sizes of the work units; the defaults are for use, smaller ones let tests cross every
// block and stripe boundary with a few bytes.
struct SplitEncoderTuning {
    std::size_t blockSize = 256 * 1024;
    std::size_t stripeSize = 0;  // 0: S as above
};

class SplitEncoder {
public:
    // Throws std::invalid_argument when the descriptor counts are not k (or 0) and m.
    SplitEncoder(const CodingLayout& layout, int sourceFd, std::vector<int> dataFds, std::vector<int> recoveryFds,
                 const SplitEncoderTuning& tuning = {});
    ~SplitEncoder();
    SplitEncoder(const SplitEncoder&) = delete;
    SplitEncoder& operator=(const SplitEncoder&) = delete;

    // Runs the split once. `progress`, when given, is called on the calling thread after
    // every block read and every stripe coded. Throws SplitEncoderError on the first
    // failure, once every thread has stopped; the parts then hold what was written.
    using ProgressCallback = std::function<void(const SplitEncoderProgress&)>;
    SplitDigests run(const ProgressCallback& progress = {});

    // From any thread: run() stops soon after and throws Cancelled.
    void cancel();
    // From any thread, while run() runs or after.
    SplitEncoderProgress progress() const;

    // The stripe size S used for a layout (see above).
    static std::size_t stripeSizeFor(const CodingLayout& layout, const SplitEncoderTuning& tuning);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
