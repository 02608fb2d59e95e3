#pragma once

#include "market/Catalogue.h"
#include "net/HttpClient.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace velmora {

// What the quote poll has brought lately, for the status bar and the board: when the last
// good poll answered, since when polls have been failing and why, and which commodities'
// quotes have stood still. The clock is injected, so that a test can move time at will.
class QuoteFeedState {
public:
    using Clock = std::chrono::system_clock;
    using TimePoint = Clock::time_point;
    using Now = std::function<TimePoint()>;

    static constexpr std::chrono::milliseconds kInterruptAfter{15000};
    static constexpr std::chrono::minutes kStaleAfter{10};

    explicit QuoteFeedState(Now now = &Clock::now,
                            std::chrono::milliseconds interruptAfter = kInterruptAfter,
                            std::chrono::minutes staleAfter = kStaleAfter);

    // A poll went out. Until it answers it counts as failing from now on, so a server that
    // accepts and then says nothing interrupts the feed too.
    void pollStarted();
    // A poll answered. After a good one `quotes` is what the catalogue holds now, and each
    // commodity whose quote differs from the last good poll's counts as changed now.
    void pollSettled(const HttpReply& reply,
                     const std::array<CommodityEntry, kCommodityCount>& quotes);

    // Polls have failed (or gone unanswered) for the interruption period without a good one.
    bool interrupted() const;
    std::optional<TimePoint> lastGood() const { return m_lastGood; }
    std::optional<TimePoint> failingSince() const { return m_failingSince; }
    // Why the feed fails: the last failed poll's reason, or that the outstanding one has not
    // answered; empty while polls succeed.
    std::string reason() const;

    // Rows to grey out: every row while the feed is interrupted; otherwise a commodity whose
    // quote has not changed for the stale period while another one's has (when all stand
    // still, the market is closed and no row is singled out). A commodity the page never
    // quotes counts as unchanged since the first good poll.
    std::array<bool, kCommodityCount> staleRows() const;

    TimePoint now() const { return m_now(); }
    // The local date by the same clock.
    std::chrono::year_month_day today() const;
    void setStaleAfter(std::chrono::minutes staleAfter) { m_staleAfter = staleAfter; }
    std::chrono::minutes staleAfter() const { return m_staleAfter; }
    std::chrono::milliseconds interruptAfter() const { return m_interruptAfter; }

private:
    bool changedLately(int commodity, TimePoint now) const;

    Now m_now;
    std::chrono::milliseconds m_interruptAfter;
    std::chrono::minutes m_staleAfter;
    std::optional<TimePoint> m_lastGood;
    std::optional<TimePoint> m_failingSince;
    bool m_pending = false;
    std::string m_failure;
    std::array<std::string, kCommodityCount> m_lastQuote;
    std::array<std::optional<TimePoint>, kCommodityCount> m_lastChange;
};

// The status bar's words for the feed: "行情更新 14:30:05" (the last good poll, local time,
// with its date in front when that is not today), "行情中断：REASON" once interrupted, with the
// last good time in brackets when there was one, and empty before any poll has answered.
std::string FeedStatusText(const QuoteFeedState& state);

} // namespace velmora
