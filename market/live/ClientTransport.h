#pragma once

#include "market/live/QuotePoller.h"
#include "market/live/ServerSync.h"
#include "platform/CallbackQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace velmora {

class CHttpClient;

// The program's HTTP client at the moment of asking: null before it exists and once its owner
// has let it go.
using ClientAccess = std::function<CHttpClient*()>;

// Series through the program's HTTP client, the replies handed to the run's thread by `post`.
// Without a client every fetch fails.
class ClientSeriesTransport final : public SeriesTransport {
public:
    ClientSeriesTransport(ClientAccess client, Poster post)
        : m_client(std::move(client)), m_post(std::move(post))
    {
    }
    void fetch(int commodity, Period period, const std::string& query, Done done) override;
    void abortAll() override;

private:
    ClientAccess m_client;
    Poster m_post;
    // Shared with the handed-over replies, which may outlive the transport.
    std::shared_ptr<std::vector<std::uint64_t>> m_inFlight =
        std::make_shared<std::vector<std::uint64_t>>();
};

// The quote page through the program's HTTP client, the reply handed over by `post`. Without
// a client every poll fails.
QuotePoller::Fetch ClientQuoteFetch(ClientAccess client, Poster post);

} // namespace velmora
