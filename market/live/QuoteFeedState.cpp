#include "market/live/QuoteFeedState.h"

#include "net/TransferFailure.h"
#include "platform/LocalTime.h"

#include <ctime>

namespace velmora {

namespace {

// What counts as a change of a quote: its time or any of its prices.
std::string QuoteKey(const CommodityEntry& entry)
{
    return entry.quoteTime + '|' + entry.lastPrice + '|' + entry.bid + '|' + entry.ask;
}

std::tm LocalTime(QuoteFeedState::TimePoint at)
{
    return LocalFields(QuoteFeedState::Clock::to_time_t(at));
}

// "14:30:05", or "2026-12-07 14:30:05" when `at` is not on the day of `now`.
std::string LocalClock(QuoteFeedState::TimePoint at, QuoteFeedState::TimePoint now)
{
    const std::tm local = LocalTime(at);
    const std::tm today = LocalTime(now);
    const bool sameDay = local.tm_year == today.tm_year && local.tm_yday == today.tm_yday;
    return LocalTimeText(QuoteFeedState::Clock::to_time_t(at),
                         sameDay ? "%H:%M:%S" : "%Y-%m-%d %H:%M:%S");
}

} // namespace

QuoteFeedState::QuoteFeedState(Now now, std::chrono::milliseconds interruptAfter,
                               std::chrono::minutes staleAfter)
    : m_now(std::move(now)), m_interruptAfter(interruptAfter), m_staleAfter(staleAfter)
{
}

void QuoteFeedState::pollStarted()
{
    m_pending = true;
    if (!m_failingSince)
        m_failingSince = m_now();
}

void QuoteFeedState::pollSettled(const HttpReply& reply,
                                 const std::array<CommodityEntry, kCommodityCount>& quotes)
{
    const TimePoint now = m_now();
    m_pending = false;
    if (!reply.ok()) {
        m_failure = TransferFailureText(reply);
        if (!m_failingSince)
            m_failingSince = now;
        return;
    }
    m_lastGood = now;
    m_failingSince.reset();
    m_failure.clear();
    for (int i = 0; i < kCommodityCount; ++i) {
        std::string key = QuoteKey(quotes[i]);
        if (key != m_lastQuote[i]) {
            m_lastQuote[i] = std::move(key);
            m_lastChange[i] = now;
        }
    }
}

bool QuoteFeedState::interrupted() const
{
    return m_failingSince && m_now() - *m_failingSince >= m_interruptAfter;
}

std::string QuoteFeedState::reason() const
{
    if (!m_failure.empty())
        return m_failure;
    return m_pending && m_failingSince ? "服务器没有答复" : "";
}

std::chrono::year_month_day QuoteFeedState::today() const
{
    const std::tm local = LocalTime(m_now());
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

bool QuoteFeedState::changedLately(int commodity, TimePoint now) const
{
    const std::optional<TimePoint>& changed = m_lastChange[commodity];
    return changed && now - *changed < m_staleAfter;
}

std::array<bool, kCommodityCount> QuoteFeedState::staleRows() const
{
    std::array<bool, kCommodityCount> stale{};
    if (interrupted()) {
        stale.fill(true);
        return stale;
    }
    const TimePoint now = m_now();
    int moving = 0;
    for (int i = 0; i < kCommodityCount; ++i)
        moving += changedLately(i, now) ? 1 : 0;
    for (int i = 0; i < kCommodityCount; ++i)
        stale[i] = moving > 0 && !changedLately(i, now);
    return stale;
}

std::string FeedStatusText(const QuoteFeedState& state)
{
    const QuoteFeedState::TimePoint now = state.now();
    const std::optional<QuoteFeedState::TimePoint> good = state.lastGood();
    if (state.interrupted()) {
        std::string text = "行情中断";
        if (good)
            text += "（最后更新 " + LocalClock(*good, now) + "）";
        return text + "：" + state.reason();
    }
    return good ? "行情更新 " + LocalClock(*good, now) : std::string();
}

} // namespace velmora
