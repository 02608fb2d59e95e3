#pragma once

#include <string>
#include <utility>

namespace velmora {

// Reports a failure the library way: stores `reason` in `*error` when the caller asked for it
// and returns false, so that a failing path reads `return Fail(error, "...");`.
inline bool Fail(std::string* error, std::string reason)
{
    if (error != nullptr)
        *error = std::move(reason);
    return false;
}

} // namespace velmora
