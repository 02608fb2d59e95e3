// The synchronisation's chains, driven by a fake transport, and once against the reference
// data server: the concurrent run stores exactly what one request after another would.

#include "analysis/AnalysisParams.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/SeriesReply.h"
#include "market/live/QuotePoller.h"
#include "market/live/ServerSync.h"
#include "net/HttpClient.h"
#include "platform/MessageSink.h"
#include "services/DataServer.h"
#include "tests/support/RecordingMessageSink.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace velmora {
namespace {

using namespace std::chrono_literals;

// Keeps every fetch until the test answers it.
class FakeTransport final : public SeriesTransport {
public:
    struct Fetch {
        int commodity;
        Period period;
        std::string query;
        Done done;
    };

    void fetch(int commodity, Period period, const std::string& query, Done done) override
    {
        for (const Fetch& open : pending)
            EXPECT_NE(open.commodity, commodity) << "two requests in flight for one commodity";
        pending.push_back({commodity, period, query, std::move(done)});
        order.emplace_back(commodity, period);
    }
    void abortAll() override { ++aborts; }

    // Answers the pending fetch of `commodity`.
    void answer(int commodity, bool ok, std::string body = {})
    {
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (it->commodity == commodity) {
                Fetch fetch = std::move(*it);
                pending.erase(it);
                fetch.done(ok, std::move(body));
                return;
            }
        }
        ADD_FAILURE() << "no request in flight for " << commodity;
    }

    std::vector<Fetch> pending;
    std::vector<std::pair<int, Period>> order;
    int aborts = 0;
};

std::string OneBar(const std::string& time)
{
    return "\xEF\xBB\xBF" + time + ",1.1,1.2,1.3,1.0,7;<br/>";
}

class SyncRunTest : public ::testing::Test {
protected:
    Catalogue catalogue;
    BarStore barStore;
    void SetUp() override
    {
        InitCatalogue(catalogue);
        barStore.ResetBarStore();
    }
    FakeTransport transport;
    RecordingMessageSink messages;
    const AnalysisParams analysisParams;
};

TEST_F(SyncRunTest, ChainsRunSideBySideEachInItsOrderAndStopAtTheirFirstFailure)
{
    std::vector<int> progress;
    bool finished = false;
    SyncRun run(
        transport, catalogue, barStore, analysisParams.historyCount, messages,
        [&](int settled, int) { progress.push_back(settled); },
        [&](const SyncFailures&, bool cancelled) { finished = !cancelled; });
    run.start();

    // Every commodity's half-hour series at once, in catalogue order.
    ASSERT_EQ(transport.pending.size(), 13u);
    for (int c = 0; c < kCommodityCount; ++c) {
        EXPECT_EQ(transport.pending[c].commodity, c);
        EXPECT_EQ(transport.pending[c].period, kHalfHour);
        EXPECT_NE(transport.pending[c].query.find("&code=" + catalogue[c].code + "&linetype=half"),
                  std::string::npos);
    }

    // Replies in any order: commodity 7 fails at its day series, 2 at its half-hour series
    // (an empty body is a failure too), the rest come through.
    barStore.Series(7, kWeek).count = 42; // never asked for, so kept
    for (int c = kCommodityCount - 1; c >= 0; --c)
        transport.answer(c, c != 2, c == 2 ? "" : OneBar("2016-08-10 14:00:00"));
    transport.answer(7, false);
    for (Period p = kDay; p < kPeriodCount; ++p) {
        for (int c = 0; c < kCommodityCount; ++c) {
            if (c != 2 && c != 7 && !finished)
                transport.answer(c, true, OneBar("2016-08-10 14:00:00"));
        }
    }
    EXPECT_TRUE(transport.pending.empty());
    EXPECT_TRUE(run.finished());
    EXPECT_TRUE(finished);

    // Each chain asked for its periods in order, and no further than its failure.
    std::map<int, std::vector<Period>> asked;
    for (const auto& [commodity, period] : transport.order)
        asked[commodity].push_back(period);
    EXPECT_EQ(asked[2], std::vector<Period>({kHalfHour}));
    EXPECT_EQ(asked[7], std::vector<Period>({kHalfHour, kDay}));
    EXPECT_EQ(asked[0], std::vector<Period>({kHalfHour, kDay, kWeek, kMonth}));
    EXPECT_EQ(barStore.Series(7, kWeek).count, 42);
    EXPECT_EQ(barStore.Series(0, kMonth).count, 1);
    EXPECT_EQ(barStore.Series(2, kHalfHour).count, 0);

    // Failures in catalogue order, whatever the order of the replies.
    const SyncFailures failures = run.failures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].commodity, 2);
    EXPECT_EQ(failures[0].period, kHalfHour);
    EXPECT_EQ(failures[1].commodity, 7);
    EXPECT_EQ(failures[1].period, kDay);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0], SyncCompletionMessage(catalogue, failures));
    EXPECT_LT(messages.messages[0].find(catalogue[2].code),
              messages.messages[0].find(catalogue[7].code));
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), SyncRun::kTotal);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(SyncRunTest, CancelAbortsEveryChainAndLateRepliesChangeNothing)
{
    bool cancelledSeen = false;
    SyncRun run(transport, catalogue, barStore, analysisParams.historyCount, messages, {},
                [&](const SyncFailures&, bool cancelled) { cancelledSeen = cancelled; });
    run.start();
    transport.answer(0, true, OneBar("2016-08-10 14:00:00"));
    transport.answer(1, false);
    run.cancel();
    EXPECT_EQ(transport.aborts, 1);
    EXPECT_TRUE(run.finished());
    EXPECT_TRUE(cancelledSeen);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0], SyncCompletionMessage(catalogue, {{1, kHalfHour}}, true));

    // A reply already on its way when the requests were aborted.
    transport.answer(5, true, OneBar("2016-08-10 14:00:00"));
    EXPECT_EQ(barStore.Series(5, kHalfHour).count, 0);
    EXPECT_EQ(transport.order.size(), 14u); // nothing new was asked for
    EXPECT_EQ(messages.messages.size(), 1u);
}

