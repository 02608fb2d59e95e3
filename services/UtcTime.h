#pragma once

#include <ctime>
#include <string>

namespace velmora::services {

// The current time in UTC as "YYYY-MM-DD HH:MM:SS", as the services record it.
inline std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

} // namespace velmora::services
