#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::services {

// Misbehaviour the data server puts on its answers, for tests of the client's failure paths.
// The parts combine: the delay comes first, then the status and the body are replaced, then
// the body is cut or sent slowly or broken off.
struct Fault {
    std::chrono::milliseconds delay{0};    // before anything is answered
    int status = 0;                        // 100..599; 0 keeps the route's own
    std::optional<std::string> body{};     // replaces the route's body
    std::optional<std::size_t> truncate{}; // only the first N bytes are sent (0: empty body)
    // Content-Length announces the whole body, N bytes follow, then the connection closes.
    std::optional<std::size_t> closeAfter{};
    std::size_t bytesPerSecond = 0; // the body drips at this rate; 0 is full speed
    int times = 1;                  // requests it applies to; 0 until cleared
    // Only requests for this commodity code (the query's code=); empty: every request.
    std::string code{};
};

// Reads a fault from the query parameters of the control page:
//   delay_ms=N  status=N  body=TEXT  truncate=N  close_after=N  slow_bytes_per_s=N  times=N
//   only_code=CODE
// `param` answers a parameter's value, nullopt when absent. Answers nullopt, with the reason
// in `*error`, for a malformed value.
std::optional<Fault>
ParseFault(const std::function<std::optional<std::string>(std::string_view)>& param,
           std::string* error);

// The fault waiting for the next requests. Thread-safe.
class FaultInjector {
public:
    // Replaces any fault still waiting.
    void set(const Fault& fault);
    void clear();
    // The fault for the request now being answered (for commodity `code`, empty when it
    // names none), if any; counts the request against it.
    std::optional<Fault> take(std::string_view code);

private:
    std::mutex m_mutex;
    std::optional<Fault> m_fault;
    int m_remaining = 0; // 0 with a fault set: until cleared
};

} // namespace velmora::services
