#include "platform/CallbackQueue.h"

namespace velmora {

void CallbackQueue::State::post(std::function<void()> item)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        work.push_back(std::move(item));
    }
    posted.notify_one();
}

void CallbackQueue::post(std::function<void()> work) { m_state->post(std::move(work)); }

Poster CallbackQueue::poster() const
{
    return [state = m_state](std::function<void()> work) { state->post(std::move(work)); };
}

bool CallbackQueue::runUntil(const std::function<bool()>& done,
                             std::chrono::steady_clock::duration limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    State& state = *m_state;
    while (!done()) {
        std::function<void()> work;
        {
            std::unique_lock<std::mutex> lock(state.mutex);
            if (!state.posted.wait_until(lock, deadline, [&state] { return !state.work.empty(); }))
                return done();
            work = std::move(state.work.front());
            state.work.pop_front();
        }
        work();
    }
    return true;
}

} // namespace velmora
