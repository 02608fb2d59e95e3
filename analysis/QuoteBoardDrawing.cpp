#include "analysis/QuoteBoardDrawing.h"

#include "market/TextNumbers.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>

namespace velmora {

namespace {

constexpr int kColumnBands = 13; // the text uses bands 1..11; the outer two are margins
constexpr int kRowBands = 16;    // heading, titles, 13 commodities, one spare
constexpr int kHorizontalRules = 15;
constexpr int kVerticalRules = 16; // the last few fall on or past the right edge

constexpr Pen kRulePen{kRed, 1};

constexpr std::array<std::string_view, 11> kColumnTitles{
    "商品代码", "商品名称", "更新时间", "最新价格", "涨跌幅度", "今开价格",
    "昨收价格", "最高价格", "最低价格", "买入价格", "卖出价格"};

// The clock part of a quote time ("2024-05-06 10:30:05" gives "10:30:05"). The cut is a
// byte offset, moved forward rather than splitting a UTF-8 sequence.
std::string ClockPart(const std::string& quoteTime)
{
    std::size_t from = 11;
    if (quoteTime.size() <= from)
        return {};
    while (from < quoteTime.size() && (static_cast<unsigned char>(quoteTime[from]) & 0xC0) == 0x80)
        ++from;
    return quoteTime.substr(from);
}

// The date at the start of a quote time ("2024-05-06 10:30:05"): four digits, a dash, one or
// two digits, a dash, one or two digits, then a blank or the end.
std::optional<std::chrono::year_month_day> QuoteDate(std::string_view quoteTime)
{
    constexpr int kMinDigits[3] = {4, 1, 1};
    constexpr int kMaxDigits[3] = {4, 2, 2};
    unsigned parts[3] = {};
    std::size_t at = 0;
    for (int k = 0; k < 3; ++k) {
        if (k > 0 && (at >= quoteTime.size() || quoteTime[at++] != '-'))
            return std::nullopt;
        int digits = 0;
        for (; at < quoteTime.size() && quoteTime[at] >= '0' && quoteTime[at] <= '9'; ++at) {
            if (++digits > kMaxDigits[k])
                return std::nullopt;
            parts[k] = parts[k] * 10 + static_cast<unsigned>(quoteTime[at] - '0');
        }
        if (digits < kMinDigits[k])
            return std::nullopt;
    }
    if (at < quoteTime.size() && quoteTime[at] != ' ')
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{static_cast<int>(parts[0])},
                                           std::chrono::month{parts[1]},
                                           std::chrono::day{parts[2]}};
    return date.ok() ? std::optional(date) : std::nullopt;
}

// The time column: the clock of today's quote, the date of an older one. A date after today
// is the server's zone running ahead of ours, not an old quote.
std::string TimeText(const std::string& quoteTime,
                     const std::optional<std::chrono::year_month_day>& today)
{
    const std::optional<std::chrono::year_month_day> date = QuoteDate(quoteTime);
    if (!today || !date || *date >= *today)
        return ClockPart(quoteTime);
    char text[16];
    const auto month = static_cast<unsigned>(date->month());
    const auto day = static_cast<unsigned>(date->day());
    if (date->year() == today->year())
        std::snprintf(text, sizeof text, "%02u-%02u", month, day);
    else
        std::snprintf(text, sizeof text, "%02d-%02u-%02u", static_cast<int>(date->year()) % 100,
                      month, day);
    return text;
}

// The day's range with the precision the price needs.
std::string RangeText(const CommodityEntry& entry)
{
    const double range = LeadingDouble(entry.high) - LeadingDouble(entry.low);
    return FixedDecimals(range, LeadingDouble(entry.lastPrice) >= 10 ? 3 : 5);
}

} // namespace

DrawList DrawQuoteBoard(const std::array<CommodityEntry, kCommodityCount>& commodities,
                        int clientWidth, int clientHeight, const QuoteBoardMarks& marks)
{
    const double cw = static_cast<double>(clientWidth) / kColumnBands;
    const double rh = static_cast<double>(clientHeight) / kRowBands;
    // The font follows the row height; in a window much taller than wide (tiled beside
    // another) that would run the texts into each other, so it is also held to a quarter of
    // a column, about what the widest column text needs.
    const int fh = std::min(static_cast<int>(0.45 * rh), static_cast<int>(cw / 4));
    const Font font{kSongFace, fh, kNormalWeight};

    const auto columnX = [cw](int k) { return static_cast<int>(cw * (k + 1) + cw * 0.05); };
    const auto lineY = [rh](int o) { return static_cast<int>((o + 1.0 / 3.0) * rh + rh); };
    const auto text = [&font](int x, int y, std::string value, Rgb colour) {
        return TextOp{x, y, std::move(value), colour, font, kBlack, true};
    };

    DrawList list;
    list.add(RectOp{0, 0, clientWidth, clientHeight, kBlack, Pen{kBlack, 1}});

    list.add(text(clientWidth / 2 - 7 * fh, static_cast<int>(rh / 3),
                  std::string(kQuoteBoardHeading), kRed));

    for (std::size_t k = 0; k < kColumnTitles.size(); ++k)
        list.add(text(columnX(static_cast<int>(k)), lineY(0), std::string(kColumnTitles[k]), kRed));

    for (int i = 0; i < kCommodityCount; ++i) {
        const CommodityEntry& entry = commodities[i];
        const int y = lineY(i + 1);
        const Rgb colour = marks.stale[i] ? kStaleGrey
                           : LeadingDouble(entry.todayOpen) > LeadingDouble(entry.lastPrice)
                               ? kGreen
                               : kRed;
        const std::array<std::string, 11> columns{
            entry.code,      entry.name,       TimeText(entry.quoteTime, marks.today),
            entry.lastPrice, RangeText(entry), entry.todayOpen,
            entry.prevClose, entry.high,       entry.low,
            entry.bid,       entry.ask};
        for (std::size_t k = 0; k < columns.size(); ++k)
            list.add(text(columnX(static_cast<int>(k)), y, columns[k], colour));
    }

    const int left = static_cast<int>(cw);
    const int right = static_cast<int>(clientWidth - cw);
    for (int i = 0; i < kHorizontalRules; ++i) {
        const int y = static_cast<int>(rh * (i + 1));
        list.add(LineOp{{left, y}, {right, y}, kRulePen});
    }
    const int top = static_cast<int>(rh);
    const int bottom = static_cast<int>(clientHeight - rh);
    for (int i = 0; i < kVerticalRules; ++i) {
        const int x = static_cast<int>(cw * (i + 1));
        list.add(LineOp{{x, top}, {x, bottom}, kRulePen});
    }
    return list;
}

} // namespace velmora
