#include "analysis/ChartAids.h"
#include "analysis/ValueChartDrawing.h"

#include <gtest/gtest.h>
#include <memory>

using namespace velmora;

namespace {

// Levels 1237 (row 0) down to 1197 (row 40), one unit apart.
ValueChartLayout Layout()
{
    ValueChartLayout layout;
    layout.yunit = 1.0;
    layout.ymax = 1237.0;
    layout.ymin = 1197.0;
    layout.rows = 40;
    layout.widest = 4;
    return layout;
}

std::unique_ptr<BarSeries> SeriesOf(int count)
{
    auto series = std::make_unique<BarSeries>();
    for (int i = 0; i < count; ++i) {
        BarRecord& bar = series->bars[i];
        bar.time = "2026.03." + std::to_string(10 + i) + " 00:00";
        bar.open = 1210.0 + i;
        bar.close = 1212.25 + i;
        bar.high = 1215.5 + i;
        bar.low = 1208.0 + i;
    }
    series->count = count;
    series->cursor = count / 2;
    return series;
}

void Mark(TpoGrid& grid, int row, int column, int sequence, const BarSeries& series, bool up)
{
    TpoCell& cell = grid.at(row, column);
    cell.sequence = sequence;
    cell.text = std::to_string(sequence + 100) + (up ? "-U-" : "-D-") + series.bars[sequence].time;
    cell.label = "10";
}

} // namespace

TEST(ChartAids, CurrentPriceIsTheQuoteElseTheNewestClose)
{
    const auto series = SeriesOf(30); // newest close 1241.25, not the bar at the cursor
    const std::pair<const char*, const char*> cases[] = {
        {"1230.500", "1230.500"}, {"", "1241.250"}, {"--", "1241.250"}, {"0", "1241.250"}};
    for (const auto& [quote, text] : cases) {
        CommodityEntry entry;
        entry.lastPrice = quote;
        const auto price = CurrentPriceOf(entry, *series);
        ASSERT_TRUE(price) << quote;
        EXPECT_EQ(price->text, text) << quote;
        EXPECT_DOUBLE_EQ(price->value, std::stod(text)) << quote;
    }
    series->count = 0;
    EXPECT_FALSE(CurrentPriceOf(CommodityEntry{}, *series));
}

TEST(ChartAids, RowOfAPriceAndItsNearestLevelOnThePage)
{
    const ValueChartLayout layout = Layout();
    struct Case {
        double price;
        double row;
        int level;
    };
    const Case cases[] = {
        {1237.0, 0.0, 0},    // the top level
        {1230.0, 7.0, 7},    // inside
        {1230.4, 6.6, 7},    // between levels: the nearer one
        {1230.6, 6.4, 6},    //
        {1240.0, -3.0, 0},   // above YMax
        {1198.0, 39.0, 39},  // the lowest level with text on the page
        {1197.0, 40.0, 39},  // YMin itself has no room
        {1100.0, 137.0, 39}, // below YMin
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.price);
        EXPECT_NEAR(PriceRow(layout, c.price), c.row, 1e-9);
        EXPECT_EQ(NearestLevel(layout, c.price), c.level);
    }
    EXPECT_EQ(LevelMiddleY(0), 32);
    EXPECT_EQ(LevelMiddleY(7), 24 + 20 * 7 + 8);
}

TEST(ChartAids, CentringKeepsTheScrollWithinThePage)
{
    const ValueChartLayout layout = Layout(); // 820 pixels high
    struct Case {
        double price;
        int viewHeight;
        int top;
    };
    const Case cases[] = {
        {1217.0, 300, 432 - 150}, // level 20 in the middle
        {1217.0, 301, 432 - 150}, // an odd height
        {1235.0, 300, 0},         // near the top: no scrolling above the page
        {1240.0, 300, 0},         // above the page
        {1199.0, 300, 820 - 300}, // near the bottom: the page's end stays at the view's
        {1100.0, 300, 820 - 300}, // below the page
        {1217.0, 1000, 0},        // the whole page fits
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.price << " in " << c.viewHeight);
        EXPECT_EQ(CentredScrollTop(layout, c.price, c.viewHeight), c.top);
    }
}

