#pragma once

#include "analysis/DrawList.h"
#include "analysis/ValueChart.h"

#include <optional>
#include <string>

namespace velmora {

// Helps for reading a drawn value chart: where the current price lies, which row and which bar
// lie under the pointer. None of them changes what the chart itself draws.

// The current price of a commodity: the quote's last price when it reads as a positive
// number, else the close of the series' newest bar; nullopt when there is neither.
struct CurrentPrice {
    double value = 0.0;
    std::string text; // as the quote shows it
};
std::optional<CurrentPrice> CurrentPriceOf(const CommodityEntry& entry, const BarSeries& series);

// The row of a price as the levels are laid out: (YMax - price) / YUnit. Fractional; negative
// above YMax, beyond R below YMin.
double PriceRow(const ValueChartLayout& layout, double price);

// The level nearest to a price among those whose text lies on the page (0 .. R - 1).
int NearestLevel(const ValueChartLayout& layout, double price);

// y of the middle of a level's text.
int LevelMiddleY(int level);

// The vertical scroll position that puts the level of `price` in the middle of a view
// `viewHeight` pixels high, kept within the page's scroll range.
int CentredScrollTop(const ValueChartLayout& layout, double price, int viewHeight);

// Colour of the current-price marker; unlike the averages, the marks and the labels.
inline constexpr Rgb kCurrentPriceColour{0, 150, 0};

// Appends the marker of the current price to a chart's drawing, after every op it has: a small
// arrow in the left margin before the price labels and a short line right of the widest row,
// followed by the price. Both sit on the middle of the price's level, where no label, mark or
// average line is. A price off the page is marked at the nearest level, with an arrow after
// the price pointing the way it lies.
void AddCurrentPriceMarker(DrawList& list, const ValueChartLayout& layout,
                           const CurrentPrice& price);

// What lies under a point of the page.
struct ChartHit {
    int row = -1;                  // the level whose text band holds the point, or -1
    int column = 0;                // the mark's column, 1..99, when there is a mark
    const TpoCell* mark = nullptr; // the mark there, if any
};
ChartHit HitTestChart(const ValueChartLayout& layout, const TpoGrid& grid, Point page);

// The part of the page that hits a mark: its column pitch wide, its level's band high.
struct MarkArea {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};
MarkArea MarkAreaOf(int row, int column);

// The price of a level, written as its label is.
std::string LevelPriceText(const ValueChartLayout& layout, int row);

// The status-bar text for the level under the pointer.
std::string LevelStatusText(const ValueChartLayout& layout, int row);

// The tooltip of a mark: the bar's time, whether it rose (阳线) or fell (阴线), then its open,
// high, low and close. Nullopt when the series no longer holds the bar the mark was made from.
std::optional<std::string> MarkToolTip(const TpoCell& mark, const BarSeries& series);

} // namespace velmora
