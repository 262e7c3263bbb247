#pragma once

#include "coding/sha256.h"
#include "common/unique_fd.h"

#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class QObject;

// What a read of a file from its first byte to its end found.
struct FileHash {
    int error = 0;       // the errno of a read that failed, else 0
    qint64 bytes = 0;    // bytes read
    uint32_t crc = 0;    // their CRC-32, when it was asked for
    Sha256Digest sha256{};
};

// Reads the file from its first byte to its end and takes the SHA-256 (and, with
// `withCrc`, the CRC-32) of what it holds, in bounded blocks, on the calling thread. Stops
// early, with what it has, once `cancel` is set.
FileHash HashDescriptor(int fd, bool withCrc, const std::atomic<bool>* cancel = nullptr);

// The SHA-256 of a part file, taken on a thread of its own, so the event loop never waits
// while gigabytes are hashed (OpenSSL's SHA-256 runs at 1 to 2 GB/s a core here).
//
// It reads through a descriptor of its own: right behind the writes of a download (the
// writer tells how far the file is written, and the bytes are read back while they are
// still in the page cache, as the rebuild's CRC pass reads the output), or the whole file
// at once (a part already on disk, a part written out of order). Either way the digest is
// that of the bytes that landed in the file. Nothing is copied on the writer's side: a
// hash that falls behind costs no memory and never holds the writer up.
class FileHasher {
public:
    using Done = std::function<void(const FileHash&)>;

    // `fd` open for reading. The thread starts at once and reads only as far as
    // advance() allows, until finish().
    FileHasher(UniqueFd fd, bool withCrc);
    // Stops the thread within one block and drops the result: a `done` not yet run never
    // runs.
    ~FileHasher();
    FileHasher(const FileHasher&) = delete;
    FileHasher& operator=(const FileHasher&) = delete;

    // The file now holds this many bytes, written in order from its start.
    void advance(qint64 written);
    // Nothing more will be written: the thread reads on to the end of the file, then
    // `done` runs on `receiver`'s thread, from its event loop. `receiver` must outlive
    // this object (its own end drops a result still queued for it).
    void finish(QObject* receiver, Done done);

private:
    void run();

    const UniqueFd m_fd;
    const bool m_withCrc;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qint64 m_written = 0;
    bool m_finishing = false;
    QObject* m_receiver = nullptr;
    Done m_done;
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;  // last: starts once everything it uses exists
};
