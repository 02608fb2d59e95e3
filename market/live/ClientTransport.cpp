#include "market/live/ClientTransport.h"

#include "net/HttpClient.h"

#include <algorithm>
#include <memory>

namespace velmora {

namespace {

// A reply handler that hands the reply over to the poster's thread. It travels shared because
// posted work must be copyable; the body itself is never copied.
ReplyHandler HandOver(const Poster& post, std::function<void(bool, std::string_view)> done,
                      std::function<void()> settled = {})
{
    return [post, done = std::move(done), settled = std::move(settled)](HttpReply&& reply) {
        auto owned = std::make_shared<HttpReply>(std::move(reply));
        post([owned, done, settled] {
            if (settled)
                settled();
            done(owned->ok(), owned->body.view());
        });
    };
}

} // namespace

void ClientSeriesTransport::fetch(int, Period, const std::string& query, Done done)
{
    CHttpClient* client = m_client();
    if (client == nullptr) {
        m_post([done] { done(false, {}); });
        return;
    }
    // The handed-over reply runs on this thread, so after the id has been filled in.
    auto id = std::make_shared<std::uint64_t>(0);
    const std::uint64_t started =
        client->startBars(query, HandOver(m_post, std::move(done), [inFlight = m_inFlight, id] {
                              std::erase(*inFlight, *id);
                          }));
    *id = started;
    m_inFlight->push_back(started);
}

void ClientSeriesTransport::abortAll()
{
    if (CHttpClient* client = m_client()) {
        for (std::uint64_t id : *m_inFlight)
            client->abort(id);
    }
    m_inFlight->clear();
}

QuotePoller::Fetch ClientQuoteFetch(ClientAccess access, Poster post)
{
    return [access = std::move(access), post](QuotePoller::Done done) {
        CHttpClient* client = access();
        if (client == nullptr) {
            post([done] {
                HttpReply none;
                none.code = CURLE_FAILED_INIT;
                done(none);
            });
            return;
        }
        client->startQuotes([post, done = std::move(done)](HttpReply&& reply) {
            auto owned = std::make_shared<HttpReply>(std::move(reply));
            post([owned, done] { done(*owned); });
        });
    };
}

} // namespace velmora
