#pragma once

#include "market/BarStore.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// A bar time's fields, read from the positions every bar time keeps (see BarRecord).
struct BarClock {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    auto operator<=>(const BarClock&) const = default;
};

// The fields of a bar or quote time; nullopt when they are not a valid date and time.
std::optional<BarClock> ReadBarClock(std::string_view time);

// The start of the period that holds `t`, as the data server times its bars: the half or
// full hour, midnight, the Sunday's midnight, the first of the month.
BarClock PeriodStart(const BarClock& t, Period period);

// The time text of `t` in the form of `pattern` (its separators kept, e.g. "2026.12.08
// 12:30:00" for an MT4 bar), or "YYYY-MM-DD hh:mm:ss" when the pattern is too short.
std::string FormatBarClock(const BarClock& t, std::string_view pattern);

// When the quote time lies beyond the period of the series' newest bar, begins a new bar at
// the quote's period start with every price `price` and volume 0: the oldest bar leaves a
// full series, and the cursor keeps following the newest bar when it was on it, else stays
// on its bar. Answers whether a bar began. A series without a readable newest time, or a
// quote time that cannot be read, is left alone.
bool RollOver(BarSeries& series, Period period, std::string_view quoteTime, double price);

} // namespace velmora
