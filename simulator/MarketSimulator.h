#pragma once

#include "market/Catalogue.h"
#include "market/HstFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A made-up but plausible market for all 13 catalogue commodities, for demonstrations, tests
// and the reference data server. Prices move tick by tick from `startUtc` on; ticks fall only
// in trading time, Monday 00:00 to Friday 24:00 UTC, and build half-hour, day, week (stamped
// Sunday 00:00) and month bars as a terminal would.
//
// The same seed and start give the same bars on every run and platform, whether the path is
// advanced in one call or in many small ones.
class MarketSimulator {
public:
    // Keeps at least the newest `keepBars` bars of every period; older ones are dropped. Times
    // are seconds since 1970-01-01 00:00 UTC and must not be negative.
    explicit MarketSimulator(std::uint64_t seed, std::int64_t startUtc,
                             std::size_t keepBars = 1000);

    // Plays every commodity's ticks up to, not including, `untilUtc`. Earlier times are
    // ignored: the path only moves forward.
    void advanceTo(std::int64_t untilUtc);

    // Bars of one commodity (0..12) and period (0..3), oldest first; the newest may still be
    // growing. Callers check both ranges.
    const std::vector<hst::Bar>& bars(int commodity, Period period) const;

    // The price of the newest tick; the start price before the first tick.
    double lastPrice(int commodity) const;
    // Time of the newest tick, 0 before the first one.
    std::int64_t lastTickTime(int commodity) const;

    // Catalogue code, decimal digits of the price and typical spread in price points.
    static std::string_view code(int commodity);
    static int digits(int commodity);
    static int spreadPoints(int commodity);

private:
    struct Path {
        std::mt19937_64 engine;
        double price = 0.0;  // unrounded; quotes are rounded to the tick
        double regime = 1.0; // slowly wandering volatility multiplier
        double spareNormal = 0.0;
        bool hasSpareNormal = false;
        std::int64_t lastTick = 0; // trading seconds since m_origin
        std::int64_t nextTick = 0;
        std::int64_t lastTickUtc = 0;
        double lastQuote = 0.0;
        std::array<std::vector<hst::Bar>, kPeriodCount> bars;

        double uniform();
        double normal();
    };

    void playTick(int commodity, Path& path);
    void place(std::vector<hst::Bar>& bars, std::int64_t time, double quote, int spread);
    std::int64_t toUtc(std::int64_t tradingSeconds) const;
    std::int64_t toTradingSeconds(std::int64_t utc) const;

    std::int64_t m_origin; // Monday 00:00 UTC
    std::size_t m_keepBars;
    std::array<Path, kCommodityCount> m_paths;
};

// Midnight UTC at the start of a "YYYY-MM-DD" date; nullopt for anything else.
std::optional<std::int64_t> ParseUtcDate(std::string_view text);
// The UTC date of a time as "YYYY-MM-DD".
std::string FormatUtcDate(std::int64_t utc);

} // namespace velmora
