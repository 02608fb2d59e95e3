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
    // At most this many connections of one client address are served at once; 0: no limit.
    std::size_t perAddress = 0;
};

} // namespace velmora::services
