#include "market/live/QuotePoller.h"

#include "market/QuotePage.h"

namespace velmora {

QuotePoller::QuotePoller(Fetch fetch, std::function<void()> arrived)
    : m_fetch(std::move(fetch)), m_arrived(std::move(arrived))
{
}

bool QuotePoller::poll()
{
    if (m_outstanding || !m_fetch)
        return false;
    m_outstanding = true;
    const std::weak_ptr<char> alive = m_alive;
    m_fetch([this, alive](bool ok, std::string_view body) {
        if (alive.expired())
            return;
        m_outstanding = false;
        if (!ok)
            return;
        ParseQuotes(body);
        if (m_arrived)
            m_arrived();
    });
    return true;
}

} // namespace velmora
