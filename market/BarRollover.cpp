#include "market/BarRollover.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace velmora {

namespace {

bool ReadField(std::string_view text, std::size_t at, std::size_t count, int& value)
{
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

} // namespace

std::optional<BarClock> ReadBarClock(std::string_view time)
{
    BarClock t;
    if (time.size() < 16 || !ReadField(time, 0, 4, t.year) || !ReadField(time, 5, 2, t.month) ||
        !ReadField(time, 8, 2, t.day) || !ReadField(time, 11, 2, t.hour) ||
        !ReadField(time, 14, 2, t.minute))
        return std::nullopt;
    if (time.size() >= 19 && !ReadField(time, 17, 2, t.second))
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(t.year),
                                           std::chrono::month(static_cast<unsigned>(t.month)),
                                           std::chrono::day(static_cast<unsigned>(t.day))};
    if (!date.ok() || t.hour > 23 || t.minute > 59 || t.second > 59)
        return std::nullopt;
    return t;
}

BarClock PeriodStart(const BarClock& t, Period period)
{
    BarClock start{t.year, t.month, t.day, 0, 0, 0};
    switch (period) {
    case kHalfHour:
        start.hour = t.hour;
        start.minute = t.minute < 30 ? 0 : 30;
        break;
    case kDay:
        break;
    case kWeek: {
        using namespace std::chrono;
        const sys_days day{year(t.year) / month(static_cast<unsigned>(t.month)) /
                           std::chrono::day(static_cast<unsigned>(t.day))};
        const year_month_day sunday{day - (weekday(day) - Sunday)};
        start.year = static_cast<int>(sunday.year());
        start.month = static_cast<int>(static_cast<unsigned>(sunday.month()));
        start.day = static_cast<int>(static_cast<unsigned>(sunday.day()));
        break;
    }
    default:
        start.day = 1;
        break;
    }
    return start;
}

std::string FormatBarClock(const BarClock& t, std::string_view pattern)
{
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    std::string result(text);
    if (pattern.size() >= 19) {
        for (std::size_t at : {4u, 7u, 10u, 13u, 16u})
            result[at] = pattern[at];
    }
    return result;
}

bool RollOver(BarSeries& series, Period period, std::string_view quoteTime, double price)
{
    if (series.count <= 0 || series.count > kMaxBars)
        return false;
    const std::string& newestTime = series.bars[static_cast<std::size_t>(series.count - 1)].time;
    const auto newest = ReadBarClock(newestTime);
    const auto quote = ReadBarClock(quoteTime);
    if (!newest || !quote)
        return false;
    const BarClock start = PeriodStart(*quote, period);
    if (!(PeriodStart(*newest, period) < start))
        return false;

    const bool onNewest = series.cursor == series.count - 1;
    if (series.count == kMaxBars) {
        std::move(series.bars.begin() + 1, series.bars.end(), series.bars.begin());
        --series.count;
        if (!onNewest)
            series.cursor = std::max(series.cursor - 1, 0);
    }
    BarRecord& bar = series.bars[static_cast<std::size_t>(series.count)];
    bar.time = FormatBarClock(start, newestTime);
    bar.open = bar.high = bar.low = bar.close = price;
    bar.volume = 0;
    ++series.count;
    if (onNewest)
        series.cursor = series.count - 1;
    return true;
}

} // namespace velmora
