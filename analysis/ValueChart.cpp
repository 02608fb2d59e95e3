#include "analysis/ValueChart.h"

#include "market/TextNumbers.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace velmora {

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

// Sequences are slots of the bar store, so three digits always hold them.
static_assert(kMaxBars <= 1000);

// "%03d-U-" or "%03d-D-", then the bar's time; written into `text` to reuse its buffer.
void MarkText(std::string& text, int sequence, const BarRecord& bar)
{
    const char prefix[] = {static_cast<char>('0' + sequence / 100),
                           static_cast<char>('0' + sequence / 10 % 10),
                           static_cast<char>('0' + sequence % 10),
                           '-',
                           bar.isUp() ? 'U' : 'D',
                           '-'};
    text.assign(prefix, sizeof prefix);
    text += bar.time;
}

// printf's "%.*f" digits of a price for 2 or 4 decimals, or nullptr when the quick way cannot
// be sure of them. Below 2^40 the scaled price is within 2^-13 of the exact product, so unless
// it lies that close to a tie, rounding it rounds the exact value the same way.
char* QuickFixed(char* out, double price, int decimals)
{
    const std::uint64_t unit = decimals == 2 ? 100 : 10000;
    const double scaled = price * static_cast<double>(unit);
    if (!(scaled >= 0.0) || scaled >= 0x1p40 || std::signbit(price))
        return nullptr;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 0x1p-10)
        return nullptr;
    const std::uint64_t n = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1 : 0);
    out = std::to_chars(out, out + 20, n / unit).ptr;
    *out++ = '.';
    std::uint64_t rest = n % unit;
    for (int i = decimals - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    return out + decimals;
}

// "%.02f" or "%.04f", as printf writes them in the C locale.
void PriceLabel(std::string& label, double price, bool wholeNumberGrid)
{
    char text[400];
    char* end = QuickFixed(text, price, wholeNumberGrid ? 2 : 4);
    if (end == nullptr) {
        const auto result = std::to_chars(text, text + sizeof text, price, std::chars_format::fixed,
                                          wholeNumberGrid ? 2 : 4);
        end = result.ec == std::errc{} ? result.ptr : text;
    }
    label.assign(text, end);
}

std::string SuggestionText(const ValueChartLayout& layout, double suggested)
{
    return "参数非法:[YUnit=" + FixedDecimals(layout.yunit, 4) +
           " YMax=" + FixedDecimals(layout.ymax, 4) + " YMin=" + FixedDecimals(layout.ymin, 4) +
           " retMax=" + FixedDecimals(layout.retMax, 4) +
           " retMin=" + FixedDecimals(layout.retMin, 4) +
           "],建议[YUnit=" + FixedDecimals(suggested, 4) + "]";
}

[[gnu::noinline]] void Assign(std::string& to, const std::string& from) { to = from; }

// Most cells get texts as long as the ones they held after the pass before; the plain
// assignment, inlined thousands of times over, costs more than their bytes.
inline void Overwrite(std::string& to, const std::string& from)
{
    const std::size_t n = from.size();
    if (to.size() != n) {
        Assign(to, from);
        return;
    }
    // Two fixed-size copies that overlap cover any length from the smaller size to twice
    // it, without a call.
    char* out = to.data();
    const char* in = from.data();
    if (n >= 16 && n <= 32) {
        std::memcpy(out, in, 16);
        std::memcpy(out + n - 16, in + n - 16, 16);
    } else if (n >= 2 && n <= 4) {
        std::memcpy(out, in, 2);
        std::memcpy(out + n - 2, in + n - 2, 2);
    } else {
        std::memcpy(out, in, n);
    }
}

// Clearing rather than replacing the strings keeps their buffers for the next pass.
void ClearCell(TpoCell& cell)
{
    cell.text.clear();
    cell.label.clear();
    cell.edgeBar = false;
    cell.sequence = 0;
}

