#include "coding/hash_lane.h"

void ReleaseUse(std::atomic<int>& pending) {
    if (pending.fetch_sub(1, std::memory_order_acq_rel) == 1)
        pending.notify_all();
}

void WaitUnused(const std::atomic<int>& pending) {
    for (int users = pending.load(std::memory_order_acquire); users != 0; users = pending.load(std::memory_order_acquire))
        pending.wait(users, std::memory_order_acquire);
}

HashLane::HashLane() : m_thread([this] { run(); }) {}

HashLane::~HashLane() {
    // An unwinding owner still has to stop the thread; a failure it had is no news then.
    if (m_thread.joinable()) {
        try {
            finish();
        } catch (...) {
        }
    }
}

void HashLane::post(Sha256& hash, const unsigned char* data, std::size_t size, std::atomic<int>& pending) {
    {
        const std::lock_guard lock(m_mutex);
        m_jobs.push_back({&hash, data, size, &pending});
    }
    m_wake.notify_one();
}

void HashLane::finish() {
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    m_thread.join();
    if (m_failure)
        std::rethrow_exception(m_failure);
}

void HashLane::run() {
    for (;;) {
        Job job{};
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_closing || !m_jobs.empty(); });
            if (m_jobs.empty())
                return;
            job = m_jobs.front();
            m_jobs.pop_front();
        }
        if (!m_failure) {
            try {
                job.hash->update(job.data, job.size);
            } catch (...) {
                m_failure = std::current_exception();
            }
        }
        ReleaseUse(*job.pending);
    }
}
