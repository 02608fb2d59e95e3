// velmora-sample: writes a deterministic set of MT4 history files for trying the program
// without a terminal or a data server.

#include "market/TextNumbers.h"
#include "simulator/MarketSimulator.h"
#include "simulator/SampleData.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace {

constexpr std::uint64_t kDefaultSeed = 20260101;
constexpr std::string_view kDefaultEnd = "2026-11-30";

int Usage()
{
    std::fputs("usage: velmora-sample --out DIR [--seed N] [--end YYYY-MM-DD] "
               "[--half-hour-bars N]\n",
               stderr);
    return 2;
}

// What to write.
struct SampleOptions {
    std::string out;
    std::uint64_t seed = kDefaultSeed;
    std::string endDate{kDefaultEnd};
    std::int64_t endDay = 0; // of endDate, in seconds since 1970
    int halfHourBars = 1000;
};

// Options with a value each; nullopt when one is unknown or bad, or --out is missing.
std::optional<SampleOptions> ParseArguments(int argc, char** argv)
{
    SampleOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string_view value = argv[++i];
        if (option == "--out")
            options.out = value;
        else if (option == "--seed" && velmora::ParseExactNumber(value, options.seed))
            continue;
        else if (option == "--end")
            options.endDate = value;
        else if (option == "--half-hour-bars" &&
                 velmora::ParseExactNumber(value, options.halfHourBars) && options.halfHourBars > 0)
            continue;
        else
            return std::nullopt;
    }
    // MT4 files keep 32-bit times, and the history needs eleven years after 1970.
    const std::optional<std::int64_t> endDay = velmora::ParseUtcDate(options.endDate);
    if (options.out.empty() || !endDay || options.endDate < "1990-01-01" ||
        options.endDate > "2037-12-31")
        return std::nullopt;
    options.endDay = *endDay;
    return options;
}

int WriteSample(const SampleOptions& options)
{
    std::error_code error;
    std::filesystem::create_directories(options.out, error);
    // The whole end day belongs to the history.
    if (error || !velmora::WriteSampleHistory(options.out, options.seed, options.endDay + 86400,
                                              options.halfHourBars)) {
        std::fprintf(stderr, "velmora-sample: cannot write the history files into %s\n",
                     options.out.c_str());
        return 1;
    }
    std::printf("velmora-sample: wrote %d history files to %s (seed %llu, through %s UTC, "
                "%d half-hour bars)\n",
                velmora::kCommodityCount * velmora::kPeriodCount, options.out.c_str(),
                static_cast<unsigned long long>(options.seed), options.endDate.c_str(),
                options.halfHourBars);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::optional<SampleOptions> options = ParseArguments(argc, argv);
    return options ? WriteSample(*options) : Usage();
}
