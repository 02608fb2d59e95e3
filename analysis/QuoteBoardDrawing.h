#pragma once

#include "analysis/DrawList.h"
#include "market/Catalogue.h"

#include <array>
#include <chrono>
#include <optional>
#include <string_view>

namespace velmora {

inline constexpr std::string_view kQuoteBoardHeading = "贵金属和直盘外汇实时行情图";

// Grey of a commodity line whose quote is stale.
inline constexpr Rgb kStaleGrey{128, 128, 128};

// What the board is told besides the quotes, so that it stays a function of its inputs: the
// lines whose quote is stale, and today's date. A quote dated before today shows its date in
// the time column instead of its clock: "12-07", or "25-12-31" from another year. Without a
// date every quote shows its clock.
struct QuoteBoardMarks {
    std::array<bool, kCommodityCount> stale{};
    std::optional<std::chrono::year_month_day> today;
};

// The real-time quote table of the whole catalogue, scaled to a client area of the given
// size: a black ground, the heading, one line of column titles and one line per commodity in
// red (green while the price is below the day's open, grey while its quote is stale), ruled
// in red. It has no page: it is drawn in the client area as it is.
DrawList DrawQuoteBoard(const std::array<CommodityEntry, kCommodityCount>& commodities,
                        int clientWidth, int clientHeight, const QuoteBoardMarks& marks = {});

} // namespace velmora
