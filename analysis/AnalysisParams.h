#pragma once

#include "market/Catalogue.h"

namespace velmora {

// Per-period numbers that shape the value chart and the amount of history loaded. They live
// for the run only; every start begins with the defaults.
struct AnalysisParams {
    static constexpr int kHistoryLimit = 501; // capacity of a bar series
    static constexpr PeriodValues kDefaultTpoBars{48, 49, 20, 22};
    static constexpr PeriodValues kDefaultLongAvgBars{132, 55, 26, 12};
    static constexpr PeriodValues kDefaultShortAvgBars{48, 21, 10, 5};
    static constexpr PeriodValues kDefaultHistoryCount{200, 100, 100, 100};
    // Taken when an edit puts any history count above the limit.
    static constexpr PeriodValues kFallbackHistoryCount{300, 200, 200, 200};

    PeriodValues tpoBars = kDefaultTpoBars;
    PeriodValues longAvgBars = kDefaultLongAvgBars;
    PeriodValues shortAvgBars = kDefaultShortAvgBars;
    PeriodValues historyCount = kDefaultHistoryCount;

    // Stores the four history counts; when any exceeds the limit, the fallback values are
    // taken instead and the answer is false.
    bool setHistoryCount(const PeriodValues& counts);
};

} // namespace velmora
