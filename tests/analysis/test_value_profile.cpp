#include "analysis/ValueChartDrawing.h"
#include "analysis/ValueProfile.h"

#include <gtest/gtest.h>
#include <memory>

using namespace velmora;

namespace {

// Levels 1237 (row 0) downwards, one unit apart.
ValueChartLayout Layout(int rows)
{
    ValueChartLayout layout;
    layout.yunit = 1.0;
    layout.ymax = 1237.0;
    layout.rows = rows;
    return layout;
}

} // namespace

TEST(ValueProfile, MeasuresOfHandMadeRows)
{
    struct Case {
        const char* what;
        std::vector<int> counts;
        int poc;
        int vaTop;
        int vaBottom;
        std::vector<int> singles;
    };
    const Case cases[] = {
        {"one row", {0, 0, 3, 0}, 2, 2, 2, {}},
        // Rows 2 and 4 tie and lie as near the middle: the upper one. The area grows up,
        // runs out above and goes on below; row 3 is a single print, row 5 is the last row.
        {"tie, upper wins", {0, 2, 5, 1, 5, 1, 0}, 2, 1, 4, {3}},
        // Three rows of 4: the one nearest the middle. Below wins, then a tie goes up.
        {"tie, nearest the middle", {4, 1, 4, 4, 1}, 2, 0, 3, {1}},
        // The point of control is the last row: the area can only grow upwards.
        {"area reaches the end", {1, 1, 2, 6}, 3, 2, 3, {1}},
        // Seven tenths of 10 is exactly 7: reached after one row, not two.
        {"target exactly reached", {3, 4, 3}, 1, 0, 1, {}},
        // An empty row inside the profile joins the area without adding to it.
        {"empty row inside", {5, 0, 5}, 0, 0, 2, {}},
        {"everything", {1, 1, 1}, 1, 0, 2, {1}},
    };
    const ValueChartLayout layout = Layout(10);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto profile = ComputeProfile(c.counts, layout);
        ASSERT_TRUE(profile);
        EXPECT_EQ(profile->counts, c.counts);
        EXPECT_EQ(profile->poc, c.poc);
        EXPECT_EQ(profile->vaTop, c.vaTop);
        EXPECT_EQ(profile->vaBottom, c.vaBottom);
        EXPECT_EQ(profile->singlePrints, c.singles);
        EXPECT_EQ(profile->pocPrice, 1237.0 - c.poc);
        EXPECT_EQ(profile->vah, 1237.0 - c.vaTop);
        EXPECT_EQ(profile->val, 1237.0 - c.vaBottom);
    }

    EXPECT_FALSE(ComputeProfile({0, 0, 0}, layout));
    EXPECT_FALSE(ComputeProfile({}, layout));
}

TEST(ValueProfile, PricesAreTheLevelsAsTheirLabelsShowThem)
{
    ValueChartLayout layout;
    layout.ymax = 1.237;
    layout.yunit = 0.0005;
    const auto profile = ComputeProfile({0, 1, 0, 4, 2}, layout);
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->pocPrice, 1.2355); // not 1.2355000000000001
    EXPECT_EQ(profile->vah, 1.2355);
    EXPECT_EQ(profile->val, 1.235);
    EXPECT_EQ(ProfileLevelText(*profile, layout, 3), "控制点 POC、价值区高点 VAH 1.2355");
    EXPECT_EQ(ProfileLevelText(*profile, layout, 4), "价值区低点 VAL 1.2350");
    EXPECT_EQ(ProfileLevelText(*profile, layout, 1), "");
}

TEST(ValueProfile, CountsAreTheMarksThePassLeftInEachRow)
{
    auto grid = std::make_unique<TpoGrid>();
    for (const auto& [row, marks] : {std::pair{1, 2}, std::pair{2, 3}, std::pair{4, 1}}) {
        grid->at(row, 0).text = "label";
        for (int q = 1; q <= marks; ++q)
            grid->at(row, q).text = "001-U-2026.12.08";
    }
    grid->at(7, 1).text = "001-D-2026.12.08"; // below the pass's rows
    const auto profile = ProfileOf(Layout(6), *grid);
    ASSERT_TRUE(profile);
    EXPECT_EQ(profile->counts, (std::vector<int>{0, 2, 3, 0, 1, 0}));
    EXPECT_EQ(profile->total, 6);
    EXPECT_EQ(profile->first, 1);
    EXPECT_EQ(profile->last, 4);
    EXPECT_FALSE(ProfileOf(Layout(6), *std::make_unique<TpoGrid>()));
}

