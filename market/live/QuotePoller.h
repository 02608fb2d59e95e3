#pragma once

#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "net/HttpClient.h"

#include <functional>
#include <memory>

namespace velmora {

// The quote poll of the main window's timer, without waiting: a poll starts the fetch of the
// quote page and returns; a good reply is parsed into `catalogue` and `bars` (which must
// outlive the poller) on the thread the fetch
// delivers to, and then `settled` runs with the reply, whether the poll succeeded or not. A
// poll while one is outstanding is skipped.
class QuotePoller {
public:
    // The reply is valid for the call only.
    using Done = std::function<void(const HttpReply& reply)>;
    // Starts fetching the quote page; `done` runs exactly once, later, on the poller's thread.
    using Fetch = std::function<void(Done done)>;

    QuotePoller(Catalogue& catalogue, BarStore& bars, Fetch fetch, Done settled);

    // Answers whether a poll was started.
    bool poll();
    bool outstanding() const { return m_outstanding; }

private:
    Catalogue& m_catalogue;
    BarStore& m_bars;
    Fetch m_fetch;
    Done m_settled;
    bool m_outstanding = false;
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};

} // namespace velmora
