#include "market/BarStore.h"

#include <cassert>

namespace velmora {

BarStore::BarStore() : m_bars(std::make_unique<std::array<CommodityBars, kCommodityCount>>()) {}

BarSeries& BarStore::Series(int commodity, Period period)
{
    assert(IsValidCommodity(commodity) && IsValidPeriod(period));
    return (*m_bars)[commodity].series[period];
}

const BarSeries& BarStore::Series(int commodity, Period period) const
{
    assert(IsValidCommodity(commodity) && IsValidPeriod(period));
    return (*m_bars)[commodity].series[period];
}

void BarStore::ResetBarStore()
{
    for (auto& commodity : *m_bars) {
        for (auto& series : commodity.series) {
            series.count = 0;
            series.cursor = 0;
            series.storedAt = 0;
        }
    }
}

void BarStore::setObserver(SeriesObserver observer) { m_observer = std::move(observer); }

void BarStore::notifyChanged(int commodity, Period period, SeriesChange change)
{
    if (change == SeriesChange::Delivered && IsValidCommodity(commodity) && IsValidPeriod(period))
        Series(commodity, period).storedAt = 0;
    if (m_observer)
        m_observer(commodity, period, change);
}

} // namespace velmora
