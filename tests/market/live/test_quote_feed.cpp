// The quote feed's state under a clock the tests move: when the feed counts as interrupted,
// why, what the status bar says, and which rows of the board are stale.

#include "market/live/QuoteFeedState.h"
#include "tests/support/TestSupport.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <set>

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Quotes = std::array<CommodityEntry, kCommodityCount>;

// 2026-12-08 08:00:00 UTC.
const QuoteFeedState::TimePoint kStart = QuoteFeedState::TimePoint(1796716800s);

HttpReply Failure(int code, int osErrno = 0, std::string headers = {})
{
    HttpReply reply;
    reply.code = code;
    reply.osErrno = osErrno;
    reply.headers = std::move(headers);
    return reply;
}

class QuoteFeedTest : public ::testing::Test {
protected:
    QuoteFeedState state{[this] { return now; }};
    QuoteFeedState::TimePoint now = kStart;
    Quotes quotes;
    test::ScopedTimeZone utc{"UTC"};
};

TEST_F(QuoteFeedTest, InterruptedAfterFifteenSecondsOfFailureUntilTheNextGoodPoll)
{
    enum class Event { None, Good, Fail, Start };
    struct Step {
        std::chrono::milliseconds at; // since kStart
        Event event;
        HttpReply failure;
        bool interrupted;
        std::string status;
        std::string reason;
    };
    const std::string refused = "连接被拒绝【7|111】";
    Step steps[] = {
        {0ms, Event::None, {}, false, "", ""}, // nothing has answered yet
        {0ms, Event::Good, {}, false, "行情更新 08:00:00", ""},
        {5000ms, Event::Fail, Failure(CURLE_COULDNT_CONNECT, ECONNREFUSED), false,
         "行情更新 08:00:00", refused},
        {19999ms, Event::None, {}, false, "行情更新 08:00:00", refused},
        {20000ms, Event::None, {}, true, "行情中断（最后更新 08:00:00）：" + refused, refused},
        {25000ms, Event::Fail, Failure(CURLE_OPERATION_TIMEDOUT), true,
         "行情中断（最后更新 08:00:00）：等待答复超时【28|0】", "等待答复超时【28|0】"},
        // After redirects the last status line is the one that counts.
        {30000ms, Event::Fail,
         Failure(CURLE_HTTP_RETURNED_ERROR, 0,
                 "HTTP/1.1 302 Found\r\nLocation: /x\r\n\r\nHTTP/1.0 503 Service "
                 "Unavailable\r\nServer: x\r\n\r\n"),
         true, "行情中断（最后更新 08:00:00）：服务器答复 HTTP/1.0 503 Service Unavailable",
         "服务器答复 HTTP/1.0 503 Service Unavailable"},
        {31000ms, Event::Fail, Failure(CURLE_HTTP_RETURNED_ERROR), true,
         "行情中断（最后更新 08:00:00）：服务器答复错误状态【22|0】", "服务器答复错误状态【22|0】"},
        {35000ms, Event::Good, {}, false, "行情更新 08:00:35", ""},
        // A poll that never answers interrupts the feed as well, counted from when it went out.
        {40000ms, Event::Start, {}, false, "行情更新 08:00:35", "服务器没有答复"},
        {54999ms, Event::None, {}, false, "行情更新 08:00:35", "服务器没有答复"},
        {55000ms,
         Event::None,
         {},
         true,
         "行情中断（最后更新 08:00:35）：服务器没有答复",
         "服务器没有答复"},
        {60000ms, Event::Fail, Failure(CURLE_RECV_ERROR, ECONNRESET), true,
         "行情中断（最后更新 08:00:35）：连接中断【56|104】", "连接中断【56|104】"},
        // A last good poll of another day shows its date.
        {24h, Event::Fail, Failure(CURLE_COULDNT_RESOLVE_HOST), true,
         "行情中断（最后更新 2026-12-08 08:00:35）：找不到服务器【6|0】", "找不到服务器【6|0】"},
        {24h + 1s, Event::Good, {}, false, "行情更新 08:00:01", ""},
    };
    for (Step& step : steps) {
        now = kStart + step.at;
        switch (step.event) {
        case Event::None:
            break;
        case Event::Start:
            state.pollStarted();
            break;
        case Event::Good:
            state.pollStarted();
            state.pollSettled(HttpReply{}, quotes);
            break;
        case Event::Fail:
            state.pollStarted();
            state.pollSettled(step.failure, quotes);
            break;
        }
        const auto at = std::to_string(step.at.count()) + " ms";
        EXPECT_EQ(state.interrupted(), step.interrupted) << at;
        EXPECT_EQ(FeedStatusText(state), step.status) << at;
        EXPECT_EQ(state.reason(), step.reason) << at;
    }
}

TEST_F(QuoteFeedTest, WithoutAnyGoodPollTheInterruptionNamesOnlyTheReason)
{
    state.pollStarted();
    state.pollSettled(Failure(CURLE_COULDNT_CONNECT, EHOSTUNREACH), quotes);
    now += 15s;
    EXPECT_TRUE(state.interrupted());
    EXPECT_EQ(FeedStatusText(state), "行情中断：网络不可达【7|113】");
    EXPECT_EQ(state.today(), std::chrono::year{2026} / 12 / 8);
}

TEST_F(QuoteFeedTest, RowsStandingStillWhileOthersMoveAreStaleAndAllAreWhileInterrupted)
{
    struct Step {
        std::chrono::seconds at;
        std::set<int> moved; // commodities whose quote changes in this poll
        bool ok;
        std::set<int> stale;
    };
    std::set<int> all;
    for (int i = 0; i < kCommodityCount; ++i)
        all.insert(i);
    std::set<int> allButLast = all;
    allButLast.erase(12);
    std::set<int> allButThree = all;
    allButThree.erase(3);

    const Step steps[] = {
        {0s, all, true, {}},
        {300s, allButLast, true, {}},
        {599s, allButLast, true, {}},
        {600s, allButLast, true, {12}}, // ten minutes without a change while the others move
        {720s, {12}, true, {}},
        // Nothing moves for ten minutes: the market is closed, nobody is singled out.
        {1320s, {}, true, {}},
        {1380s, {3}, true, allButThree},
        {1385s, {3}, false, allButThree},
        {1400s, {3}, false, all}, // failing for fifteen seconds
        {1405s, {3}, true, allButThree},
    };
    int tick = 0;
    for (const Step& step : steps) {
        now = kStart + step.at;
        ++tick;
        for (int i : step.moved)
            quotes[i].lastPrice = std::to_string(tick);
        state.pollStarted();
        state.pollSettled(step.ok ? HttpReply{} : Failure(CURLE_COULDNT_CONNECT, ECONNREFUSED),
                          quotes);
        std::set<int> stale;
        for (int i = 0; i < kCommodityCount; ++i) {
            if (state.staleRows()[i])
                stale.insert(i);
        }
        EXPECT_EQ(stale, step.stale) << step.at.count() << " s";
    }

    // The period is the configured one.
    state.setStaleAfter(std::chrono::minutes(1));
    now += 61s;
    quotes[4].bid = "changed";
    state.pollSettled(HttpReply{}, quotes);
    const auto stale = state.staleRows();
    EXPECT_FALSE(stale[4]);
    EXPECT_TRUE(stale[3]);
}

} // namespace
} // namespace velmora
