#pragma once

#include "market/Catalogue.h"
#include "market/SyncReport.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

class BarStore;
class CHttpClient;
class MessageSink;

// Fetches series for a synchronisation run.
class SeriesTransport {
public:
    // The body is valid for the call only.
    using Done = std::function<void(bool ok, std::string_view body)>;
    virtual ~SeriesTransport() = default;
    // Starts fetching one series (`query` as SeriesQuery builds it). `done` runs exactly
    // once, later, on the thread that drives the run, with the body or ok = false.
    virtual void fetch(int commodity, Period period, const std::string& query, Done done) = 0;
    // Ends every fetch still in flight. Their `done` may still come and is then ignored.
    virtual void abortAll() = 0;
};

// One synchronisation of every commodity and period from the data server. Each commodity is
// a chain of its four periods in order, with at most one request in flight, ending at its
// first failure; the 13 chains run side by side. Every reply is stored, and the completion
// message shown, on the thread that calls start() and on which the transport delivers.
class SyncRun {
public:
    // How many of the 52 series are settled (fetched, failed or skipped after a failure).
    using Progress = std::function<void(int settled, int total)>;
    // After the completion message: the failures in catalogue order, and whether the run was
    // cancelled.
    using Finished = std::function<void(const SyncFailures& failures, bool cancelled)>;

    // Each series of `catalogue` asks for the newest `historyCount` bars of its period and is
    // stored in `bars`; both must outlive the run.
    SyncRun(SeriesTransport& transport, const Catalogue& catalogue, BarStore& bars,
            const PeriodValues& historyCount, MessageSink& messages, Progress progress = {},
            Finished finished = {});
    // Aborts what is still in flight, silently: a run given up with its owner says nothing.
    ~SyncRun();
    SyncRun(const SyncRun&) = delete;
    SyncRun& operator=(const SyncRun&) = delete;

    // Starts the first period of every commodity.
    void start();
    // Aborts every request in flight, skips what is still to come and ends the run now, with
    // its completion message.
    void cancel();

    bool finished() const { return m_finished; }
    SyncFailures failures() const;

    static constexpr int kTotal = kCommodityCount * kPeriodCount;

private:
    void request(int commodity, Period period);
    void onReply(int commodity, Period period, bool ok, std::string_view body);
    void endChain(int commodity, bool failed, Period at);
    void finishIfDone();
    void finish(bool cancelled);

    SeriesTransport& m_transport;
    const Catalogue& m_catalogue;
    BarStore& m_bars;
    PeriodValues m_historyCount;
    MessageSink& m_messages;
    Progress m_progress;
    Finished m_finishedCallback;

    std::array<bool, kCommodityCount> m_chainEnded{};
    std::array<int, kCommodityCount> m_failedAt{}; // the failed period, -1 for none
    int m_settled = 0;
    bool m_starting = false;
    bool m_started = false;
    bool m_finished = false;
    // Replies that arrive after the run is gone find this expired.
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};

// Synchronises every series through `client` and waits for the end, taking the replies on
// the calling thread; for programs without an event loop. Reports completion with the
// failures named.
SyncFailures SyncAllFromServer(CHttpClient* client, const Catalogue& catalogue, BarStore& bars,
                               const PeriodValues& historyCount, MessageSink& messages);

} // namespace velmora
