// Data-server replies are untrusted: any bytes must parse without a crash, and a series reply
// must leave the series within its slots.

#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/QuotePage.h"
#include "market/SeriesReply.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One catalogue and store for the whole run: a fresh 2 MB store per input would only slow
    // the search down.
    static velmora::Catalogue catalogue;
    static velmora::BarStore barStore;
    static const bool initialised = (velmora::InitCatalogue(catalogue), true);
    (void)initialised;
    const std::string body(reinterpret_cast<const char*>(data), size);

    velmora::BarSeries& series = barStore.Series(5, velmora::kHalfHour);
    velmora::StoreSeriesReply(body, series);
    if (series.count < 0 || series.count > velmora::kMaxBars || series.cursor != series.count - 1)
        std::abort();

    velmora::ParseQuotes(body, catalogue, barStore);
    return 0;
}
