#pragma once

#include "market/Catalogue.h"
#include "market/HstFile.h"
#include "services/WireFormat.h"
#include "simulator/MarketSimulator.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::services {

// The market behind the data server: either the simulator, played forward to the clock on
// every read so that quotes move and the newest bars grow, or the bars of a folder of MT4
// history files, served as they are. Safe to use from several threads.
class MarketSource {
public:
    // A simulated market whose history starts at `startUtc`.
    static std::unique_ptr<MarketSource> simulated(std::uint64_t seed, std::int64_t startUtc);
    // The history files DIR/CODE30.hst ... DIR/CODE43200.hst of the 13 catalogue commodities.
    // Missing files leave their series empty; answers null, with the reason in `*error`, when
    // a file that is there cannot be read or not a single file is there.
    static std::unique_ptr<MarketSource> fromHistory(const std::filesystem::path& dir,
                                                     std::string* error);

    // One quote per catalogue commodity that has any bars, plus the larger silver contracts
    // that the exchange quotes beside the catalogue's.
    std::vector<Quote> quotes(std::int64_t nowUtc);

    // Up to `count` bars of the commodity and period whose time is not after `endUtc`, the
    // newest first. Nullopt for a code outside the catalogue.
    std::optional<std::vector<hst::Bar>> series(std::string_view code, Period period,
                                                std::int64_t endUtc, std::size_t count,
                                                std::int64_t nowUtc);

    // Decimals of the commodity's prices.
    int digits(int commodity) const { return m_digits[commodity]; }

private:
    MarketSource() = default;

    void advance(std::int64_t nowUtc);
    const std::vector<hst::Bar>& bars(int commodity, Period period) const;
    double lastPrice(int commodity) const;
    std::int64_t lastTime(int commodity) const;

    std::mutex m_mutex;
    std::unique_ptr<MarketSimulator> m_simulator;
    std::array<std::array<std::vector<hst::Bar>, kPeriodCount>, kCommodityCount> m_history;
    std::array<int, kCommodityCount> m_digits{};
};

// Reads every bar of one MT4 history file (version 400 or 401) and its price digits.
// Answers false with the reason in `*error`.
bool ReadHistoryFile(const std::filesystem::path& file, std::vector<hst::Bar>& bars, int& digits,
                     std::string* error);

} // namespace velmora::services
