#include "analysis/QuoteBoardDrawing.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

using Commodities = std::array<CommodityEntry, kCommodityCount>;

constexpr std::size_t kFirstLine = 13; // fill, heading, eleven column titles
constexpr std::size_t kColumns = 11;

Commodities Named()
{
    Commodities all;
    for (int i = 0; i < kCommodityCount; ++i) {
        all[i].code = "C" + std::to_string(i);
        all[i].name = "名" + std::to_string(i);
    }
    return all;
}

// The text of commodity `line` (1..13) in `column` (0..10).
const TextOp& Cell(const DrawList& list, int line, int column)
{
    return std::get<TextOp>(list.ops.at(kFirstLine + (line - 1) * kColumns + column));
}

std::vector<LineOp> Rules(const DrawList& list)
{
    std::vector<LineOp> rules;
    for (const DrawOp& op : list.ops) {
        if (const auto* line = std::get_if<LineOp>(&op))
            rules.push_back(*line);
    }
    return rules;
}

} // namespace

// A board much taller than wide keeps its texts apart: the font never outgrows its column.
TEST(QuoteBoardDrawing, ANarrowTallBoardKeepsItsFontWithinTheColumns)
{
    for (const auto& [width, height, font] :
         {std::array{780, 400, 11}, std::array{390, 800, 7}, std::array{1600, 900, 25}}) {
        const DrawList list = DrawQuoteBoard(Named(), width, height);
        EXPECT_EQ(std::get<TextOp>(list.ops[1]).font.height, font) << width << "x" << height;
    }
}

TEST(QuoteBoardDrawing, ScalesToAClientAreaOf780By400)
{
    const DrawList list = DrawQuoteBoard(Named(), 780, 400);
    EXPECT_FALSE(list.page);
    ASSERT_EQ(list.ops.size(), kFirstLine + 13 * kColumns + 15 + 16);

    const auto& ground = std::get<RectOp>(list.ops[0]);
    EXPECT_EQ((std::array{ground.left, ground.top, ground.right, ground.bottom}),
              (std::array{0, 0, 780, 400}));
    EXPECT_EQ(ground.brush, kBlack);
    EXPECT_EQ(ground.pen, (Pen{kBlack, 1}));

    const auto& heading = std::get<TextOp>(list.ops[1]);
    EXPECT_EQ(heading.text, "贵金属和直盘外汇实时行情图");
    EXPECT_EQ(heading.x, 313);
    EXPECT_EQ(heading.y, 8);
    EXPECT_EQ(heading.colour, kRed);

    const char* titles[] = {"商品代码", "商品名称", "更新时间", "最新价格", "涨跌幅度", "今开价格",
                            "昨收价格", "最高价格", "最低价格", "买入价格", "卖出价格"};
    for (std::size_t k = 0; k < kColumns; ++k) {
        const auto& title = std::get<TextOp>(list.ops[2 + k]);
        EXPECT_EQ(title.text, titles[k]);
        EXPECT_EQ(title.x, 63 + 60 * static_cast<int>(k));
        EXPECT_EQ(title.y, 33);
        EXPECT_EQ(title.colour, kRed);
    }

    // Line o at trunc((o + 1/3) * 25 + 25).
    const std::pair<int, int> lineTops[] = {{1, 58}, {2, 83}, {7, 208}, {13, 358}};
    for (const auto& [line, y] : lineTops) {
        EXPECT_EQ(Cell(list, line, 0).y, y) << line;
        EXPECT_EQ(Cell(list, line, 0).text, "C" + std::to_string(line - 1));
        EXPECT_EQ(Cell(list, line, 1).text, "名" + std::to_string(line - 1));
        EXPECT_EQ(Cell(list, line, 10).x, 663);
    }

    // Every text: the Song face at trunc(0.45 * 25), on an opaque black ground.
    for (const DrawOp& op : list.ops) {
        if (const auto* text = std::get_if<TextOp>(&op)) {
            EXPECT_EQ(text->font, (Font{"宋体", 11, 400}));
            EXPECT_TRUE(text->opaque);
            EXPECT_EQ(text->background, kBlack);
        }
    }
}

