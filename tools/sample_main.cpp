// velmora-sample: writes a deterministic set of MT4 history files for trying the program
// without a terminal or a data server.

#include "market/TextNumbers.h"
#include "simulator/MarketSimulator.h"
#include "simulator/SampleData.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace {

constexpr std::uint64_t kDefaultSeed = 20260101;
constexpr std::string_view kDefaultEnd = "2026-11-30";

int usage()
{
    std::fputs("usage: velmora-sample --out DIR [--seed N] [--end YYYY-MM-DD] "
               "[--half-hour-bars N]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string out;
    std::uint64_t seed = kDefaultSeed;
    std::string_view endDate = kDefaultEnd;
    int halfHourBars = 1000;

    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string_view value = argv[++i];
        if (option == "--out")
            out = value;
        else if (option == "--seed" && velmora::ParseExactNumber(value, seed))
            continue;
        else if (option == "--end")
            endDate = value;
        else if (option == "--half-hour-bars" && velmora::ParseExactNumber(value, halfHourBars) &&
                 halfHourBars > 0)
            continue;
        else
            return usage();
    }
    // MT4 files keep 32-bit times, and the history needs eleven years after 1970.
    const std::optional<std::int64_t> endDay = velmora::ParseUtcDate(endDate);
    if (out.empty() || !endDay || endDate < "1990-01-01" || endDate > "2037-12-31")
        return usage();

    std::error_code error;
    std::filesystem::create_directories(out, error);
    // The whole end day belongs to the history.
    if (error || !velmora::WriteSampleHistory(out, seed, *endDay + 86400, halfHourBars)) {
        std::fprintf(stderr, "velmora-sample: cannot write the history files into %s\n",
                     out.c_str());
        return 1;
    }
    std::printf("velmora-sample: wrote %d history files to %s (seed %llu, through %s UTC, "
                "%d half-hour bars)\n",
                velmora::kCommodityCount * velmora::kPeriodCount, out.c_str(),
                static_cast<unsigned long long>(seed), std::string(endDate).c_str(), halfHourBars);
    return 0;
}
