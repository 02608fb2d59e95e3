#include "simulator/SampleData.h"

#include "simulator/MarketSimulator.h"

#include <algorithm>
#include <span>

namespace velmora {

namespace {

// A little more than 130 months, so even an end early in a month leaves enough whole months.
constexpr std::int64_t kHistoryDays = 4100;

} // namespace

bool WriteSampleHistory(const std::string& dir, std::uint64_t seed, std::int64_t endUtc,
                        int halfHourBars)
{
    if (halfHourBars < 1 || endUtc < kHistoryDays * 86400)
        return false;
    const auto wanted = static_cast<std::size_t>(halfHourBars);
    MarketSimulator simulator(seed, endUtc - kHistoryDays * 86400,
                              std::max<std::size_t>(wanted, 1000));
    simulator.advanceTo(endUtc);

    for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
        for (Period period = 0; period < kPeriodCount; ++period) {
            std::span<const hst::Bar> bars = simulator.bars(commodity, period);
            if (period == kHalfHour && bars.size() > wanted)
                bars = bars.last(wanted);
            hst::Header header;
            header.copyright = "Velmora simulated market";
            header.symbol = MarketSimulator::code(commodity);
            header.period = PeriodMt4Suffix(period);
            header.digits = MarketSimulator::digits(commodity);
            const std::string path =
                dir + "/" + header.symbol + std::to_string(PeriodMt4Suffix(period)) + ".hst";
            if (!hst::WriteFile(path, header, bars))
                return false;
        }
    }
    return true;
}

} // namespace velmora