TEST(QuoteBoardDrawing, RulesFifteenAcrossThenSixteenDown)
{
    const auto rules = Rules(DrawQuoteBoard(Named(), 780, 400));
    ASSERT_EQ(rules.size(), 31u);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(rules[i].from, (Point{60, 25 * (i + 1)}));
        EXPECT_EQ(rules[i].to, (Point{720, 25 * (i + 1)}));
        EXPECT_EQ(rules[i].pen, (Pen{kRed, 1}));
    }
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(rules[15 + i].from, (Point{60 * (i + 1), 25}));
        EXPECT_EQ(rules[15 + i].to, (Point{60 * (i + 1), 375}));
    }
    EXPECT_GT(rules.back().from.x, 780); // the last ones fall past the right edge
}

TEST(QuoteBoardDrawing, FractionalBandsTruncateEachPosition)
{
    // cw = 76.92..., rh = 43.75
    const DrawList list = DrawQuoteBoard(Named(), 1000, 700);
    const auto& heading = std::get<TextOp>(list.ops[1]);
    EXPECT_EQ(heading.font.height, 19);
    EXPECT_EQ(heading.x, 500 - 7 * 19);
    EXPECT_EQ(heading.y, 14);
    EXPECT_EQ(std::get<TextOp>(list.ops[2]).x, 80);
    EXPECT_EQ(std::get<TextOp>(list.ops[3]).x, 157);
    EXPECT_EQ(std::get<TextOp>(list.ops[2]).y, 58);
    EXPECT_EQ(Cell(list, 1, 0).y, 102);

    const auto rules = Rules(list);
    EXPECT_EQ(rules[0].from, (Point{76, 43}));
    EXPECT_EQ(rules[0].to, (Point{923, 43}));
    EXPECT_EQ(rules[1].from.y, 87);
    EXPECT_EQ(rules[15].from, (Point{76, 43}));
    EXPECT_EQ(rules[15].to, (Point{76, 656}));
    EXPECT_EQ(rules[16].from.x, 153);
}

TEST(QuoteBoardDrawing, BeforeTheFirstQuoteEveryLineIsRedWithAnEmptyRange)
{
    const DrawList list = DrawQuoteBoard(Named(), 780, 400);
    for (int line = 1; line <= kCommodityCount; ++line) {
        for (int k = 0; k < 11; ++k) {
            const TextOp& cell = Cell(list, line, k);
            EXPECT_EQ(cell.colour, kRed) << line << "/" << k;
            if (k > 1) {
                EXPECT_EQ(cell.text, k == 4 ? "0.00000" : "") << line << "/" << k;
            }
        }
    }
}

TEST(QuoteBoardDrawing, GreenOnlyWhileTheOpenIsAboveTheLatestPrice)
{
    struct Case {
        const char* open;
        const char* last;
        Rgb colour;
    };
    const Case cases[] = {
        {"1.2345", "1.2344", kGreen},    {"1.2345", "1.2345", kRed}, {"1.2344", "1.2345", kRed},
        {"2000.5xyz", "2000.4", kGreen},                    // the leading numeric part counts
        {" 12", "11", kGreen},           {"abc", "", kRed}, // neither is a number: 0 and 0
        {"abc", "-1", kGreen},                              // not a number counts as 0
    };
    Commodities all = Named();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        all[i].todayOpen = cases[i].open;
        all[i].lastPrice = cases[i].last;
    }
    const DrawList list = DrawQuoteBoard(all, 780, 400);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        for (int k = 0; k < 11; ++k)
            EXPECT_EQ(Cell(list, static_cast<int>(i) + 1, k).colour, cases[i].colour)
                << cases[i].open << " vs " << cases[i].last << ", column " << k;
    }
}

