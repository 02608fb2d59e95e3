#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr int kCommodityCount = 13; // also the "no commodity" index
inline constexpr int kPeriodCount = 4;

// Bar periods: 0 half-hour, 1 day, 2 week, 3 month.
using Period = int;
inline constexpr Period kHalfHour = 0;
inline constexpr Period kDay = 1;
inline constexpr Period kWeek = 2;
inline constexpr Period kMonth = 3;

// One number for each period, in period order.
using PeriodValues = std::array<std::int32_t, kPeriodCount>;

inline bool IsValidPeriod(int p) { return p >= 0 && p < kPeriodCount; }
inline bool IsValidCommodity(int s) { return s >= 0 && s < kCommodityCount; }

// "半小时线", "日线", "周线", "月线"; empty for an invalid period.
std::string_view PeriodName(Period p);
// Line type of the data server's series query: "half", "day", "week", "month".
std::string_view PeriodLineType(Period p);
// Suffix of the MT4 history file name: 30, 1440, 10080, 43200 (minutes); 0 when invalid.
int PeriodMt4Suffix(Period p);

// One commodity of the catalogue. All texts are UTF-8.
struct CommodityEntry {
    std::string code;
    std::string name;
    std::array<std::string, kPeriodCount> yunit; // price step per chart row, as decimal text
    std::string lastPrice;
    std::string quoteTime;
    std::string todayOpen;
    std::string prevClose;
    std::string low;
    std::string high;
    std::string bid;
    std::string ask;
};

// The 13 commodities, in catalogue order.
using Catalogue = std::array<CommodityEntry, kCommodityCount>;

// Fills `catalogue` with codes, names and YUnit texts; the quote fields are emptied.
void InitCatalogue(Catalogue& catalogue);

// The code of a catalogue commodity (codes never change); empty for any other index.
std::string_view CommodityCode(int commodity);

// Index 0..12 of the commodity whose code equals `code` exactly, otherwise kCommodityCount.
int FindCommodity(std::string_view code);

// The name the quote page uses for a catalogue code; empty for any other code.
std::string_view QuoteDisplayName(std::string_view code);

} // namespace velmora
