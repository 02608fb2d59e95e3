#pragma once

#include "market/live/QuotePoller.h"
#include "market/live/ServerSync.h"
#include "platform/CallbackQueue.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

// Series through the program's HTTP client (g_pHttpClient), the replies handed to the run's
// thread by `post`. Without a client every fetch fails.
class ClientSeriesTransport final : public SeriesTransport {
public:
    explicit ClientSeriesTransport(Poster post) : m_post(std::move(post)) {}
    void fetch(int commodity, Period period, const std::string& query, Done done) override;
    void abortAll() override;

private:
    Poster m_post;
    // Shared with the handed-over replies, which may outlive the transport.
    std::shared_ptr<std::vector<std::uint64_t>> m_inFlight =
        std::make_shared<std::vector<std::uint64_t>>();
};

// The quote page through the program's HTTP client, the reply handed over by `post`.
QuotePoller::Fetch ClientQuoteFetch(Poster post);

} // namespace velmora
