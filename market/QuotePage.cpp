#include "market/QuotePage.h"

#include "market/BarRollover.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/ReplyFraming.h"
#include "market/TextNumbers.h"

#include <cmath>
#include <vector>

namespace velmora {

namespace {

void StoreQuote(const std::vector<std::string_view>& fields, Catalogue& catalogue, BarStore& bars)
{
    const int index = FindCommodity(fields.empty() ? std::string_view{} : fields[0]);
    if (!IsValidCommodity(index))
        return;
    auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string_view{}; };
    auto price = [&](std::size_t i) { return FormatQuotePrice(LeadingDouble(field(i))); };

    CommodityEntry& entry = catalogue[index];
    entry.name = std::string(QuoteDisplayName(entry.code));
    entry.quoteTime = std::string(field(2));
    entry.lastPrice = price(3);
    entry.todayOpen = price(4);
    entry.prevClose = price(5);
    entry.high = price(6);
    entry.low = price(7);
    entry.bid = price(8);
    entry.ask = price(9);

    // Only a real selling price may move the running range, and only of the newest bar: a
    // chart stepped back in time must not see its historical bars rewritten.
    const double ask = LeadingDouble(field(9));
    if (!(ask > 0.0) || !std::isfinite(ask))
        return;
    // A quote past the end of a period's newest bar begins the next bar of that period.
    for (Period period = 0; period < kPeriodCount; ++period) {
        if (RollOver(bars.Series(index, period), period, entry.quoteTime, ask))
            bars.notifyChanged(index, period, SeriesChange::RolledOver);
    }
    BarSeries& halfHours = bars.Series(index, kHalfHour);
    if (halfHours.count <= 0 || halfHours.count > kMaxBars)
        return;
    BarRecord& newest = halfHours.bars[halfHours.count - 1];
    if (ask < newest.low)
        newest.low = ask;
    if (ask > newest.high)
        newest.high = ask;
}

} // namespace

void ParseQuotes(std::string_view body, Catalogue& catalogue, BarStore& bars)
{
    ForEachRecord(body, 'S', [&catalogue, &bars](std::string_view record) {
        StoreQuote(SplitFields(record), catalogue, bars);
        return true;
    });
}

} // namespace velmora
