#include "simulator/MarketSimulator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

namespace velmora {

namespace {

constexpr std::int64_t kDaySeconds = 86400;
constexpr std::int64_t kWeekSeconds = 7 * kDaySeconds;
constexpr std::int64_t kTradingWeekSeconds = 5 * kDaySeconds;
constexpr std::int64_t kHalfHourSeconds = 1800;

struct Instrument {
    std::string_view code;
    double basePrice; // the level the price drifts back to
    int digits;
    double dailyVolatility; // standard deviation of a trading day's return
    int spreadPoints;
};

// Volatilities are set so that the value chart's default windows, read with the catalogue's
// price units, give a useful number of rows: a few dozen for a day of half-hours, no more than
// a couple of hundred for the longer periods.
constexpr std::array<Instrument, kCommodityCount> kInstruments{{
    {"SGY15KG", 7500.0, 0, 0.0078, 10},
    {"SGXPD", 300.0, 2, 0.0080, 40},
    {"SGXPT", 230.0, 2, 0.0180, 40},
    {"LLSUSD", 30.0, 3, 0.0140, 30},
    {"CNH", 7.2, 4, 0.0035, 30},
    {"EURUSD", 1.08, 5, 0.0095, 12},
    {"GBPUSD", 1.27, 5, 0.0090, 18},
    {"USDJPY", 150.0, 3, 0.0080, 15},
    {"AUDUSD", 0.66, 5, 0.0140, 15},
    {"USDCHF", 0.88, 5, 0.0120, 17},
    {"USDCAD", 1.36, 5, 0.0080, 20},
    {"NZDUSD", 0.60, 5, 0.0150, 22},
    {"LLGUSD", 2400.0, 2, 0.0055, 40},
}};

// Relative activity by UTC hour: quiet late in the American evening, busiest when London and
// New York overlap. Scales both the tick rate and the volatility.
constexpr std::array<double, 24> kActivity{0.8, 0.9, 0.9, 0.8, 0.7, 0.7, 0.8, 1.1,
                                           1.2, 1.1, 1.0, 1.0, 1.2, 1.4, 1.5, 1.3,
                                           1.1, 0.9, 0.8, 0.8, 0.7, 0.6, 0.6, 0.7};

constexpr double kMeanTickInterval = 120.0; // seconds at activity 1
constexpr double kReversionPerDay = 1.0 / 120.0;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b)
{
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(y, 400);
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

CivilDate CivilFromDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = FloorDiv(days, 146097);
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// The C libraries disagree in the last bit of log(); one such bit, compounded over millions of
// ticks, eventually moves a rounded price, and sample files must be identical everywhere. This
// uses only operations IEEE 754 rounds exactly. A normal deviate needs nowhere near full
// precision, so a short series (error below 1e-12) keeps the cost down. Only for x in (0, 1].
double PortableLog(double x)
{
    const auto bits = std::bit_cast<std::uint64_t>(x);
    int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
    double m = std::bit_cast<double>((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);
    if (m > 1.4142135623730951) { // keep m in [sqrt(1/2), sqrt(2)) so |s| < 0.172
        m *= 0.5;
        ++exponent;
    }
    const double s = (m - 1.0) / (m + 1.0);
    const double s2 = s * s;
    const double series =
        1.0 + s2 * (1.0 / 3 + s2 * (1.0 / 5 + s2 * (1.0 / 7 + s2 * (1.0 / 9 + s2 * (1.0 / 11)))));
    constexpr double kLn2 = 0.69314718055994530942;
    return 2.0 * s * series + exponent * kLn2;
}

std::uint64_t SplitMix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

constexpr std::int64_t kLongestTickGap =
    static_cast<std::int64_t>(2 * kMeanTickInterval /
                              *std::min_element(kActivity.begin(), kActivity.end())) +
    1;

// The square root of a tick gap in days; gaps are whole seconds, so a table spares the
// innermost loop a square root.
double SqrtOfDays(std::int64_t seconds)
{
    static const std::array<double, kLongestTickGap + 1> table = [] {
        std::array<double, kLongestTickGap + 1> roots{};
        for (std::size_t i = 0; i < roots.size(); ++i)
            roots[i] = std::sqrt(static_cast<double>(i) / kDaySeconds);
        return roots;
    }();
    return table[static_cast<std::size_t>(std::min(seconds, kLongestTickGap))];
}

double PointsPerUnit(int digits)
{
    double scale = 1.0;
    for (int i = 0; i < digits; ++i)
        scale *= 10.0; // exact up to 10^22, unlike some pow() implementations
    return scale;
}

// Prices are positive, so truncating after adding a half rounds to the nearest tick without a
// library call in the innermost loop.
double RoundToTick(double price, double scale)
{
    return static_cast<double>(static_cast<std::int64_t>(price * scale + 0.5)) / scale;
}

} // namespace

double MarketSimulator::Path::uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }

// Box–Muller in its polar form, which needs no sine or cosine.
double MarketSimulator::Path::normal()
{
    if (hasSpareNormal) {
        hasSpareNormal = false;
        return spareNormal;
    }
    double u = 0.0;
    double v = 0.0;
    double s = 0.0;
    do {
        // 32 bits per coordinate are plenty here and halve the draws.
        const std::uint64_t bits = engine();
        u = static_cast<double>(bits >> 32) * 0x1.0p-31 - 1.0;
        v = static_cast<double>(bits & 0xffffffffU) * 0x1.0p-31 - 1.0;
        s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double factor = std::sqrt(-2.0 * PortableLog(s) / s);
    spareNormal = v * factor;
    hasSpareNormal = true;
    return u * factor;
}

MarketSimulator::MarketSimulator(std::uint64_t seed, std::int64_t startUtc, std::size_t keepBars)
    : m_keepBars(std::max<std::size_t>(keepBars, 1))
{
    const std::int64_t day = FloorDiv(startUtc, kDaySeconds);
    const std::int64_t mondayBased = ((day + 3) % 7 + 7) % 7; // 1970-01-01 was a Thursday
    m_origin = (day - mondayBased) * kDaySeconds;

    for (int i = 0; i < kCommodityCount; ++i) {
        Path& path = m_paths[i];
        path.engine.seed(SplitMix(seed ^ SplitMix(static_cast<std::uint64_t>(i) + 1)));
        path.price = kInstruments[i].basePrice;
        path.lastQuote = RoundToTick(path.price, PointsPerUnit(kInstruments[i].digits));
        path.nextTick = 1 + static_cast<std::int64_t>(path.uniform() * kMeanTickInterval);
    }
}

std::int64_t MarketSimulator::toUtc(std::int64_t tradingSeconds) const
{
    return m_origin + tradingSeconds / kTradingWeekSeconds * kWeekSeconds +
           tradingSeconds % kTradingWeekSeconds;
}

std::int64_t MarketSimulator::toTradingSeconds(std::int64_t utc) const
{
    if (utc <= m_origin)
        return 0;
    const std::int64_t elapsed = utc - m_origin;
    return elapsed / kWeekSeconds * kTradingWeekSeconds +
           std::min(elapsed % kWeekSeconds, kTradingWeekSeconds);
}

void MarketSimulator::advanceTo(std::int64_t untilUtc)
{
    const std::int64_t limit = toTradingSeconds(untilUtc);
    for (int i = 0; i < kCommodityCount; ++i) {
        Path& path = m_paths[i];
        while (path.nextTick < limit)
            playTick(i, path);
    }
}

void MarketSimulator::playTick(int commodity, Path& path)
{
    const Instrument& instrument = kInstruments[commodity];
    const std::int64_t tick = path.nextTick;
    const std::int64_t utc = toUtc(tick);
    const int hour = static_cast<int>(tick % kTradingWeekSeconds % kDaySeconds / 3600);
    const double activity = kActivity[hour];
    const std::int64_t halfHour = utc - utc % kHalfHourSeconds;

    std::vector<hst::Bar>& halfHours = path.bars[kHalfHour];
    const bool opensBar = halfHours.empty() || halfHours.back().time != halfHour;
    if (opensBar) {
        // Calm and hectic spells lasting a few days each.
        path.regime += 0.005 * (1.0 - path.regime) + 0.02 * path.normal();
        path.regime = std::clamp(path.regime, 0.5, 1.8);
    }

    const std::int64_t elapsed = tick - path.lastTick;
    const double days = static_cast<double>(elapsed) / kDaySeconds;
    const double sigma = instrument.dailyVolatility * path.regime * activity * SqrtOfDays(elapsed);
    path.price += path.price * sigma * path.normal() +
                  kReversionPerDay * (instrument.basePrice - path.price) * days;
    path.price = std::max(path.price, 0.2 * instrument.basePrice);

    const double quote = RoundToTick(path.price, PointsPerUnit(instrument.digits));
    path.lastQuote = quote;
    path.lastTick = tick;
    path.lastTickUtc = utc;

    if (opensBar) {
        const std::int64_t dayNumber = utc / kDaySeconds;
        const std::int64_t sunday = dayNumber - (dayNumber + 4) % 7;
        const CivilDate date = CivilFromDays(dayNumber);
        const std::int64_t monthStart = DaysFromCivil(date.year, date.month, 1);
        place(halfHours, halfHour, quote, instrument.spreadPoints);
        place(path.bars[kDay], dayNumber * kDaySeconds, quote, instrument.spreadPoints);
        place(path.bars[kWeek], sunday * kDaySeconds, quote, instrument.spreadPoints);
        place(path.bars[kMonth], monthStart * kDaySeconds, quote, instrument.spreadPoints);
    } else {
        for (std::vector<hst::Bar>& bars : path.bars) {
            hst::Bar& bar = bars.back();
            bar.high = std::max(bar.high, quote);
            bar.low = std::min(bar.low, quote);
            bar.close = quote;
            ++bar.tickVolume;
        }
    }

    const double meanInterval = kMeanTickInterval / activity;
    path.nextTick += 1 + static_cast<std::int64_t>(path.uniform() * (2.0 * meanInterval - 1.0));
}

void MarketSimulator::place(std::vector<hst::Bar>& bars, std::int64_t time, double quote,
                            int spread)
{
    if (!bars.empty() && bars.back().time == time) {
        hst::Bar& bar = bars.back();
        bar.high = std::max(bar.high, quote);
        bar.low = std::min(bar.low, quote);
        bar.close = quote;
        ++bar.tickVolume;
        return;
    }
    // Trimming in batches keeps the cost per bar constant.
    if (bars.size() >= 2 * m_keepBars)
        bars.erase(bars.begin(), bars.end() - static_cast<std::ptrdiff_t>(m_keepBars - 1));
    hst::Bar bar;
    bar.time = time;
    bar.open = bar.high = bar.low = bar.close = quote;
    bar.tickVolume = 1;
    bar.spread = spread;
    bars.push_back(bar);
}

const std::vector<hst::Bar>& MarketSimulator::bars(int commodity, Period period) const
{
    return m_paths[commodity].bars[period];
}

double MarketSimulator::lastPrice(int commodity) const { return m_paths[commodity].lastQuote; }

std::int64_t MarketSimulator::lastTickTime(int commodity) const
{
    return m_paths[commodity].lastTickUtc;
}

std::string_view MarketSimulator::code(int commodity) { return kInstruments[commodity].code; }

int MarketSimulator::digits(int commodity) { return kInstruments[commodity].digits; }

int MarketSimulator::spreadPoints(int commodity) { return kInstruments[commodity].spreadPoints; }

std::optional<std::int64_t> ParseUtcDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    auto number = [&](std::size_t from, std::size_t length) -> int {
        int value = 0;
        for (std::size_t i = from; i < from + length; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    const int year = number(0, 4);
    const int month = number(5, 2);
    const int day = number(8, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1)
        return std::nullopt;
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    const CivilDate check = CivilFromDays(days);
    if (check.month != static_cast<unsigned>(month) || check.day != static_cast<unsigned>(day))
        return std::nullopt; // 2026-02-30 and the like
    return days * kDaySeconds;
}

std::string FormatUtcDate(std::int64_t utc)
{
    const CivilDate date = CivilFromDays(FloorDiv(utc, kDaySeconds));
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(date.year),
                  date.month, date.day);
    return text;
}

} // namespace velmora
