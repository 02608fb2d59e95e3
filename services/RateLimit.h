#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <string>

namespace velmora::services {

// At most `count` events of one key (a client address, a phone number) within any `window`
// seconds. Thread-safe; keys without an event in the window are forgotten.
class RateLimit {
public:
    RateLimit(std::size_t count, std::int64_t window) : m_count(count), m_window(window) {}

    // Seconds until the key may have another event; 0: now.
    std::int64_t waitFor(const std::string& key, std::int64_t now)
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_events.find(key);
        if (found == m_events.end())
            return 0;
        prune(found->second, now);
        if (found->second.size() < m_count)
            return 0;
        return found->second.front() + m_window - now;
    }

    void record(const std::string& key, std::int64_t now)
    {
        const std::lock_guard lock(m_mutex);
        tidy(now);
        m_events[key].push_back(now);
    }

    // Records the event when the key may have it; false (and nothing recorded) when not.
    bool take(const std::string& key, std::int64_t now, std::int64_t& wait)
    {
        const std::lock_guard lock(m_mutex);
        tidy(now);
        std::deque<std::int64_t>& events = m_events[key];
        prune(events, now);
        if (events.size() >= m_count) {
            wait = events.front() + m_window - now;
            return false;
        }
        events.push_back(now);
        wait = 0;
        return true;
    }

private:
    void tidy(std::int64_t now)
    {
        if (m_events.size() <= 100000)
            return;
        for (auto item = m_events.begin(); item != m_events.end();) {
            prune(item->second, now);
            item = item->second.empty() ? m_events.erase(item) : std::next(item);
        }
    }

    void prune(std::deque<std::int64_t>& events, std::int64_t now) const
    {
        while (!events.empty() && events.front() + m_window <= now)
            events.pop_front();
        while (events.size() > m_count)
            events.pop_front();
    }

    std::size_t m_count;
    std::int64_t m_window;
    std::mutex m_mutex;
    std::map<std::string, std::deque<std::int64_t>> m_events;
};

} // namespace velmora::services
