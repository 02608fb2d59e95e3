#include "analysis/ValueChart.h"

#include "market/TextNumbers.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace velmora {

YUnitOverride yunitOverride;

namespace {

constexpr double kTolerance = 0.0001;
constexpr std::string_view kSuggestionMarker = "参数非法";

// Truncation toward zero into a 32-bit integer. Values outside the range saturate instead of
// being undefined, so an absurdly small YUnit gives a huge row count, not a random one.
int TruncToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

// Rounds outward on the grid of 1/scale: whole numbers for scale 100 with step 100, steps of
// 0.001 for scale 10000 with step 10.
double RoundUp(double value, std::int64_t scale, std::int64_t step, double unit)
{
    std::int64_t p =
        static_cast<std::int64_t>(TruncToInt(static_cast<double>(scale) * value)) + step;
    p -= p % step;
    return static_cast<double>(p) * unit;
}

double RoundDown(double value, std::int64_t scale, std::int64_t step, double unit)
{
    std::int64_t q =
        static_cast<std::int64_t>(TruncToInt(static_cast<double>(scale) * value)) - step;
    q -= q % step;
    return static_cast<double>(q) * unit;
}

// A part of a time text; shorter texts give what exists, never a read past the end.
std::string_view Field(std::string_view text, std::size_t position, std::size_t length)
{
    if (position >= text.size())
        return {};
    return text.substr(position, length);
}

std::string CellLabel(std::string_view time, Period period)
{
    switch (period) {
    case kHalfHour: {
        std::string label(Field(time, 11, 2));
        label += Field(time, 14, 2) == "30" ? 'B' : 'A';
        return label;
    }
    case kDay:
    case kWeek:
        return std::string(Field(time, 8, 2));
    default:
        return std::string(Field(time, 5, 2));
    }
}

std::string MarkText(int sequence, const BarRecord& bar)
{
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%03d-%s", sequence, bar.isUp() ? "U-" : "D-");
    return prefix + bar.time;
}

std::string PriceLabel(double price, bool wholeNumberGrid)
{
    char text[64];
    std::snprintf(text, sizeof text, wholeNumberGrid ? "%.02f" : "%.04f", price);
    return text;
}

std::string SuggestionText(const ValueChartLayout& layout, double suggested)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "参数非法:[YUnit=%.04f YMax=%.04f YMin=%.04f retMax=%.04f retMin=%.04f],"
                  "建议[YUnit=%.04f]",
                  layout.yunit, layout.ymax, layout.ymin, layout.retMax, layout.retMin, suggested);
    return text;
}

ValueChartPass Fail(std::string_view message, std::string_view title)
{
    return {ChartOutcome::Message, std::string(message), std::string(title), false};
}

// Moves the marks of every row left, keeping their order; answers the widest row's count.
int CompactRows(TpoGrid& grid, int rows, int window)
{
    int widest = 0;
    const int lastRow = std::min(rows, kTpoRows - 1);
    for (int r = 0; r <= lastRow; ++r) {
        int k = 0;
        for (int q = 1; q <= window; ++q) {
            TpoCell& cell = grid.at(r, q);
            if (cell.empty())
                continue;
            ++k;
            if (q != k) {
                grid.at(r, k) = std::move(cell);
                cell = TpoCell{};
            }
        }
        widest = std::max(widest, k);
    }
    return widest;
}

std::optional<int> AverageRow(const BarSeries& series, int length, const ValueChartLayout& layout)
{
    const int cursor = series.cursor;
    if (length < 1 || series.count < length || cursor < length)
        return std::nullopt;
    double sum = 0.0;
    for (int b = cursor - length + 1; b <= cursor; ++b)
        sum += series.bars[b].close;
    const double average = sum / length;
    return TruncToInt((layout.ymax - average) / layout.yunit - 1);
}

} // namespace

void TpoGrid::clear()
{
    for (TpoCell& cell : m_cells) {
        cell.text.clear();
        cell.label.clear();
        cell.edgeBar = false;
        cell.sequence = 0;
    }
}

std::string NewChartTitle(const CommodityEntry& entry, Period period)
{
    return entry.code + "-" + entry.name + "-" + std::string(PeriodName(period)) + " 价值图";
}

std::string ValueChartTitle(const CommodityEntry& entry, Period period, const BarSeries& series,
                            int upCount, int downCount)
{
    const std::string& time =
        series.hasBarAt(series.cursor) ? series.bars[series.cursor].time : std::string();
    char counts[64];
    std::snprintf(counts, sizeof counts, "价值图 U:%03d-D:%03d", upCount, downCount);
    return entry.code + "-" + entry.name + "-" + std::string(PeriodName(period)) + " " + time +
           " " + entry.lastPrice + counts;
}

std::optional<std::string> RetitleValueChart(const CommodityEntry& entry, Period period,
                                             const ValueChartState& state)
{
    if (state.series == nullptr || !IsValidPeriod(period))
        return std::nullopt;
    return ValueChartTitle(entry, period, *state.series, state.layout.upCount,
                           state.layout.downCount);
}

