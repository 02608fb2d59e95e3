#pragma once

#include <ctime>
#include <string>

namespace velmora {

// The fields of `t` in the machine's local zone (TZ).
inline std::tm LocalFields(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

// `t` in the local zone as strftime writes `format` (at most 63 bytes).
inline std::string LocalTimeText(std::time_t t, const char* format)
{
    const std::tm local = LocalFields(t);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return std::string(text, length);
}

} // namespace velmora
