#include "market/live/ServerSync.h"

#include "market/BarStore.h"
#include "market/SeriesReply.h"
#include "market/live/ClientTransport.h"
#include "platform/CallbackQueue.h"
#include "platform/MessageSink.h"

#include <cstdio>
#include <ctime>

namespace velmora {

SyncRun::SyncRun(SeriesTransport& transport, const Catalogue& catalogue, BarStore& bars,
                 const PeriodValues& historyCount, MessageSink& messages, Progress progress,
                 Finished finished)
    : m_transport(transport), m_catalogue(catalogue), m_bars(bars), m_historyCount(historyCount),
      m_messages(messages), m_progress(std::move(progress)), m_finishedCallback(std::move(finished))
{
    m_failedAt.fill(-1);
}

SyncRun::~SyncRun()
{
    if (m_started && !m_finished)
        m_transport.abortAll();
}

void SyncRun::start()
{
    if (m_started)
        return;
    m_started = true;
    // A message shown while the chains are being started lets replies of the first chains
    // in; the run cannot end before every chain has started.
    m_starting = true;
    for (int commodity = 0; commodity < kCommodityCount && !m_finished; ++commodity)
        request(commodity, kHalfHour);
    m_starting = false;
    finishIfDone();
}

void SyncRun::request(int commodity, Period period)
{
    const CommodityEntry& entry = m_catalogue[commodity];
    const int index = FindCommodity(entry.code);
    if (!IsValidCommodity(index)) {
        char text[256];
        std::snprintf(text, sizeof text, "同步失败:商品代码%s|%d错误", entry.code.c_str(), index);
        m_messages.showMessage(text);
        endChain(commodity, true, period);
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string query =
        SeriesQuery(entry.code, PeriodLineType(period), local, m_historyCount[period]);
    const std::weak_ptr<char> alive = m_alive;
    m_transport.fetch(index, period, query,
                      [this, alive, index, period](bool ok, std::string_view body) {
                          if (!alive.expired())
                              onReply(index, period, ok, body);
                      });
}

void SyncRun::onReply(int commodity, Period period, bool ok, std::string_view body)
{
    if (m_finished || m_chainEnded[commodity])
        return;
    if (!ok || body.empty()) {
        endChain(commodity, true, period);
        return;
    }
    StoreSeriesReply(body, m_bars.Series(commodity, period));
    m_bars.notifyChanged(commodity, period, SeriesChange::Delivered);
    ++m_settled;
    if (m_progress)
        m_progress(m_settled, kTotal);
    if (period + 1 < kPeriodCount)
        request(commodity, period + 1);
    else
        endChain(commodity, false, period);
}

void SyncRun::endChain(int commodity, bool failed, Period at)
{
    m_chainEnded[commodity] = true;
    if (failed) {
        m_failedAt[commodity] = at;
        // The failed period and the ones it skips are settled too.
        m_settled += kPeriodCount - at;
        if (m_progress)
            m_progress(m_settled, kTotal);
    }
    finishIfDone();
}

void SyncRun::finishIfDone()
{
    if (m_starting || m_finished)
        return;
    for (bool ended : m_chainEnded) {
        if (!ended)
            return;
    }
    finish(false);
}

void SyncRun::cancel()
{
    if (!m_started || m_finished)
        return;
    m_transport.abortAll();
    finish(true);
}

SyncFailures SyncRun::failures() const
{
    SyncFailures failures;
    for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
        if (m_failedAt[commodity] >= 0)
            failures.push_back({commodity, static_cast<Period>(m_failedAt[commodity])});
    }
    return failures;
}

void SyncRun::finish(bool cancelled)
{
    m_finished = true;
    const SyncFailures failed = failures();
    // The owner may close its progress display and even let the run go in the callback.
    const std::weak_ptr<char> alive = m_alive;
    m_messages.showMessage(SyncCompletionMessage(m_catalogue, failed, cancelled));
    if (!alive.expired() && m_finishedCallback)
        m_finishedCallback(failed, cancelled);
}

SyncFailures SyncAllFromServer(CHttpClient* client, const Catalogue& catalogue, BarStore& bars,
                               const PeriodValues& historyCount, MessageSink& messages)
{
    CallbackQueue queue;
    ClientSeriesTransport transport([client] { return client; }, queue.poster());
    SyncRun run(transport, catalogue, bars, historyCount, messages);
    run.start();
    queue.runUntil([&run] { return run.finished(); });
    return run.failures();
}

} // namespace velmora
