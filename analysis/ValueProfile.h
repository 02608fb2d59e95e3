#pragma once

#include "analysis/DrawList.h"
#include "analysis/ValueChart.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora {

// What a trader reads off a drawn value chart without counting labels: the row with the most
// marks (point of control), the band around it that holds seven tenths of the marks (value
// area) and the rows that only one bar passed through (single prints). Rows are those of the
// pass, 0 at the top.
struct ValueProfile {
    std::vector<int> counts; // marks of each row 0 .. R-1
    int total = 0;
    int first = 0; // first and last row with a mark
    int last = 0;
    int poc = 0;
    double pocPrice = 0.0;
    int vaTop = 0; // the value area's rows, vaTop <= poc <= vaBottom
    int vaBottom = 0;
    double vah = 0.0; // prices of vaTop and vaBottom
    double val = 0.0;
    std::vector<int> singlePrints; // rows strictly between first and last with one mark
};

// The measures of a profile given its rows' mark counts; prices are the rows' levels as their
// labels round them. Nullopt when no row has a mark.
std::optional<ValueProfile> ComputeProfile(std::vector<int> counts, const ValueChartLayout& layout);

// The measures of a drawn chart: each row's count is the marks the pass left in it.
std::optional<ValueProfile> ProfileOf(const ValueChartLayout& layout, const TpoGrid& grid);

// Colours of the layer; none of them is a mark's, an average's or the current price's.
inline constexpr Rgb kPocBandColour{255, 236, 160}; // light yellow
inline constexpr Rgb kValueAreaColour{150, 0, 150}; // purple
inline constexpr Rgb kSinglePrintColour{240, 130, 0};
inline constexpr Rgb kRowCountColour{128, 128, 128};

// Adds the profile layer to a chart's drawing made by DrawValueChart from the pass the profile
// was computed from: a light band behind the marks of the point of control (inserted after the
// page's background, and those marks' text cells take the band's colour instead of white), then,
// after everything the chart draws, a bracket left of the first mark column over the value area
// with VAH and VAL and their prices right of those rows, a small marker left of each single print,
// and each row's count right of its last mark. Nothing else of the chart's drawing changes.
void AddProfileLayer(DrawList& list, const ValueChartLayout& layout, const ValueProfile& profile);

// What the pointer over a row tells of the profile: "控制点 POC 1234.00",
// "价值区高点 VAH ...", "价值区低点 VAL ...", joined when a row is more than one; empty for
// other rows.
std::string ProfileLevelText(const ValueProfile& profile, const ValueChartLayout& layout, int row);

} // namespace velmora
