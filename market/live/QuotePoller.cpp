#include "market/live/QuotePoller.h"

#include "market/QuotePage.h"

namespace velmora {

QuotePoller::QuotePoller(Catalogue& catalogue, BarStore& bars, Fetch fetch, Done settled)
    : m_catalogue(catalogue), m_bars(bars), m_fetch(std::move(fetch)), m_settled(std::move(settled))
{
}

bool QuotePoller::poll()
{
    if (m_outstanding || !m_fetch)
        return false;
    m_outstanding = true;
    const std::weak_ptr<char> alive = m_alive;
    m_fetch([this, alive](const HttpReply& reply) {
        if (alive.expired())
            return;
        m_outstanding = false;
        if (reply.ok())
            ParseQuotes(reply.body.view(), m_catalogue, m_bars);
        if (m_settled)
            m_settled(reply);
    });
    return true;
}

} // namespace velmora
