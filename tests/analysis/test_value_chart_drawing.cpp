#include "analysis/ValueChartDrawing.h"

#include <climits>
#include <gtest/gtest.h>
#include <memory>

using namespace velmora;

namespace {

constexpr int kRows = 40;
constexpr int kWidest = 5;

struct Mark {
    int row;
    int column;
    bool up;
    bool edge;
};

class ValueChartDrawingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        layout.rows = kRows;
        layout.widest = kWidest;
        // A label in every row, the two lowest included: the drawing must stop on its own.
        for (int r = 0; r <= kRows; ++r)
            grid->at(r, 0).text = "L" + std::to_string(r);
        // Row 39 has no label drawn but keeps its marks.
        for (const Mark& m :
             {Mark{0, 1, true, true}, Mark{0, 2, false, false}, Mark{3, 1, false, true},
              Mark{3, 2, true, false}, Mark{3, 3, true, false}, Mark{3, 4, false, false},
              Mark{3, kWidest, true, false}, Mark{39, 1, false, false}}) {
            TpoCell& cell = grid->at(m.row, m.column);
            cell.text = std::string("001-") + (m.up ? "U" : "D") + "-2024.05.06 10:30:00";
            cell.label = std::to_string(m.row) + "/" + std::to_string(m.column);
            cell.edgeBar = m.edge;
        }
    }

    DrawList draw(int screenWidth = 1280) const
    {
        return DrawValueChart(layout, *grid, screenWidth);
    }

    static std::vector<TextOp> texts(const DrawList& list, bool (*keep)(const TextOp&))
    {
        std::vector<TextOp> found;
        for (const DrawOp& op : list.ops) {
            if (const auto* text = std::get_if<TextOp>(&op); text && keep(*text))
                found.push_back(*text);
        }
        return found;
    }

    static std::vector<LineOp> lines(const DrawList& list)
    {
        std::vector<LineOp> found;
        for (const DrawOp& op : list.ops) {
            if (const auto* line = std::get_if<LineOp>(&op))
                found.push_back(*line);
        }
        return found;
    }

    ValueChartLayout layout;
    std::unique_ptr<TpoGrid> grid = std::make_unique<TpoGrid>();
};

const Font kNormal{"宋体", 16, 400};
const Font kBold{"宋体", 16, 700};

} // namespace

TEST_F(ValueChartDrawingTest, PageIsScreenWidthLessMarginAndOneRowMoreThanTheLevels)
{
    const DrawList list = draw(1280);
    ASSERT_TRUE(list.page);
    EXPECT_EQ(*list.page, (PageSize{1260, 820}));
    EXPECT_EQ(PageStep(*list.page), (PageSize{126, 82}));
    EXPECT_EQ(LineStep(*list.page), (PageSize{12, 8}));

    // The background comes first and covers exactly the page, white on white.
    const auto* background = std::get_if<RectOp>(&list.ops.front());
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->left, 0);
    EXPECT_EQ(background->top, 0);
    EXPECT_EQ(background->right, 1260);
    EXPECT_EQ(background->bottom, 820);
    EXPECT_EQ(background->brush, kWhite);
    EXPECT_EQ(background->pen, (Pen{kWhite, 1}));

    EXPECT_EQ(draw(800).page->width, 780);
}

TEST_F(ValueChartDrawingTest, PriceLabelsStopTwoRowsAboveTheBottomLevel)
{
    const auto labels = texts(draw(), [](const TextOp& t) { return t.x == 8; });
    ASSERT_EQ(labels.size(), static_cast<std::size_t>(kRows - 1)); // rows 0..38
    for (int r = 0; r < kRows - 1; ++r) {
        EXPECT_EQ(labels[r].y, 24 + 20 * r);
        EXPECT_EQ(labels[r].text, "L" + std::to_string(r));
        EXPECT_EQ(labels[r].colour, kBlack);
        EXPECT_EQ(labels[r].font, kNormal);
        EXPECT_TRUE(labels[r].opaque);
        EXPECT_EQ(labels[r].background, kWhite);
    }
    EXPECT_EQ(labels.back().y, 784);
}

