#include "market/store/LocalHistory.h"

#include "market/Catalogue.h"

#include <algorithm>
#include <ctime>

namespace velmora {

namespace {

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

} // namespace

LocalHistory::LocalHistory(BarStore& bars, Report report)
    : m_bars(bars), m_report(std::move(report))
{
}

LocalHistory::~LocalHistory()
{
    if (m_observing)
        m_bars.setObserver({});
    if (m_worker.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_worker.join();
    }
}

bool LocalHistory::open(const std::filesystem::path& file)
{
    const HistoryDb::OpenState state = m_db.open(file);
    const std::string where = file.string();
    switch (state) {
    case HistoryDb::OpenState::Ready:
        break;
    case HistoryDb::OpenState::MovedAside:
        if (m_report)
            m_report("本地数据库" + where + "已损坏（" + m_db.lastError() + "），已改名为" +
                     m_db.movedTo().string() + "，程序使用新的本地数据库继续运行");
        break;
    case HistoryDb::OpenState::NewerFormat:
        if (m_report)
            m_report("本地数据库" + where + "由更新版本的程序写入，本次运行不使用它");
        break;
    case HistoryDb::OpenState::Failed:
        if (m_report)
            m_report("无法打开本地数据库" + where + "（" + m_db.lastError() +
                     "），本次运行的数据只保存在内存中");
        break;
    }
    m_inUse = m_db.isOpen();
    if (m_inUse && !m_worker.joinable())
        m_worker = std::thread([this] { run(); });
    return m_inUse;
}

int LocalHistory::fill(const PeriodValues& historyCount)
{
    if (!m_inUse)
        return 0;
    int filled = 0;
    const std::lock_guard lock(m_dbMutex);
    for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
        for (Period period = 0; period < kPeriodCount; ++period) {
            const int wanted = std::clamp(historyCount[period], 0, kMaxBars);
            auto stored = m_db.readSeries(std::string(CommodityCode(commodity)), period, wanted);
            if (!stored)
                continue;
            BarSeries& series = m_bars.Series(commodity, period);
            const auto count = static_cast<std::int32_t>(stored->bars.size());
            std::move(stored->bars.begin(), stored->bars.end(), series.bars.begin());
            series.count = count;
            series.cursor = count > 0 ? count - 1 : 0;
            series.storedAt = stored->savedAt;
            ++filled;
        }
    }
    return filled;
}

void LocalHistory::writeThrough(int commodity, Period period)
{
    if (!m_inUse || !IsValidCommodity(commodity) || !IsValidPeriod(period))
        return;
    const BarSeries& series = m_bars.Series(commodity, period);
    const auto count = static_cast<std::size_t>(std::clamp(series.count, 0, kMaxBars));
    Job job;
    job.commodity = commodity;
    job.code = CommodityCode(commodity);
    job.period = period;
    job.bars.assign(series.bars.begin(), series.bars.begin() + static_cast<std::ptrdiff_t>(count));
    job.savedAt = Now();
    {
        const std::lock_guard lock(m_mutex);
        bool replaced = false;
        for (Job& queued : m_queue) {
            if (!queued.clear && queued.commodity == commodity && queued.period == period) {
                queued = std::move(job);
                replaced = true;
                break;
            }
        }
        if (!replaced)
            m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void LocalHistory::clear()
{
    if (!m_inUse)
        return;
    {
        const std::lock_guard lock(m_mutex);
        // Whatever was still to be written would only be emptied again.
        m_queue.clear();
        Job job;
        job.clear = true;
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void LocalHistory::flush()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void LocalHistory::observeBarStore()
{
    m_observing = true;
    m_bars.setObserver([this](int commodity, Period period, SeriesChange change) {
        if (change == SeriesChange::Cleared)
            clear();
        else
            writeThrough(commodity, period);
    });
}

std::chrono::nanoseconds LocalHistory::busyTime() const
{
    const std::lock_guard lock(m_mutex);
    return m_busyTime;
}

void LocalHistory::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty()) {
            if (m_stop)
                return;
            continue;
        }
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        bool ok = false;
        std::chrono::nanoseconds spent{0};
        std::string text;
        {
            // The queue stays open to the callers while the database works.
            const std::lock_guard dbLock(m_dbMutex);
            const auto started = std::chrono::steady_clock::now();
            ok = job.clear ? m_db.clear()
                           : m_db.writeSeries(job.code, job.period, job.bars, job.savedAt);
            spent = std::chrono::steady_clock::now() - started;
            if (!ok)
                text = "本地数据库" + m_db.path().string() + "写入失败（" + m_db.lastError() +
                       "），内存中的数据不受影响，但不会保存";
        }
        bool report = false;
        lock.lock();
        m_busyTime += spent;
        m_busy = false;
        if (!ok && !m_writeFailureReported) {
            m_writeFailureReported = true;
            report = true;
        }
        if (report && m_report) {
            lock.unlock();
            m_report(text);
            lock.lock();
        }
        if (m_queue.empty())
            m_idle.notify_all();
    }
}

} // namespace velmora