// The drawing with the marker is the chart's own drawing, op for op, followed by the marker's
// ops; these lie where no label, mark or average line can be.
TEST(ChartAids, MarkerOnlyAppendsOpsInFreeSpace)
{
    ValueChartLayout layout = Layout();
    layout.longZ = 6;
    layout.shortZ = 12;
    auto grid = std::make_unique<TpoGrid>();
    const auto series = SeriesOf(30);
    for (int r = 0; r <= layout.rows - 2; ++r)
        grid->at(r, 0).text = LevelPriceText(layout, r);
    for (int r = 2; r < 30; ++r) {
        for (int q = 1; q <= 1 + r % layout.widest; ++q)
            Mark(*grid, r, q, r, *series, r % 2 == 0);
    }

    for (const double price : {1229.0, 1229.4, 1250.0, 1150.0}) {
        SCOPED_TRACE(price);
        const DrawList original = DrawValueChart(layout, *grid, 1280);
        DrawList marked = DrawValueChart(layout, *grid, 1280);
        AddCurrentPriceMarker(marked, layout, {price, "P"});

        EXPECT_EQ(marked.page, original.page);
        ASSERT_GT(marked.ops.size(), original.ops.size());
        for (std::size_t i = 0; i < original.ops.size(); ++i)
            ASSERT_TRUE(marked.ops[i] == original.ops[i]) << i;

        const int y = LevelMiddleY(NearestLevel(layout, price));
        for (std::size_t i = original.ops.size(); i < marked.ops.size(); ++i) {
            if (const auto* line = std::get_if<LineOp>(&marked.ops[i])) {
                EXPECT_EQ(line->pen.colour, kCurrentPriceColour);
                // Level lines within the level's text band: averages run in the gaps.
                EXPECT_EQ(line->from.y, line->to.y);
                EXPECT_LE(std::abs(line->from.y - y), 3);
                const int left = std::min(line->from.x, line->to.x);
                const int right = std::max(line->from.x, line->to.x);
                // Left of the labels, or right of the widest row's marks.
                EXPECT_TRUE(right <= kChartLabelX ||
                            left >= kChartMarkX + kChartColumnPitch * layout.widest)
                    << left << ".." << right;
            } else {
                const auto& text = std::get<TextOp>(marked.ops[i]);
                EXPECT_EQ(text.colour, kCurrentPriceColour);
                EXPECT_FALSE(text.opaque);
                EXPECT_EQ(text.y, y - 8);
                EXPECT_GE(text.x, kChartMarkX + kChartColumnPitch * (layout.widest + 1));
            }
        }
        const auto& label = std::get<TextOp>(marked.ops.back());
        EXPECT_EQ(label.text, price > 1237 ? "现价 P ↑" : price < 1197 ? "现价 P ↓" : "现价 P");
    }
}

TEST(ChartAids, HitTestingFindsTheLevelAndTheMark)
{
    const ValueChartLayout layout = Layout();
    auto grid = std::make_unique<TpoGrid>();
    const auto series = SeriesOf(30);
    Mark(*grid, 5, 1, 7, *series, true);
    Mark(*grid, 5, 2, 9, *series, false);
    struct Case {
        Point page;
        int row;
        int column; // 0: no mark
    };
    const Case cases[] = {
        {{10, 10}, -1, 0},            // above row 0's band
        {{10, 22}, 0, 0},             // band of row 0 starts two pixels above its text
        {{10, 41}, 0, 0},             // and ends two below
        {{10, 42}, 1, 0},             //
        {{76, 124}, 5, 1},            // first mark's text
        {{105, 141}, 5, 1},           // the rest of its column pitch
        {{106, 130}, 5, 2},           // second mark
        {{136, 130}, 5, 0},           // empty column
        {{75, 130}, 5, 0},            // the label's part of the row
        {{10, 22 + 20 * 39}, 39, 0},  // the lowest level on the page
        {{10, 22 + 20 * 40}, -1, 0},  // below it
        {{10, -30}, -1, 0},           // above the page
        {{76 + 30 * 120, 130}, 5, 0}, // past the grid's columns
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.page.x << "," << c.page.y);
        const ChartHit hit = HitTestChart(layout, *grid, c.page);
        EXPECT_EQ(hit.row, c.row);
        EXPECT_EQ(hit.column, c.column);
        EXPECT_EQ(hit.mark, c.column ? &grid->at(c.row, c.column) : nullptr);
        if (c.column) {
            const MarkArea area = MarkAreaOf(c.row, c.column);
            EXPECT_TRUE(c.page.x >= area.left && c.page.x < area.left + area.width &&
                        c.page.y >= area.top && c.page.y < area.top + area.height);
        }
    }
    EXPECT_EQ(LevelStatusText(layout, 5), "价位 1232.00");
}

TEST(ChartAids, MarkToolTipShowsTheBar)
{
    const auto series = SeriesOf(30);
    auto grid = std::make_unique<TpoGrid>();
    Mark(*grid, 3, 1, 4, *series, true);
    Mark(*grid, 3, 2, 5, *series, false);
    EXPECT_EQ(MarkToolTip(grid->at(3, 1), *series),
              "2026.03.14 00:00  阳线\n开盘 1214.000\n最高 1219.500\n最低 1212.000\n收盘 1216.250");
    EXPECT_EQ(MarkToolTip(grid->at(3, 2), *series)->rfind("2026.03.15 00:00  阴线\n", 0), 0u);

    series->bars[4].open = 1.5;
    series->bars[4].high = 1.75;
    EXPECT_NE(MarkToolTip(grid->at(3, 1), *series)->find("开盘 1.50000\n最高 1.75000"),
              std::string::npos);

    // A bar replaced since the mark was made, or gone, gives no tip.
    series->bars[5].time = "2026.04.01 00:00";
    EXPECT_FALSE(MarkToolTip(grid->at(3, 2), *series));
    series->count = 4;
    EXPECT_FALSE(MarkToolTip(grid->at(3, 1), *series));
}
