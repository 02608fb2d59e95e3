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

    // 5. Raw extremes of the window. A price that is no number (an MT4 file can hold one,
    // and bars are corrected without checks) gives no range to divide into rows.
    const int oldest = cursor - n + 1;
    double maximum = 0.0001;
    double minimum = 10000.0;
    for (int b = oldest; b <= cursor; ++b) {
        const BarRecord& bar = series.bars[b];
        if (!std::isfinite(bar.high) || !std::isfinite(bar.low) || !std::isfinite(bar.open) ||
            !std::isfinite(bar.close))
            return Fail(kNotEnoughDataMessage, title);
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
    // Only bars corrected to highs far below their lows leave no rows at all.
    if (rows < 1)
        return Fail(kNotEnoughDataMessage, title);
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

    // 9-11. The grid is written over rather than emptied first: a pass mostly repeats the last
    // one's cells, and a text written over keeps its buffer. What is left of the last pass
    // beyond this one's cells is emptied at the end.
    TpoGrid& grid = state.grid;

    // 9. Price labels; the two lowest levels get none.
    const bool wholeNumberGrid = ymax >= 10;
    for (int r = 0; r <= rows - 2; ++r) {
        TpoCell& cell = grid.at(r, 0);
        PriceLabel(cell.text, ymax - r * yunit, wholeNumberGrid);
        cell.label.clear();
        cell.edgeBar = false;
        cell.sequence = 0;
    }

    // 10. Marks. A bar marks the levels within half a unit of its range; levels fall row by
    // row, so those are one run of rows, found by halving. Each row holds its marks from
    // column 1 on in window order. The cells are written row by row, in the order they lie
    // in memory, after every row has its list of bars.
    struct BarMarks {
        std::string text;
        ShortText label;
        bool edgeBar = false;
    };
    std::vector<BarMarks> bars(static_cast<std::size_t>(n));
    std::array<int, kTpoRows> filled{};
    std::array<std::array<std::uint8_t, kTpoColumns>, kTpoRows> rowBars; // window positions
    layout.upCount = 0;
    layout.downCount = 0;
    const double half = yunit * 0.5;
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
        BarMarks& marks = bars[static_cast<std::size_t>(j)];
        MarkText(marks.text, b, bar);
        marks.label = CellLabel(bar.time, p);
        marks.edgeBar =
            b == cursor || b == cursor - 1 || b == cursor - n + 1 || b == cursor - n + 2;
        (bar.isUp() ? layout.upCount : layout.downCount) += end - first;
        for (int r = first; r < end; ++r)
            rowBars[r][filled[r]++] = static_cast<std::uint8_t>(j);
    }
    for (int r = 0; r < rows; ++r) {
        for (int k = 0; k < filled[r]; ++k) {
            const int j = rowBars[r][k];
            const BarMarks& marks = bars[static_cast<std::size_t>(j)];
            TpoCell& cell = grid.at(r, k + 1);
            Overwrite(cell.text, marks.text);
            cell.label = marks.label;
            cell.edgeBar = marks.edgeBar;
            cell.sequence = oldest + j;
        }
    }
    layout.widest = rows > 0 ? *std::max_element(filled.begin(), filled.begin() + rows) : 0;

    // 11. Whatever the last pass left beyond this pass's cells.
    for (int r = 0; r < kTpoRows; ++r) {
        if (r > rows - 2 && filled[r] > 0)
            ClearCell(grid.at(r, 0));
        grid.clearRow(r, r <= rows - 2 || filled[r] > 0 ? filled[r] + 1 : 0);
    }

    // 12. Moving averages.
    layout.longZ = AverageRow(series, request.params->longAvgBars[p], layout);
    layout.shortZ = AverageRow(series, request.params->shortAvgBars[p], layout);

    // 13. Title.
    return {ChartOutcome::Drawn,
            {},
            ValueChartTitle(*request.entry, p, series, layout.upCount, layout.downCount),
            false};
}

} // namespace velmora
