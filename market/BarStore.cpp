#include "market/BarStore.h"

#include <cassert>

namespace velmora {

namespace {
// Static storage: about 2 MB that must never move while views hold references into it.
std::array<CommodityBars, kCommodityCount> g_barStore;
SeriesObserver g_observer;
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
            series.storedAt = 0;
        }
    }
}

void SetSeriesObserver(SeriesObserver observer) { g_observer = std::move(observer); }

void NotifySeriesChanged(int commodity, Period period, SeriesChange change)
{
    if (change == SeriesChange::Delivered && IsValidCommodity(commodity) && IsValidPeriod(period))
        Series(commodity, period).storedAt = 0;
    if (g_observer)
        g_observer(commodity, period, change);
}

} // namespace velmora
