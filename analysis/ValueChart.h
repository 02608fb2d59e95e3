#pragma once

#include "analysis/AnalysisParams.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

inline constexpr int kTpoRows = 250;
inline constexpr int kTpoColumns = 100; // column 0 holds the price label, 1..99 the marks

// An automatically enlarged YUnit, kept while commodity, period and cursor stay the same.
struct YUnitOverride {
    int commodity = -1;
    int period = -1;
    int cursor = -1;
    bool active = false;
    double value = 0.0;
};

// A mark's label: a few characters of the bar's time, kept inside the cell, whose copies a
// pass makes thousands of times.
class ShortText {
public:
    static constexpr std::size_t kCapacity = 7;

    // Keeps at most kCapacity characters.
    ShortText& operator=(std::string_view text)
    {
        m_size = static_cast<std::uint8_t>(std::min(text.size(), kCapacity));
        std::copy_n(text.data(), m_size, m_data.data());
        return *this;
    }
    std::string_view view() const { return {m_data.data(), m_size}; }
    operator std::string_view() const { return view(); }
    bool empty() const { return m_size == 0; }
    void clear() { m_size = 0; }
    friend bool operator==(const ShortText& a, std::string_view b) { return a.view() == b; }

private:
    std::array<char, kCapacity> m_data{};
    std::uint8_t m_size = 0;
};

// One cell of the grid. A mark's text is "%03d-" of the bar index, "U-" or "D-", then the
// bar's time text; column 0 holds a price label instead.
struct TpoCell {
    std::string text;
    ShortText label;      // what the chart shows for a mark
    bool edgeBar = false; // one of the two oldest or two newest bars of the window: bold
    int sequence = 0;     // the bar's index in its series

    bool empty() const { return text.empty(); }
    bool isUp() const { return text.size() > 4 && text[4] == 'U'; }
};

class TpoGrid {
public:
    // Handing out a writable cell counts it as used, so that clear() need only visit the
    // cells that can hold something: a pass fills a few thousand of the 25,000.
    TpoCell& at(int row, int column)
    {
        std::uint8_t& used = m_usedColumns[row];
        if (column >= used)
            used = static_cast<std::uint8_t>(column + 1);
        return m_cells[row * kTpoColumns + column];
    }
    const TpoCell& at(int row, int column) const { return m_cells[row * kTpoColumns + column]; }
    void clear();
    // Empties the cells of `row` from `column` on.
    void clearRow(int row, int column);
    // The cells of `row` from this column on are empty.
    int usedColumns(int row) const { return m_usedColumns[row]; }

private:
    static_assert(kTpoColumns <= 255);

    std::array<TpoCell, kTpoRows * kTpoColumns> m_cells;
    std::array<std::uint8_t, kTpoRows> m_usedColumns{}; // row's columns 0..n-1 may be in use
};

// What the drawing needs besides the grid.
struct ValueChartLayout {
    double yunit = 0.0;
    double ymax = 0.0;
    double ymin = 0.0;
    double retMax = 0.0; // raw extremes of the window
    double retMin = 0.0;
    int rows = 0;   // R
    int widest = 0; // W, marks in the widest row
    int upCount = 0;
    int downCount = 0;
    std::optional<int> longZ; // row of the long moving average, when shown
    std::optional<int> shortZ;
};

// Everything a chart view keeps between its passes.
struct ValueChartState {
    TpoGrid grid;
    ValueChartLayout layout;
    // The series of the latest pass that got as far as choosing one; null before that.
    const BarSeries* series = nullptr;
};

enum class ChartOutcome {
    Drawn,      // grid and layout are complete; the title was recomputed
    Message,    // show `message` in a message box; nothing is drawn
    Suggestion, // the rows do not fit; the title may carry the suggestion, nothing is drawn
};

struct ValueChartPass {
    ChartOutcome outcome = ChartOutcome::Drawn;
    std::string message;
    std::string title;    // the document title after this pass
    bool repaint = false; // the view must be repainted (with erasing) to apply the memo
};

struct ValueChartRequest {
    int commodity = 0;
    Period period = 0;
    const CommodityEntry* entry = nullptr;
    const BarSeries* series = nullptr;
    const AnalysisParams* params = nullptr;
};

// One computation of the value chart, as each repaint of a chart view runs it.
ValueChartPass RunValueChartPass(const ValueChartRequest& request, std::string_view title,
                                 ValueChartState& state, YUnitOverride& memo);

// How a chart goes on after a pass that suggests a larger unit, the way a chart window
// repaints: that pass is followed by another, which computes with the unit the suggestion put
// into the memo; a chart that still does not fit is computed again until
// kMaxSuggestingPasses passes in a row have ended with a suggestion.
class SuggestionRepaints {
public:
    static constexpr int kMaxSuggestingPasses = 3;

    // Told every pass of the chart: whether another pass is to follow this one.
    bool followUp(const ValueChartPass& pass);

private:
    int m_suggesting = 0; // the latest passes in a row that ended with a suggestion
};

// "%s-%s-%s %s %s价值图 U:%03d-D:%03d" from the commodity, period, the time of the bar at the
// series' cursor (empty when the cursor is not on a bar), the latest price and the counts.
std::string ValueChartTitle(const CommodityEntry& entry, Period period, const BarSeries& series,
                            int upCount, int downCount);

// The title of a new chart document: "%s-%s-%s 价值图".
std::string NewChartTitle(const CommodityEntry& entry, Period period);

// The title the periodic refresh gives a chart view; nullopt when the view's passes never
// got as far as choosing a series (its title then stays).
std::optional<std::string> RetitleValueChart(const CommodityEntry& entry, Period period,
                                             const ValueChartState& state);

// The chart's messages.
inline constexpr std::string_view kYUnitInvalidMessage = "商品单位价格参数非法!";
inline constexpr std::string_view kParamsInvalidMessage = "参数异常!";
inline constexpr std::string_view kNotEnoughDataMessage =
    "数据无法达到分析要求,请在数据管理中同步!";

} // namespace velmora
