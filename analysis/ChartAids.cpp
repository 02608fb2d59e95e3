#include "analysis/ChartAids.h"

#include "analysis/ValueChartDrawing.h"
#include "market/TextNumbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace velmora {

namespace {

// Fixed decimals whatever the C locale says.
std::string Fixed(double value, int decimals)
{
    char text[400];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

// Floor division, for points above the page.
int FloorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

constexpr int kArrowHalf = 3;     // the margin arrow is 7 pixels high
constexpr int kMarkerGap = 4;     // between the marker line and the price
constexpr int kMarkerColumns = 2; // length of the marker line, in column pitches

} // namespace

std::optional<CurrentPrice> CurrentPriceOf(const CommodityEntry& entry, const BarSeries& series)
{
    const double quoted = LeadingDouble(entry.lastPrice);
    if (quoted > 0.0 && std::isfinite(quoted))
        return CurrentPrice{quoted, entry.lastPrice};
    const int newest = series.count - 1;
    if (!series.hasBarAt(newest) || !std::isfinite(series.bars[newest].close))
        return std::nullopt;
    const double close = series.bars[newest].close;
    return CurrentPrice{close, Fixed(close, close >= 10 ? 3 : 5)};
}

double PriceRow(const ValueChartLayout& layout, double price)
{
    return (layout.ymax - price) / layout.yunit;
}

int NearestLevel(const ValueChartLayout& layout, double price)
{
    const double row = std::round(PriceRow(layout, price));
    const int last = std::max(0, layout.rows - 1);
    if (!(row >= 0.0)) // NaN too
        return 0;
    return row >= last ? last : static_cast<int>(row);
}

int LevelMiddleY(int level)
{
    return kChartTextTop + kChartRowPitch * level + kChartFontHeight / 2;
}

int CentredScrollTop(const ValueChartLayout& layout, double price, int viewHeight)
{
    const int pageHeight = kChartRowPitch * (layout.rows + 1);
    const int top = LevelMiddleY(NearestLevel(layout, price)) - viewHeight / 2;
    return std::clamp(top, 0, std::max(0, pageHeight - viewHeight));
}

void AddCurrentPriceMarker(DrawList& list, const ValueChartLayout& layout,
                           const CurrentPrice& price)
{
    const int level = NearestLevel(layout, price.value);
    const int y = LevelMiddleY(level);
    const Pen pen{kCurrentPriceColour, 1};

    // An arrow pointing at the price label, in the margin left of it.
    for (int dy = -kArrowHalf; dy <= kArrowHalf; ++dy) {
        const int length = kChartLabelX - 1 - 2 * std::abs(dy);
        list.add(LineOp{{0, y + dy}, {length, y + dy}, pen});
    }

    // The columns right of the widest row are empty in every row.
    const int left = kChartMarkX + kChartColumnPitch * layout.widest;
    const int right = left + kChartColumnPitch * kMarkerColumns;
    list.add(LineOp{{left, y}, {right, y}, pen});

    std::string text = "现价 " + price.text;
    const double row = PriceRow(layout, price.value);
    if (row < -0.5)
        text += " ↑";
    else if (row > layout.rows - 0.5)
        text += " ↓";
    TextOp label{right + kMarkerGap,
                 kChartTextTop + kChartRowPitch * level,
                 std::move(text),
                 kCurrentPriceColour,
                 {kSongFace, kChartFontHeight, kNormalWeight}};
    label.opaque = false;
    list.add(std::move(label));
}

namespace {

// A level's band reaches half the gap above and below its text.
constexpr int kBandTop = kChartTextTop - (kChartRowPitch - kChartFontHeight) / 2;

} // namespace

MarkArea MarkAreaOf(int row, int column)
{
    return {kChartMarkX + kChartColumnPitch * (column - 1), kBandTop + kChartRowPitch * row,
            kChartColumnPitch, kChartRowPitch};
}

ChartHit HitTestChart(const ValueChartLayout& layout, const TpoGrid& grid, Point page)
{
    ChartHit hit;
    const int row = FloorDiv(page.y - kBandTop, kChartRowPitch);
    if (row < 0 || row >= layout.rows || row >= kTpoRows)
        return hit;
    hit.row = row;
    if (page.x < kChartMarkX)
        return hit;
    const int column = (page.x - kChartMarkX) / kChartColumnPitch + 1;
    if (column < kTpoColumns && column < grid.usedColumns(row)) {
        const TpoCell& cell = grid.at(row, column);
        if (!cell.empty()) {
            hit.mark = &cell;
            hit.column = column;
        }
    }
    return hit;
}

std::string LevelPriceText(const ValueChartLayout& layout, int row)
{
    return Fixed(layout.ymax - row * layout.yunit, layout.ymax >= 10 ? 2 : 4);
}

std::string LevelStatusText(const ValueChartLayout& layout, int row)
{
    return "价位 " + LevelPriceText(layout, row);
}

std::optional<std::string> MarkToolTip(const TpoCell& mark, const BarSeries& series)
{
    // The cell holds the bar's time from character 6 on.
    constexpr std::size_t kTimeAt = 6;
    if (mark.text.size() < kTimeAt || !series.hasBarAt(mark.sequence))
        return std::nullopt;
    const BarRecord& bar = series.bars[mark.sequence];
    if (std::string_view(mark.text).substr(kTimeAt) != bar.time)
        return std::nullopt;
    const int decimals = bar.open > 10 ? 3 : 5;
    return bar.time + (mark.isUp() ? "  阳线" : "  阴线") + "\n开盘 " + Fixed(bar.open, decimals) +
           "\n最高 " + Fixed(bar.high, decimals) + "\n最低 " + Fixed(bar.low, decimals) +
           "\n收盘 " + Fixed(bar.close, decimals);
}

} // namespace velmora
