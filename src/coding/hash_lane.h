#pragma once

#include "coding/sha256.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

// One thread that runs SHA-256 updates in the order they are posted, so that hashing
// runs beside the thread that reads and writes the bytes. Updates of one hash must all
// go to the same lane to stay in order.
class HashLane {
public:
    HashLane();
    ~HashLane();
    HashLane(const HashLane&) = delete;
    HashLane& operator=(const HashLane&) = delete;

    // Queues hash.update(data, size). The bytes must stay as they are until `pending`
    // has been decremented for this update; it is notified when it reaches 0.
    void post(Sha256& hash, const unsigned char* data, std::size_t size, std::atomic<int>& pending);

    // Runs what is queued, ends the thread and rethrows what an update threw. After a
    // failed update the later ones are skipped (their pending counts still drop).
    void finish();

private:
    struct Job {
        Sha256* hash;
        const unsigned char* data;
        std::size_t size;
        std::atomic<int>* pending;
    };
    void run();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_closing = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

// The two halves of a buffer's use count: the last user wakes whoever waits to reuse it.
void ReleaseUse(std::atomic<int>& pending);
void WaitUnused(const std::atomic<int>& pending);
