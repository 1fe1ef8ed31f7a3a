#include "imagelib/detail/thread_pool.h"
#include "imagelib/threads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace KVEL {

namespace {

// Below this many element operations a part is not worth a thread.
constexpr long long kMinWorkPerPart = 1 << 16;
constexpr int kMaxThreads = 256;

int defaultThreadCount() {
    if (const char* text = std::getenv("KVEL_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && n > 0) return static_cast<int>(std::min<long>(n, kMaxThreads));
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int>(std::min<unsigned>(cores, kMaxThreads)) : 1;
}

std::atomic<int> requestedThreads{0};  // 0: not chosen yet

// Waking a sleeping thread costs tens of microseconds on a virtual machine,
// as much as a whole operation on a 512x512 picture. So a worker that has
// finished, and a caller waiting for its workers, first poll for this long
// before they sleep: operations called one after another then hand over at
// once, and an idle pool still sleeps soon after.
constexpr auto kSpinTime = std::chrono::microseconds(200);

template <class Condition>
void spinWhile(Condition condition) {
    const auto until = std::chrono::steady_clock::now() + kSpinTime;
    while (condition() && std::chrono::steady_clock::now() < until) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
}

// Workers started on first use. One job runs at a time; a job asked for
// while another runs (from a second caller thread, or from inside a part)
// runs on its caller's thread instead, so nothing ever waits for itself.
class Pool {
public:
    ~Pool() { resize(0); }

    void run(int parts, const std::function<void(int)>& job) {
        std::unique_lock<std::mutex> busy(m_busy, std::try_to_lock);
        if (!busy.owns_lock()) {
            for (int part = 0; part < parts; ++part) job(part);
            return;
        }
        resize(threadCount() - 1);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_job = &job;
        m_parts = parts;
        m_next = 0;
        m_pending = parts;
        ++m_generation;
        m_wake.notify_all();
        work(lock);
        if (m_pending != 0) {
            lock.unlock();
            spinWhile([&] { return m_pending.load() != 0; });
            lock.lock();
        }
        m_done.wait(lock, [&] { return m_pending == 0; });
        m_job = nullptr;
        // A part that failed (out of memory) fails the whole job, on the caller.
        if (m_error) std::rethrow_exception(std::exchange(m_error, nullptr));
    }

private:
    // Takes parts of the current job until none is left; called with the lock held.
    void work(std::unique_lock<std::mutex>& lock) {
        while (m_job && m_next < m_parts) {
            const int part = m_next++;
            const std::function<void(int)>& job = *m_job;
            lock.unlock();
            std::exception_ptr error;
            try {
                job(part);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error && !m_error) m_error = error;
            if (--m_pending == 0) m_done.notify_all();
        }
    }

    void workerLoop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        unsigned seen = m_generation;
        for (;;) {
            if (!m_stop && m_generation == seen) {
                lock.unlock();
                spinWhile([&] { return m_generation.load() == seen && !m_stop.load(); });
                lock.lock();
            }
            m_wake.wait(lock, [&] { return m_stop || m_generation != seen; });
            if (m_stop) return;
            seen = m_generation;
            work(lock);
        }
    }

    // Called with m_busy held (or at exit): no job is running.
    void resize(int workers) {
        workers = std::max(workers, 0);
        if (static_cast<int>(m_workers.size()) == workers) return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread& worker : m_workers) worker.join();
        m_workers.clear();
        m_stop = false;
        for (int i = 0; i < workers; ++i) m_workers.emplace_back([this] { workerLoop(); });
    }

    std::mutex m_busy;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    std::vector<std::thread> m_workers;
    const std::function<void(int)>* m_job = nullptr;
    int m_parts = 0, m_next = 0;
    // Changed under m_mutex; atomic so that spinning threads may read them without it.
    std::atomic<int> m_pending{0};
    std::atomic<unsigned> m_generation{0};
    std::exception_ptr m_error;
    std::atomic<bool> m_stop{false};
};

Pool& pool() {
    static Pool instance;
    return instance;
}

}  // namespace

int threadCount() {
    int n = requestedThreads.load();
    if (n == 0) {
        int expected = 0;
        requestedThreads.compare_exchange_strong(expected, defaultThreadCount());
        n = requestedThreads.load();
    }
    return n;
}

void setThreadCount(int count) {
    requestedThreads.store(count > 0 ? std::min(count, kMaxThreads) : defaultThreadCount());
}

RowParts::RowParts(long long rows, long long workPerRow) : m_rows(std::max(rows, 0LL)), m_count(1) {
    const long long work = m_rows * std::max(workPerRow, 1LL);
    const long long worthwhile = std::max(work / kMinWorkPerPart, 1LL);
    m_count = static_cast<int>(std::min({static_cast<long long>(threadCount()), m_rows, worthwhile}));
    m_count = std::max(m_count, 1);
}

void RowParts::run(const std::function<void(int)>& job) const {
    if (m_count == 1) {
        job(0);
        return;
    }
    pool().run(m_count, job);
}

}  // namespace KVEL
