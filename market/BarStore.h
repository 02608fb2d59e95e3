#pragma once

#include "market/Catalogue.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

inline constexpr int kMaxBars = 501;

// One bar. `time` keeps the year at characters 0-3, month 5-6, day 8-9, hour 11-12 and
// minute 14-15 whatever the separators; an empty time marks a free slot.
struct BarRecord {
    std::string time;
    double open = 0.0;
    double close = 0.0;
    double high = 0.0;
    double low = 0.0;
    std::int32_t volume = 0;

    // Equality counts as down.
    bool isUp() const { return close > open; }
};

// One commodity at one period: slots 0..count-1 hold the bars, oldest first.
struct BarSeries {
    std::array<BarRecord, kMaxBars> bars;
    std::int32_t count = 0;
    std::int32_t cursor = 0; // the bar the value chart analyses
    // When the bars came from the local store rather than a delivery of this run: the time
    // they were saved there (Unix seconds); 0 otherwise.
    std::int64_t storedAt = 0;

    bool hasBarAt(int index) const { return index >= 0 && index < count && index < kMaxBars; }
};

struct CommodityBars {
    std::array<BarSeries, kPeriodCount> series;
};

// What happened to a series, for whoever keeps a copy of the bars (the local store).
enum class SeriesChange {
    Delivered,  // replaced by a synchronisation or an MT4 import
    Edited,     // a bar corrected by hand
    RolledOver, // a new live bar began
    Cleared,    // every series emptied (commodity and period are -1)
};
using SeriesObserver = std::function<void(int commodity, Period period, SeriesChange change)>;

// The 52 series of a run, 13 commodities at four periods, all empty at first. The bars (about
// 2 MB) are allocated once and never move, so a reference to a series stays valid as long as
// the store.
class BarStore {
public:
    BarStore();
    BarStore(const BarStore&) = delete;
    BarStore& operator=(const BarStore&) = delete;

    // The series of one commodity (0..12) and period (0..3). Callers check both ranges first.
    BarSeries& Series(int commodity, Period period);
    const BarSeries& Series(int commodity, Period period) const;

    // Empties all 52 series: count 0 and cursor 0. Slot contents stay as they are.
    void ResetBarStore();

    // One observer, called on the thread that changed the series; an empty one stops the
    // calls.
    void setObserver(SeriesObserver observer);
    // Tells the observer; a delivery also ends the series' stored-data mark.
    void notifyChanged(int commodity, Period period, SeriesChange change);

private:
    std::unique_ptr<std::array<CommodityBars, kCommodityCount>> m_bars;
    SeriesObserver m_observer;
};

} // namespace velmora