TEST_F(SyncRunTest, ARunGivenUpWithItsOwnerAbortsSilently)
{
    std::optional<FakeTransport::Fetch> late;
    {
        SyncRun run(transport, catalogue, barStore, analysisParams.historyCount, messages);
        run.start();
        late = std::move(transport.pending[3]);
    }
    EXPECT_EQ(transport.aborts, 1);
    late->done(true, OneBar("2016-08-10 14:00:00")); // the run is gone: ignored
    EXPECT_EQ(barStore.Series(3, kHalfHour).count, 0);
    EXPECT_TRUE(messages.messages.empty());
}

HttpReply Reply(int code, std::string_view body = {})
{
    HttpReply reply;
    reply.code = code;
    reply.body.append(body.data(), body.size(), body.size());
    return reply;
}

TEST(QuotePollerTest, APollWhileOneIsOutstandingIsSkippedAndEveryAnswerSettles)
{
    Catalogue catalogue;
    BarStore barStore;
    InitCatalogue(catalogue);
    std::vector<QuotePoller::Done> fetches;
    std::vector<int> settled;
    QuotePoller poller(
        catalogue, barStore, [&](QuotePoller::Done done) { fetches.push_back(std::move(done)); },
        [&](const HttpReply& reply) { settled.push_back(reply.code); });
    EXPECT_TRUE(poller.poll());
    EXPECT_FALSE(poller.poll());
    EXPECT_FALSE(poller.poll());
    ASSERT_EQ(fetches.size(), 1u);
    fetches[0](Reply(CURLE_OK, "\xEF\xBB\xBFSGY50KG;<br/>EURUSD,x,2016-08-10 "
                               "14:30:05,1.11505,1,1,1,1,1,1.1151;<br/>"));
    EXPECT_EQ(settled, std::vector<int>{CURLE_OK});
    EXPECT_EQ(catalogue[FindCommodity("EURUSD")].lastPrice, "1.11505");
    // A failed poll changes no quote, settles all the same and lets the next tick try again.
    EXPECT_TRUE(poller.poll());
    fetches[1](Reply(CURLE_COULDNT_CONNECT, "EURUSD,x,x,2,2,2,2,2,2,2;<br/>"));
    EXPECT_EQ(settled, (std::vector<int>{CURLE_OK, CURLE_COULDNT_CONNECT}));
    EXPECT_EQ(catalogue[FindCommodity("EURUSD")].lastPrice, "1.11505");
    EXPECT_TRUE(poller.poll());
}

// Against the reference server, with latency on every reply and the market at a fixed time.
TEST(ServerSyncTest, ConcurrentRunStoresWhatSerialRequestsWould)
{
    Catalogue catalogue;
    BarStore barStore;
    const test::TempDir dir;
    const test::ScopedEnv state("XDG_STATE_HOME", dir.str());

    services::DataServerOptions options;
    options.testRoutes = true;
    options.historyDays = 400;
    options.clock = [] { return std::int64_t{1796050800}; }; // 2026-11-30, a Monday
    services::DataServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    services::Fault latency;
    latency.delay = 20ms;
    latency.times = 0;
    server.injectFault(latency);
    Endpoints endpoints;
    endpoints.dataServer.port = server.port();
    {
        CHttpClient client(endpoints, velmora::test::CookieFolder());
        InitCatalogue(catalogue);
        barStore.ResetBarStore();
        RecordingMessageSink messages;
        const AnalysisParams analysisParams;
        EXPECT_TRUE(
            SyncAllFromServer(&client, catalogue, barStore, analysisParams.historyCount, messages)
                .empty());
        EXPECT_EQ(messages.messages, std::vector<std::string>({"完成数据同步"}));

        for (int c = 0; c < kCommodityCount; ++c) {
            for (Period p = 0; p < kPeriodCount; ++p) {
                std::tm now{};
                const std::time_t t = std::time(nullptr);
                localtime_r(&t, &now);
                std::string body;
                ASSERT_EQ(client.FetchBars(SeriesQuery(catalogue[c].code, PeriodLineType(p), now,
                                                       analysisParams.historyCount[p]),
                                           body),
                          0);
                BarSeries serial;
                StoreSeriesReply(body, serial);
                const BarSeries& concurrent = barStore.Series(c, p);
                ASSERT_EQ(concurrent.count, serial.count) << c << "/" << p;
                ASSERT_GT(serial.count, 0);
                EXPECT_EQ(concurrent.cursor, serial.cursor);
                for (int i = 0; i < serial.count; ++i) {
                    const BarRecord& a = concurrent.bars[i];
                    const BarRecord& b = serial.bars[i];
                    ASSERT_TRUE(a.time == b.time && a.open == b.open && a.close == b.close &&
                                a.high == b.high && a.low == b.low && a.volume == b.volume)
                        << c << "/" << p << " bar " << i;
                }
            }
        }
    }
    server.stop();
}

} // namespace
} // namespace velmora