TEST(QuoteBoardDrawing, CommodityLineColumnsAndRangePrecision)
{
    Commodities all = Named();
    all[0] = {"LLGUSD",  "现货黄金", {},        "2034.50", "2024-05-06 10:30:05",
              "2030.00", "2029.75",  "2021.25", "2040.50", "2034.30",
              "2034.70"};
    all[1].lastPrice = "9.99";
    all[1].high = "10.1";
    all[1].low = "9.8";
    all[2].lastPrice = "10.00";
    all[2].high = "10.1";
    all[2].low = "9.8";
    const DrawList list = DrawQuoteBoard(all, 780, 400);

    const char* expected[] = {"LLGUSD",  "现货黄金", "10:30:05", "2034.50", "19.250", "2030.00",
                              "2029.75", "2040.50",  "2021.25",  "2034.30", "2034.70"};
    for (int k = 0; k < 11; ++k) {
        EXPECT_EQ(Cell(list, 1, k).text, expected[k]) << k;
        EXPECT_EQ(Cell(list, 1, k).x, 63 + 60 * k);
    }
    EXPECT_EQ(Cell(list, 2, 4).text, "0.30000");
    EXPECT_EQ(Cell(list, 3, 4).text, "0.300");
}

TEST(QuoteBoardDrawing, QuoteTimeFromTheTwelfthByteWithoutSplittingCharacters)
{
    const std::pair<const char*, const char*> cases[] = {
        {"2024-05-06 10:30:05", "10:30:05"},
        {"2024-05-06 ", ""}, // exactly eleven bytes
        {"2024-05-06", ""},
        {"", ""},
        {"a年年年 10:00", "10:00"},
        {"a年年年年 X", " X"}, // byte 11 is inside the fourth 年
    };
    Commodities all = Named();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        all[i].quoteTime = cases[i].first;
    const DrawList list = DrawQuoteBoard(all, 780, 400);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Cell(list, static_cast<int>(i) + 1, 2).text, cases[i].second) << cases[i].first;
}

TEST(QuoteBoardDrawing, StaleLinesAreGreyAndTheirRulesAndOthersUnchanged)
{
    Commodities all = Named();
    all[0].todayOpen = "2"; // green when fresh
    all[0].lastPrice = "1";
    QuoteBoardMarks marks;
    marks.stale[0] = true;
    marks.stale[12] = true;
    const DrawList plain = DrawQuoteBoard(all, 780, 400);
    const DrawList marked = DrawQuoteBoard(all, 780, 400, marks);
    ASSERT_EQ(marked.ops.size(), plain.ops.size());
    for (int line = 1; line <= kCommodityCount; ++line) {
        const bool stale = line == 1 || line == 13;
        for (int k = 0; k < 11; ++k) {
            EXPECT_EQ(Cell(marked, line, k).colour,
                      stale ? kStaleGrey : Cell(plain, line, k).colour)
                << line << "/" << k;
            EXPECT_EQ(Cell(marked, line, k).text, Cell(plain, line, k).text);
        }
    }
    // Heading, titles and rules keep their red.
    EXPECT_EQ(std::get<TextOp>(marked.ops[1]).colour, kRed);
    for (const LineOp& rule : Rules(marked))
        EXPECT_EQ(rule.pen, (Pen{kRed, 1}));
}

TEST(QuoteBoardDrawing, AQuoteFromBeforeTodayShowsItsDate)
{
    using namespace std::chrono;
    const std::pair<const char*, const char*> cases[] = {
        {"2026-12-08 14:30:05", "14:30:05"}, // today
        {"2026-12-07 23:59:59", "12-07"},
        {"2026-1-5 09:00:00", "01-05"},
        {"2025-12-31 10:00:00", "25-12-31"},
        {"2026-12-09 00:30:00", "00:30:00"}, // the server's zone ahead of ours
        {"2026-12-07", "12-07"},
        {"2026-13-07 10:00:00", "10:00:00"}, // no date: as before
        {"26-12-07 10:00:00", ":00:00"},     // the clock from byte 11, as ever
        {"2026-12-07T10:00:00", "10:00:00"},
        {"", ""},
    };
    Commodities all = Named();
    for (std::size_t i = 0; i < std::size(cases); ++i)
        all[i].quoteTime = cases[i].first;
    QuoteBoardMarks marks;
    marks.today = year{2026} / 12 / 8;
    const DrawList list = DrawQuoteBoard(all, 780, 400, marks);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Cell(list, static_cast<int>(i) + 1, 2).text, cases[i].second) << cases[i].first;
}
