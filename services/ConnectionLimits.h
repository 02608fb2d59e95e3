#pragma once

#include <chrono>
#include <cstddef>

namespace velmora::services {

struct ConnectionLimits {
    // The whole request (line, headers and body) must arrive within this time; the library's
    // own timeout is per read, which a client sending a byte now and then never reaches.
    std::chrono::milliseconds requestTime{10000};
    // Each read and each write; also how long a new connection may stay silent.
    std::chrono::milliseconds perRead{5000};
    // At most this many connections of one client address are taken at once; further ones are
    // closed as they arrive. 0: no limit.
    std::size_t perAddress = 0;
    // At most this many connections in all; one more waits up to `admitWait` for a place, then
    // is closed. Every taken connection has a thread of its own, so a slow client never keeps
    // another one waiting for a worker.
    std::size_t total = 512;
    std::chrono::milliseconds admitWait{1000};
    // The request line and the headers must arrive within this time (a client sends them at
    // once); the body may then take up to `requestTime` from the start.
    std::chrono::milliseconds headTime{2000};
    // Bounds of a request, answered 414, 431 or 413: the request line, the head (request line
    // and headers) and the number of header lines, the body (0: a request may carry none).
    std::size_t maxRequestLine = 8 * 1024;
    std::size_t maxHead = 16 * 1024;
    std::size_t maxHeaderLines = 64;
    std::size_t maxBody = 16 * 1024;
};

} // namespace velmora::services