ValueChartPass RunValueChartPass(const ValueChartRequest& request, std::string_view title,
                                 ValueChartState& state, YUnitOverride& memo)
{
    const Period p = request.period;
    if (request.entry == nullptr || !IsValidPeriod(p))
        return Fail(kParamsInvalidMessage, title);

    // 1. The YUnit text.
    const std::string& yunitText = request.entry->yunit[p];
    if (yunitText.empty())
        return Fail(kYUnitInvalidMessage, title);

    // 2. The series.
    if (request.series == nullptr || request.params == nullptr)
        return Fail(kParamsInvalidMessage, title);
    const BarSeries& series = *request.series;
    state.series = &series;
    const int n = request.params->tpoBars[p];
    const int cursor = series.cursor;

    // 3. Enough data. A window of no bars has nothing to show; a cursor beyond the store's
    // slots has no bars under it.
    if (n < 1)
        return Fail(kParamsInvalidMessage, title);
    if (series.count < 1 || cursor < n || cursor >= kMaxBars)
        return Fail(kNotEnoughDataMessage, title);

    // 4. YUnit: the memo while it still describes this chart, else the text.
    ValueChartLayout& layout = state.layout;
    double yunit = 0.0;
    if (memo.active && memo.commodity == request.commodity && memo.period == p &&
        memo.cursor == cursor) {
        yunit = memo.value;
    } else {
        yunit = LeadingDouble(yunitText);
        memo.active = false;
    }
    // Rows need a positive step.
    if (!(yunit > 0.0) || !std::isfinite(yunit))
        return Fail(kYUnitInvalidMessage, title);
    layout.yunit = yunit;

    // 5. Raw extremes of the window.
    const int oldest = cursor - n + 1;
    double maximum = 0.0001;
    double minimum = 10000.0;
    for (int b = oldest; b <= cursor; ++b) {
        if (series.bars[b].high > maximum)
            maximum = series.bars[b].high;
        if (series.bars[b].low < minimum)
            minimum = series.bars[b].low;
    }
    layout.retMax = maximum;
    layout.retMin = minimum;

    // 6. Bounds, rounded outward on a grid chosen by the upper bound.
    double ymax = maximum + 2 * yunit;
    double ymin = minimum - 2 * yunit;
    if (ymax >= 10) {
        ymax = RoundUp(ymax, 100, 100, 0.01);
        ymin = RoundDown(ymin, 100, 100, 0.01);
    } else {
        ymax = RoundUp(ymax, 10000, 10, 0.0001);
        ymin = RoundDown(ymin, 10000, 10, 0.0001);
    }
    if (ymin < 0.00001)
        ymin = 0;
    layout.ymax = ymax;
    layout.ymin = ymin;

    // 7. The memo follows the chart being computed.
    memo.commodity = request.commodity;
    memo.period = p;
    memo.cursor = cursor;

    // 8. Rows.
    const int rows = TruncToInt((ymax - ymin) / yunit);
    layout.rows = rows;
    if (rows >= kTpoRows || n >= kTpoColumns) {
        const double suggested = (ymax - ymin) * 0.004;
        ValueChartPass pass{ChartOutcome::Suggestion, {}, std::string(title), false};
        if (title.find(kSuggestionMarker) == std::string_view::npos) {
            pass.title += SuggestionText(layout, suggested);
            memo.active = true;
            memo.value = 2 * suggested;
            pass.repaint = true;
        }
        return pass;
    }

    // 9. Price labels; the two lowest levels get none.
    TpoGrid& grid = state.grid;
    grid.clear();
    const bool wholeNumberGrid = ymax >= 10;
    for (int r = 0; r <= rows - 2; ++r)
        grid.at(r, 0).text = PriceLabel(ymax - r * yunit, wholeNumberGrid);

    // 10. Marks: bar j of the window owns column j + 1.
    const double half = yunit * 0.5;
    for (int j = 0; j < n; ++j) {
        const int b = oldest + j;
        const BarRecord& bar = series.bars[b];
        std::string text;
        for (int r = 0; r < rows; ++r) {
            const double level = ymax - r * yunit;
            if (level - (bar.low - half) >= kTolerance && (bar.high + half) - level >= kTolerance) {
                if (text.empty())
                    text = MarkText(b, bar);
                TpoCell& cell = grid.at(r, j + 1);
                cell.text = text;
                cell.sequence = b;
            }
        }
    }

    // 11. Compaction.
    layout.widest = CompactRows(grid, rows, n);

    // 12. Labels, edge bars and the U/D counts.
    layout.upCount = 0;
    layout.downCount = 0;
    for (int r = 0; r < kTpoRows; ++r) {
        for (int q = 1; q < kTpoColumns; ++q) {
            TpoCell& cell = grid.at(r, q);
            if (cell.empty())
                continue;
            if (cell.isUp())
                ++layout.upCount;
            else if (cell.text.size() > 4 && cell.text[4] == 'D')
                ++layout.downCount;
            cell.label = CellLabel(std::string_view(cell.text).substr(6), p);
            const int s = cell.sequence;
            cell.edgeBar =
                s == cursor || s == cursor - 1 || s == cursor - n + 1 || s == cursor - n + 2;
        }
    }

    // 13. Moving averages.
    layout.longZ = AverageRow(series, request.params->longAvgBars[p], layout);
    layout.shortZ = AverageRow(series, request.params->shortAvgBars[p], layout);

    // 14. Title.
    return {ChartOutcome::Drawn,
            {},
            ValueChartTitle(*request.entry, p, series, layout.upCount, layout.downCount),
            false};
}

} // namespace velmora
