#pragma once

#include "market/BarStore.h"
#include "market/store/HistoryDb.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora {

// The bar store's copy on disk: fills the 52 series at start-up and writes every change of a
// series through to the local store on a worker thread of its own, so that the caller never
// waits on the database. Problems are reported once each, never twice in a run.
class LocalHistory {
public:
    // Gets each problem's message; called on the opening thread or on the worker.
    using Report = std::function<void(const std::string& text)>;

    // Keeps `bars`, which must outlive it, in step with the store.
    LocalHistory(BarStore& bars, Report report);
    // Writes what is still queued, then stops the worker.
    ~LocalHistory();
    LocalHistory(const LocalHistory&) = delete;
    LocalHistory& operator=(const LocalHistory&) = delete;

    // Opens the store (a damaged one is moved aside first); answers whether it is in use.
    bool open(const std::filesystem::path& file);
    bool inUse() const { return m_inUse; }
    const std::filesystem::path& path() const { return m_db.path(); }

    // Replaces every series that the store holds with its newest `historyCount` bars, cursor
    // on the newest, marked with the time they were saved. Answers how many were filled.
    int fill(const PeriodValues& historyCount);

    // Queues a copy of the series' bars; a copy still queued for the series is replaced.
    void writeThrough(int commodity, Period period);
    // Queues the emptying of the whole store.
    void clear();
    // Waits until everything queued is written.
    void flush();

    // Makes this the bar store's observer: every change of a series is written through,
    // an emptying of all series empties the store. Undone by the destructor.
    void observeBarStore();

    // Worker time spent writing so far, for measurements.
    std::chrono::nanoseconds busyTime() const;

private:
    struct Job {
        bool clear = false;
        int commodity = 0;
        std::string code;
        Period period = 0;
        std::vector<BarRecord> bars;
        std::int64_t savedAt = 0;
    };

    void run();

    BarStore& m_bars;
    Report m_report;
    HistoryDb m_db;
    bool m_inUse = false;
    bool m_observing = false;

    std::mutex m_dbMutex;       // the database: the worker, and fill() at start-up
    mutable std::mutex m_mutex; // the queue and the worker's state
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    bool m_busy = false;
    bool m_stop = false;
    bool m_writeFailureReported = false;
    std::chrono::nanoseconds m_busyTime{0};
    std::thread m_worker;
};

} // namespace velmora