// The first of rows 0..rows-1 where `holds` is true, else rows; `holds` must be false up to
// some row and true from there on.
template <typename Predicate> int FirstRowWhere(int rows, Predicate holds)
{
    int low = 0;
    int high = rows;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (holds(middle))
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

ValueChartPass Fail(std::string_view message, std::string_view title)
{
    return {ChartOutcome::Message, std::string(message), std::string(title), false};
}

// A window of no bars has nothing to show; a cursor beyond the store's slots has no bars
// under it.
std::optional<std::string_view> WindowProblem(const BarSeries& series, int n)
{
    if (n < 1)
        return kParamsInvalidMessage;
    if (series.count < 1 || series.cursor < n || series.cursor >= kMaxBars)
        return kNotEnoughDataMessage;
    return std::nullopt;
}

// The memo while it still describes this chart, else the text, which then ends the memo.
double PickYUnit(const ValueChartRequest& request, int cursor, YUnitOverride& memo)
{
    if (memo.active && memo.commodity == request.commodity && memo.period == request.period &&
        memo.cursor == cursor)
        return memo.value;
    memo.active = false;
    return LeadingDouble(request.entry->yunit[request.period]);
}

// The highest high and lowest low of the window's bars, from 0.0001 and 10000 on. A price
// that is no number (an MT4 file can hold one, and bars are corrected without checks) gives
// no range to divide into rows: false.
bool MeasureWindow(const BarSeries& series, int oldest, ValueChartLayout& layout)
{
    double maximum = 0.0001;
    double minimum = 10000.0;
    for (int b = oldest; b <= series.cursor; ++b) {
        const BarRecord& bar = series.bars[b];
        if (!std::isfinite(bar.high) || !std::isfinite(bar.low) || !std::isfinite(bar.open) ||
            !std::isfinite(bar.close))
            return false;
        if (bar.high > maximum)
            maximum = bar.high;
        if (bar.low < minimum)
            minimum = bar.low;
    }
    layout.retMax = maximum;
    layout.retMin = minimum;
    return true;
}

// Two units beyond the extremes, rounded outward on a grid chosen by the upper bound: whole
// numbers from 10 up, else steps of 0.001.
void SetBounds(ValueChartLayout& layout)
{
    double ymax = layout.retMax + 2 * layout.yunit;
    double ymin = layout.retMin - 2 * layout.yunit;
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
}

// The rows do not fit: the title carries the suggested unit once, and the memo remembers
// twice that unit (about 125 rows) for the repaint that the pass asks for.
ValueChartPass Suggest(const ValueChartLayout& layout, std::string_view title, YUnitOverride& memo)
{
    const double suggested = (layout.ymax - layout.ymin) * 0.004;
    ValueChartPass pass{ChartOutcome::Suggestion, {}, std::string(title), false};
    if (title.find(kSuggestionMarker) == std::string_view::npos) {
        pass.title += SuggestionText(layout, suggested);
        memo.active = true;
        memo.value = 2 * suggested;
        pass.repaint = true;
    }
    return pass;
}

// Column 0 of the rows above the two lowest levels: the level's price.
void WritePriceLabels(TpoGrid& grid, const ValueChartLayout& layout)
{
    const bool wholeNumberGrid = layout.ymax >= 10;
    for (int r = 0; r <= layout.rows - 2; ++r) {
        TpoCell& cell = grid.at(r, 0);
        PriceLabel(cell.text, layout.ymax - r * layout.yunit, wholeNumberGrid);
        cell.label.clear();
        cell.edgeBar = false;
        cell.sequence = 0;
    }
}

// The window's bars, each with the cell it marks, and for every row the window positions
// of the bars that mark it, in window order.
struct WindowMarks {
    struct BarMarks {
        std::string text;
        ShortText label;
        bool edgeBar = false;
    };

    explicit WindowMarks(int n) : bars(static_cast<std::size_t>(n)) {}

    std::vector<BarMarks> bars;
    std::array<int, kTpoRows> filled{};
    std::array<std::array<std::uint8_t, kTpoColumns>, kTpoRows> rowBars; // written as filled
};

// Walks the window's bars into rows and counts the up and down marks. A bar marks the levels
// within half a unit of its range; levels fall row by row, so those are one run of rows,
// found by halving.
void WalkBarsIntoRows(const BarSeries& series, int oldest, Period period, ValueChartLayout& layout,
                      WindowMarks& marks)
{
    const int cursor = series.cursor;
    const int n = cursor - oldest + 1;
    const int rows = layout.rows;
    const double ymax = layout.ymax;
    const double yunit = layout.yunit;
    const double half = yunit * 0.5;
    layout.upCount = 0;
    layout.downCount = 0;
    for (int j = 0; j < n; ++j) {
        const int b = oldest + j;
        const BarRecord& bar = series.bars[b];
        const double bottom = bar.low - half;
        const double top = bar.high + half;
        const int first =
            FirstRowWhere(rows, [&](int r) { return top - (ymax - r * yunit) >= kTolerance; });
        const int end = FirstRowWhere(
            rows, [&](int r) { return !((ymax - r * yunit) - bottom >= kTolerance); });
        if (first >= end)
            continue;
        WindowMarks::BarMarks& mark = marks.bars[static_cast<std::size_t>(j)];
        MarkText(mark.text, b, bar);
        mark.label = CellLabel(bar.time, period);
        mark.edgeBar = j < 2 || j >= n - 2; // the two oldest and the two newest bars
        (bar.isUp() ? layout.upCount : layout.downCount) += end - first;
        for (int r = first; r < end; ++r)
            marks.rowBars[r][marks.filled[r]++] = static_cast<std::uint8_t>(j);
    }
}

// Each row's marks from column 1 on, written row by row in the order the cells lie in
// memory; W is the widest row.
void WriteMarks(TpoGrid& grid, const WindowMarks& marks, int oldest, ValueChartLayout& layout)
{
    const int rows = layout.rows;
    for (int r = 0; r < rows; ++r) {
        for (int k = 0; k < marks.filled[r]; ++k) {
            const int j = marks.rowBars[r][k];
            const WindowMarks::BarMarks& bar = marks.bars[static_cast<std::size_t>(j)];
            TpoCell& cell = grid.at(r, k + 1);
            Overwrite(cell.text, bar.text);
            cell.label = bar.label;
            cell.edgeBar = bar.edgeBar;
            cell.sequence = oldest + j;
        }
    }
    layout.widest =
        rows > 0 ? *std::max_element(marks.filled.begin(), marks.filled.begin() + rows) : 0;
}

// Empties whatever the last pass left beyond this pass's labels and marks.
void ClearLeftovers(TpoGrid& grid, const WindowMarks& marks, int rows)
{
    for (int r = 0; r < kTpoRows; ++r) {
        const int filled = marks.filled[r];
        if (r > rows - 2 && filled > 0)
            ClearCell(grid.at(r, 0));
        grid.clearRow(r, r <= rows - 2 || filled > 0 ? filled + 1 : 0);
    }
}

// The row of the mean close of the `length` bars up to the cursor; none when there are
// fewer bars than that.
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

void TpoGrid::clearRow(int row, int column)
{
    TpoCell* cells = &m_cells[row * kTpoColumns];
    for (int q = column; q < m_usedColumns[row]; ++q)
        ClearCell(cells[q]);
    m_usedColumns[row] = static_cast<std::uint8_t>(std::min<int>(m_usedColumns[row], column));
}

void TpoGrid::clear()
{
    for (int r = 0; r < kTpoRows; ++r)
        clearRow(r, 0);
}

bool SuggestionRepaints::followUp(const ValueChartPass& pass)
{
    if (pass.outcome != ChartOutcome::Suggestion) {
        m_suggesting = 0;
        return false;
    }
    // A pass that put the suggestion into the title starts a new row of passes.
    m_suggesting = pass.repaint ? 1 : m_suggesting + 1;
    return m_suggesting < kMaxSuggestingPasses;
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
    if (request.entry->yunit[p].empty())
        return Fail(kYUnitInvalidMessage, title);
    if (request.series == nullptr || request.params == nullptr)
        return Fail(kParamsInvalidMessage, title);
    const BarSeries& series = *request.series;
    state.series = &series;
    const int n = request.params->tpoBars[p];
    if (const auto problem = WindowProblem(series, n))
        return Fail(*problem, title);
    const int cursor = series.cursor;
    const int oldest = cursor - n + 1;

    // Rows need a positive step.
    ValueChartLayout& layout = state.layout;
    const double yunit = PickYUnit(request, cursor, memo);
    if (!(yunit > 0.0) || !std::isfinite(yunit))
        return Fail(kYUnitInvalidMessage, title);
    layout.yunit = yunit;
    if (!MeasureWindow(series, oldest, layout))
        return Fail(kNotEnoughDataMessage, title);
    SetBounds(layout);

    // The memo follows the chart being computed.
    memo.commodity = request.commodity;
    memo.period = p;
    memo.cursor = cursor;

    layout.rows = TruncToInt((layout.ymax - layout.ymin) / yunit);
    // Only bars corrected to highs far below their lows leave no rows at all.
    if (layout.rows < 1)
        return Fail(kNotEnoughDataMessage, title);
    if (layout.rows >= kTpoRows || n >= kTpoColumns)
        return Suggest(layout, title, memo);

    // The grid is written over rather than emptied first: a pass mostly repeats the last one's
    // cells, and a text written over keeps its buffer.
    WritePriceLabels(state.grid, layout);
    WindowMarks marks(n);
    WalkBarsIntoRows(series, oldest, p, layout, marks);
    WriteMarks(state.grid, marks, oldest, layout);
    ClearLeftovers(state.grid, marks, layout.rows);

    layout.longZ = AverageRow(series, request.params->longAvgBars[p], layout);
    layout.shortZ = AverageRow(series, request.params->shortAvgBars[p], layout);
    return {ChartOutcome::Drawn,
            {},
            ValueChartTitle(*request.entry, p, series, layout.upCount, layout.downCount),
            false};
}

} // namespace velmora
