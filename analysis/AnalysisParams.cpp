#include "analysis/AnalysisParams.h"

#include <algorithm>

namespace velmora {

bool AnalysisParams::setHistoryCount(const PeriodValues& counts)
{
    const bool withinLimit =
        std::all_of(counts.begin(), counts.end(), [](int n) { return n <= kHistoryLimit; });
    historyCount = withinLimit ? counts : kFallbackHistoryCount;
    return withinLimit;
}

} // namespace velmora
