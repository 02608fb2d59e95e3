#pragma once

#include "analysis/DrawList.h"
#include "market/Catalogue.h"

#include <array>
#include <string_view>

namespace velmora {

inline constexpr std::string_view kQuoteBoardHeading = "贵金属和直盘外汇实时行情图";

// The real-time quote table of the whole catalogue, scaled to a client area of the given
// size: a black ground, the heading, one line of column titles and one line per commodity in
// red (green while the price is below the day's open), ruled in red. It has no page: it is
// drawn in the client area as it is.
DrawList DrawQuoteBoard(const std::array<CommodityEntry, kCommodityCount>& commodities,
                        int clientWidth, int clientHeight);

} // namespace velmora
