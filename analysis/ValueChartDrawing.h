#pragma once

#include "analysis/DrawList.h"
#include "analysis/ValueChart.h"

namespace velmora {

// Geometry of the chart page.
inline constexpr int kChartRowPitch = 20;
inline constexpr int kChartTextTop = 24; // y of row 0's text
inline constexpr int kChartLabelX = 8;   // price labels
inline constexpr int kChartMarkX = 76;   // mark column 1
inline constexpr int kChartColumnPitch = 30;
inline constexpr int kChartFontHeight = 16;
inline constexpr int kChartPageMargin = 20; // page width = screen width - margin

// The drawing of a computed value chart on its page: background, price labels, marks, then
// the long and the short moving average. `screenWidth` is the primary screen's width; the page
// is that minus the margin wide and one row per level plus one high.
DrawList DrawValueChart(const ValueChartLayout& layout, const TpoGrid& grid, int screenWidth);

} // namespace velmora