// The layer keeps every op of the chart as it was, apart from the background of the point of
// control's marks; it adds the band right after the page and its own ops after the chart's.
TEST(ValueProfile, LayerAddsToTheChartsDrawing)
{
    ValueChartLayout layout = Layout(12);
    layout.widest = 5;
    layout.longZ = 3;
    auto grid = std::make_unique<TpoGrid>();
    const std::vector<int> counts{0, 1, 3, 5, 4, 1, 2, 0, 0, 0, 0, 0};
    for (int r = 0; r <= layout.rows - 2; ++r)
        grid->at(r, 0).text = "L" + std::to_string(r);
    for (int r = 0; r < layout.rows; ++r) {
        for (int q = 1; q <= counts[static_cast<std::size_t>(r)]; ++q) {
            grid->at(r, q).text = std::string("001-") + (q % 2 ? "U" : "D") + "-2026.12.08";
            grid->at(r, q).label = "08";
        }
    }
    const auto profile = ProfileOf(layout, *grid);
    ASSERT_TRUE(profile);
    ASSERT_EQ(profile->poc, 3);
    ASSERT_EQ(profile->vaTop, 2);
    ASSERT_EQ(profile->vaBottom, 4);
    ASSERT_EQ(profile->singlePrints, std::vector<int>{5});

    const DrawList original = DrawValueChart(layout, *grid, 1280);
    DrawList layered = DrawValueChart(layout, *grid, 1280);
    AddProfileLayer(layered, layout, *profile);
    EXPECT_EQ(layered.page, original.page);
    ASSERT_GT(layered.ops.size(), original.ops.size() + 1);

    EXPECT_TRUE(layered.ops[0] == original.ops[0]);
    const auto& band = std::get<RectOp>(layered.ops[1]);
    EXPECT_EQ(band, (RectOp{74, 82, 76 + 30 * 5, 102, kPocBandColour, {kPocBandColour, 1}}));
    int recoloured = 0;
    for (std::size_t i = 1; i < original.ops.size(); ++i) {
        DrawOp expected = original.ops[i];
        if (auto* text = std::get_if<TextOp>(&expected); text && text->y == 84 && text->x >= 76) {
            text->background = kPocBandColour;
            ++recoloured;
        }
        ASSERT_TRUE(layered.ops[i + 1] == expected) << i;
    }
    EXPECT_EQ(recoloured, 5);

    std::vector<LineOp> lines;
    std::vector<RectOp> squares;
    std::vector<TextOp> notes;
    for (std::size_t i = original.ops.size() + 1; i < layered.ops.size(); ++i) {
        if (const auto* line = std::get_if<LineOp>(&layered.ops[i]))
            lines.push_back(*line);
        else if (const auto* rect = std::get_if<RectOp>(&layered.ops[i]))
            squares.push_back(*rect);
        else
            notes.push_back(std::get<TextOp>(layered.ops[i]));
    }
    // The bracket from the top of VAH's text to the bottom of VAL's, left of the marks.
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], (LineOp{{68, 64}, {68, 120}, {kValueAreaColour, 1}}));
    EXPECT_EQ(lines[1].from, (Point{68, 64}));
    EXPECT_EQ(lines[2].from, (Point{68, 119}));
    for (const LineOp& line : lines)
        EXPECT_LT(std::max(line.from.x, line.to.x), 76);

    ASSERT_EQ(squares.size(), 1u);
    EXPECT_EQ(squares[0].brush, kSinglePrintColour);
    EXPECT_TRUE(squares[0].top >= 124 && squares[0].bottom <= 140); // row 5's text
    EXPECT_TRUE(squares[0].left > 68 && squares[0].right <= 76);

    // A count after each marked row's last mark, then VAH and VAL one column further on.
    ASSERT_EQ(notes.size(), 6u + 2u);
    int row = 1;
    for (std::size_t i = 0; i < 6; ++i, ++row) {
        const int k = counts[static_cast<std::size_t>(row)];
        EXPECT_EQ(notes[i].text, std::to_string(k));
        EXPECT_EQ(notes[i].x, 76 + 30 * k + 4);
        EXPECT_EQ(notes[i].y, 24 + 20 * row + 2);
        EXPECT_EQ(notes[i].colour, kRowCountColour);
        EXPECT_FALSE(notes[i].opaque);
    }
    EXPECT_EQ(notes[6].text, "VAH 1235.00");
    EXPECT_EQ(notes[6].x, 76 + 30 * 4 + 4);
    EXPECT_EQ(notes[7].text, "VAL 1233.00");
    EXPECT_EQ(notes[7].y, 24 + 20 * 4 + 2);
    EXPECT_EQ(notes[7].colour, kValueAreaColour);

    // The layer's colours are none of the chart's.
    for (const Rgb colour : {kPocBandColour, kValueAreaColour, kSinglePrintColour, kRowCountColour})
        for (const Rgb chart : {kRed, kBlue, kBlack, kWhite, kGreen})
            EXPECT_FALSE(colour == chart);
}
