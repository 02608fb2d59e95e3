#include "market/BarStore.h"

#include <cassert>

namespace velmora {

namespace {
// Static storage: about 2 MB that must never move while views hold references into it.
std::array<CommodityBars, kCommodityCount> g_barStore;
} // namespace

BarSeries& Series(int commodity, Period period)
{
    assert(IsValidCommodity(commodity) && IsValidPeriod(period));
    return g_barStore[commodity].series[period];
}

void ResetBarStore()
{
    for (auto& commodity : g_barStore) {
        for (auto& series : commodity.series) {
            series.count = 0;
            series.cursor = 0;
        }
    }
}

} // namespace velmora
