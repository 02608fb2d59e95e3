#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace velmora {

// The quote poll of the main window's timer, without waiting: a poll starts the fetch of the
// quote page and returns; the reply is parsed into the catalogue on the thread the fetch
// delivers to, and then `arrived` runs. A poll while one is outstanding is skipped.
class QuotePoller {
public:
    // The body is valid for the call only.
    using Done = std::function<void(bool ok, std::string_view body)>;
    // Starts fetching the quote page; `done` runs exactly once, later, on the poller's thread.
    using Fetch = std::function<void(Done done)>;

    QuotePoller(Fetch fetch, std::function<void()> arrived);

    // Answers whether a poll was started.
    bool poll();
    bool outstanding() const { return m_outstanding; }

private:
    Fetch m_fetch;
    std::function<void()> m_arrived;
    bool m_outstanding = false;
    std::shared_ptr<char> m_alive = std::make_shared<char>();
};

} // namespace velmora