TEST_F(ValueChartDrawingTest, MarksInRowThenColumnOrderWithColourAndWeight)
{
    const auto marks = texts(draw(), [](const TextOp& t) { return t.x != 8; });
    struct Expected {
        int x;
        int y;
        const char* text;
        Rgb colour;
        const Font& font;
    };
    const Expected expected[] = {
        {76, 24, "0/1", kRed, kBold},    {106, 24, "0/2", kBlue, kNormal},
        {76, 84, "3/1", kBlue, kBold},   {106, 84, "3/2", kRed, kNormal},
        {136, 84, "3/3", kRed, kNormal}, {166, 84, "3/4", kBlue, kNormal},
        {196, 84, "3/5", kRed, kNormal}, {76, 804, "39/1", kBlue, kNormal},
    };
    ASSERT_EQ(marks.size(), std::size(expected));
    for (std::size_t i = 0; i < marks.size(); ++i) {
        SCOPED_TRACE(expected[i].text);
        EXPECT_EQ(marks[i].x, expected[i].x);
        EXPECT_EQ(marks[i].y, expected[i].y);
        EXPECT_EQ(marks[i].text, expected[i].text);
        EXPECT_EQ(marks[i].colour, expected[i].colour);
        EXPECT_EQ(marks[i].font, expected[i].font);
        EXPECT_TRUE(marks[i].opaque);
        EXPECT_EQ(marks[i].background, kWhite);
    }
    // The widest row's last mark, and the lowest drawable row at the page's last text row.
    EXPECT_EQ(marks[6].x, 76 + 30 * (kWidest - 1));
    EXPECT_EQ(marks[7].y + 16, draw().page->height);
}

TEST_F(ValueChartDrawingTest, MarksBeyondThePageAreStillDrawn)
{
    grid->at(10, 99).text = "001-U-2024.05.06 10:30:00";
    grid->at(10, 99).label = "far";
    const auto far = texts(draw(400), [](const TextOp& t) { return t.text == "far"; });
    ASSERT_EQ(far.size(), 1u);
    EXPECT_EQ(far[0].x, 76 + 30 * 98);
    EXPECT_GT(far[0].x, 380);
}

TEST_F(ValueChartDrawingTest, AverageLinesLongThenShortAfterEverythingElse)
{
    layout.longZ = 7;
    layout.shortZ = -3; // an average above the top level
    const DrawList list = draw();

    const auto drawn = lines(list);
    ASSERT_EQ(drawn.size(), 2u);
    const int end = 16 + 30 * (kWidest + 3);
    EXPECT_EQ(drawn[0].from, (Point{0, 22 + 20 * 9}));
    EXPECT_EQ(drawn[0].to, (Point{end, 22 + 20 * 9}));
    EXPECT_EQ(drawn[0].pen, (Pen{kRed, 2}));
    EXPECT_EQ(drawn[1].from, (Point{0, 2}));
    EXPECT_EQ(drawn[1].to, (Point{end, 2}));
    EXPECT_EQ(drawn[1].pen, (Pen{kBlue, 2}));
    // Two column pitches past the widest row's last mark.
    EXPECT_EQ(end, 76 + 30 * (kWidest - 1) + 2 * 30);

    // Order: background, labels, marks, long, short.
    ASSERT_EQ(list.ops.size(), 1 + (kRows - 1) + 8 + 2u);
    EXPECT_TRUE(std::holds_alternative<RectOp>(list.ops[0]));
    for (std::size_t i = 1; i < list.ops.size() - 2; ++i)
        EXPECT_TRUE(std::holds_alternative<TextOp>(list.ops[i])) << i;
    EXPECT_EQ(std::get<LineOp>(list.ops[list.ops.size() - 2]).pen.colour, kRed);
    EXPECT_EQ(std::get<LineOp>(list.ops.back()).pen.colour, kBlue);
}

TEST_F(ValueChartDrawingTest, HiddenAveragesDrawNoLine)
{
    layout.shortZ = 4;
    const auto drawn = lines(draw());
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].pen.colour, kBlue);
}

TEST_F(ValueChartDrawingTest, AveragesAtTheIntegerLimitsStayFarOffThePage)
{
    layout.longZ = INT_MAX;
    layout.shortZ = INT_MIN;
    const auto drawn = lines(draw());
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_GT(drawn[0].from.y, 1000000);
    EXPECT_LT(drawn[1].from.y, -1000000);
}
