#pragma once

// Splits an operation's independent output rows over the library's threads.
// Each row is written by exactly one part, and parts are numbered, so callers
// keep per-part reductions (ranges, counts) and combine them in part order:
// the results do not depend on the thread count.

#include <functional>

namespace KVEL {

class RowParts {
public:
    // rows rows of about workPerRow element operations each. Small jobs get
    // one part, which runs on the caller's thread: waking workers costs more.
    RowParts(long long rows, long long workPerRow);

    int count() const { return m_count; }
    long long begin(int part) const { return m_rows * part / m_count; }
    long long end(int part) const { return m_rows * (part + 1) / m_count; }

    // Calls job(part) once for every part; returns when all are done.
    void run(const std::function<void(int part)>& job) const;

    // job(begin, end) for the rows of each part.
    template <class F>
    void forEachRange(F&& job) const {
        run([&](int part) { job(begin(part), end(part)); });
    }

private:
    long long m_rows;
    int m_count;
};

}  // namespace KVEL
