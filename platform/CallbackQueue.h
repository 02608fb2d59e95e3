#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace velmora {

// Hands work to the thread that owns some data: other threads post, the owner runs it.
using Poster = std::function<void(std::function<void()> work)>;

// A poster for programs without an event loop: work posted from any thread waits in a queue
// until the owning thread runs it in runUntil.
class CallbackQueue {
public:
    // Thread-safe. Work posted through poster() after the queue is gone is dropped.
    void post(std::function<void()> work);
    Poster poster() const;

    // Runs posted work, in order, until `done` answers true (checked after each piece) or the
    // time is up. Answers `done()`.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::steady_clock::duration limit = std::chrono::hours(1));

private:
    struct State {
        std::mutex mutex;
        std::condition_variable posted;
        std::deque<std::function<void()>> work;
        void post(std::function<void()> work);
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace velmora
