#include "services/MarketSource.h"

#include "market/Mt4Import.h"
#include "platform/Failure.h"
#include "platform/PosixFile.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace velmora::services {

namespace {

// Bars every period keeps; more than a client can ask for (501).
constexpr std::size_t kKeepBars = 600;

// Offset of the price digits in a history file's header.
constexpr std::size_t kDigitsOffset = 84;

// The exchange also quotes larger contracts of the catalogue's silver; clients skip them.
struct ExtraContract {
    std::string_view code;
    std::string_view name;
    int base; // the catalogue commodity whose price it carries
};
constexpr std::array<ExtraContract, 2> kExtraContracts{{
    {"SGY50KG", "沈贵银50千克", 0},
    {"SGY100KG", "沈贵银100千克", 0},
}};

std::int32_t ReadInt32(std::span<const unsigned char> bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

double PointSize(int digits) { return std::pow(10.0, -digits); }

} // namespace

bool ReadHistoryFile(const std::filesystem::path& file, std::vector<hst::Bar>& bars, int& digits,
                     std::string* error)
{
    const ReadableFile opened = OpenForReading(file);
    std::string text;
    if (!opened.ok() || !ReadToEnd(opened.fd.get(), text))
        return Fail(error, file.string() + ": cannot be read (" +
                               (opened.ok() ? std::string("read error") : opened.reason()) + ")");
    const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(text.data()),
                                               text.size());
    if (bytes.size() < hst::kHeaderSize)
        return Fail(error, file.string() + ": shorter than a history file header");
    const std::int32_t version =
        hst::DecodeVersion(std::span<const unsigned char, 4>(bytes.data(), 4));
    const std::size_t recordSize = hst::RecordSize(version);
    if (recordSize == 0)
        return Fail(error,
                    file.string() + ": unknown history file version " + std::to_string(version));
    digits = std::clamp(ReadInt32(bytes, kDigitsOffset), 0, 10);
    bars.clear();
    const std::size_t records = (bytes.size() - hst::kHeaderSize) / recordSize;
    bars.reserve(records);
    for (std::size_t i = 0; i < records; ++i) {
        const std::span<const unsigned char> record(
            bytes.data() + hst::kHeaderSize + i * recordSize, recordSize);
        bars.push_back(hst::DecodeRecord(version, record));
    }
    return true;
}

std::unique_ptr<MarketSource> MarketSource::simulated(std::uint64_t seed, std::int64_t startUtc)
{
    std::unique_ptr<MarketSource> source(new MarketSource);
    source->m_simulator = std::make_unique<MarketSimulator>(seed, startUtc, kKeepBars);
    for (int c = 0; c < kCommodityCount; ++c)
        source->m_digits[c] = MarketSimulator::digits(c);
    return source;
}

std::unique_ptr<MarketSource> MarketSource::fromHistory(const std::filesystem::path& dir,
                                                        std::string* error)
{
    std::unique_ptr<MarketSource> source(new MarketSource);
    int filesRead = 0;
    for (int c = 0; c < kCommodityCount; ++c) {
        source->m_digits[c] = MarketSimulator::digits(c);
        for (Period p = 0; p < kPeriodCount; ++p) {
            const std::string path = Mt4HistoryPath(dir.string(), MarketSimulator::code(c), p);
            std::error_code ignored;
            if (!std::filesystem::exists(path, ignored))
                continue;
            int digits = 0;
            // Serving the other files would quietly answer this series with no bars.
            if (!ReadHistoryFile(path, source->m_history[c][p], digits, error))
                return nullptr;
            source->m_digits[c] = digits;
            ++filesRead;
        }
    }
    if (filesRead == 0) {
        Fail(error, dir.string() + ": no MT4 history files of the catalogue");
        return nullptr;
    }
    return source;
}

void MarketSource::advance(std::int64_t nowUtc)
{
    if (m_simulator)
        m_simulator->advanceTo(nowUtc + 1); // the tick of this very second included
}

const std::vector<hst::Bar>& MarketSource::bars(int commodity, Period period) const
{
    return m_simulator ? m_simulator->bars(commodity, period) : m_history[commodity][period];
}

double MarketSource::lastPrice(int commodity) const
{
    if (m_simulator)
        return m_simulator->lastPrice(commodity);
    for (Period p = 0; p < kPeriodCount; ++p) {
        if (!m_history[commodity][p].empty())
            return m_history[commodity][p].back().close;
    }
    return 0.0;
}

std::int64_t MarketSource::lastTime(int commodity) const
{
    if (m_simulator)
        return m_simulator->lastTickTime(commodity);
    for (Period p = 0; p < kPeriodCount; ++p) {
        if (!m_history[commodity][p].empty())
            return m_history[commodity][p].back().time;
    }
    return 0;
}

std::vector<Quote> MarketSource::quotes(std::int64_t nowUtc)
{
    const std::lock_guard lock(m_mutex);
    advance(nowUtc);
    std::vector<Quote> out;
    for (int c = 0; c < kCommodityCount; ++c) {
        const std::vector<hst::Bar>& days = bars(c, kDay);
        const std::vector<hst::Bar>& halfHours = bars(c, kHalfHour);
        // The simulator quotes its start price until the market first opens; a history
        // without any file for the commodity has nothing to quote.
        if (!m_simulator && days.empty() && halfHours.empty())
            continue;
        Quote quote;
        quote.code = MarketSimulator::code(c);
        quote.name = QuoteDisplayName(quote.code);
        quote.digits = m_digits[c];
        quote.last = lastPrice(c);
        quote.time = lastTime(c);
        if (quote.time == 0)
            quote.time = nowUtc;
        const hst::Bar* today = !days.empty()        ? &days.back()
                                : !halfHours.empty() ? &halfHours.back()
                                                     : nullptr;
        quote.todayOpen = today != nullptr ? today->open : quote.last;
        quote.high = today != nullptr ? today->high : quote.last;
        quote.low = today != nullptr ? today->low : quote.last;
        quote.prevClose = days.size() >= 2 ? days[days.size() - 2].close : quote.todayOpen;
        quote.bid = quote.last;
        quote.ask = quote.last + MarketSimulator::spreadPoints(c) * PointSize(quote.digits);
        out.push_back(quote);

        for (const ExtraContract& extra : kExtraContracts) {
            if (extra.base != c)
                continue;
            Quote contract = quote;
            contract.code = extra.code;
            contract.name = extra.name;
            out.push_back(contract);
        }
    }
    return out;
}

std::optional<std::vector<hst::Bar>> MarketSource::series(std::string_view code, Period period,
                                                          std::int64_t endUtc, std::size_t count,
                                                          std::int64_t nowUtc)
{
    const int commodity = FindCommodity(code);
    if (!IsValidCommodity(commodity) || !IsValidPeriod(period))
        return std::nullopt;
    const std::lock_guard lock(m_mutex);
    advance(nowUtc);
    const std::vector<hst::Bar>& all = bars(commodity, period);
    const auto end =
        std::upper_bound(all.begin(), all.end(), endUtc,
                         [](std::int64_t t, const hst::Bar& bar) { return t < bar.time; });
    const auto available = static_cast<std::size_t>(end - all.begin());
    const auto begin = end - static_cast<std::ptrdiff_t>(std::min(count, available));
    return std::vector<hst::Bar>(std::make_reverse_iterator(end),
                                 std::make_reverse_iterator(begin));
}

} // namespace velmora::services
