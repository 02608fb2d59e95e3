#include "analysis/ValueChart.h"
#include "market/TextNumbers.h"

#include <clocale>
#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

using namespace velmora;

namespace {

constexpr int kGold = 12; // LLGUSD
constexpr int kEuro = 5;  // EURUSD

BarRecord Bar(double high, double low, double open, double close,
              std::string time = "2024.05.06 10:30:00")
{
    BarRecord bar;
    bar.high = high;
    bar.low = low;
    bar.open = open;
    bar.close = close;
    bar.time = std::move(time);
    return bar;
}

class ValueChartTest : public ::testing::Test {
protected:
    Catalogue catalogue;
    BarStore barStore;
    void SetUp() override { InitCatalogue(catalogue); }

    // Puts `window` at the end of a series of `count` bars whose older bars repeat the first
    // bar of the window; the cursor goes on the newest bar.
    void fill(int commodity, Period period, const std::vector<BarRecord>& window, int count = -1)
    {
        BarSeries& series = barStore.Series(commodity, period);
        if (count < 0)
            count = static_cast<int>(window.size()) + 1;
        const int first = count - static_cast<int>(window.size());
        for (int i = 0; i < count; ++i)
            series.bars[i] = i < first ? window.front() : window[i - first];
        series.count = count;
        series.cursor = count - 1;
        params.tpoBars[period] = static_cast<int>(window.size());
    }

    ValueChartPass run(int commodity, Period period, std::string_view title = "T")
    {
        const ValueChartRequest request{commodity, period, &catalogue[commodity],
                                        &barStore.Series(commodity, period), &params};
        return RunValueChartPass(request, title, *state, memo);
    }

    const ValueChartLayout& layout() const { return state->layout; }
    const TpoCell& cell(int row, int column) const { return state->grid.at(row, column); }

    // The row whose level is `price` on a chart drawn with `yunit`.
    int rowOf(double price, double yunit) const
    {
        return static_cast<int>((layout().ymax - price) / yunit + 0.5);
    }

    AnalysisParams params;
    YUnitOverride memo;
    std::unique_ptr<ValueChartState> state = std::make_unique<ValueChartState>();
};

} // namespace

TEST_F(ValueChartTest, BoundsRoundOutwardOnTheGridChosenByTheUpperBound)
{
    catalogue[kGold].yunit[kDay] = "1";
    fill(kGold, kDay, {Bar(1234.56, 1220, 1221, 1230), Bar(1225, 1200.34, 1224, 1201)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_DOUBLE_EQ(layout().retMax, 1234.56);
    EXPECT_DOUBLE_EQ(layout().retMin, 1200.34);
    EXPECT_DOUBLE_EQ(layout().ymax, 1237.0);
    EXPECT_DOUBLE_EQ(layout().ymin, 1197.0);
    EXPECT_EQ(layout().rows, 40);
    EXPECT_EQ(cell(0, 0).text, "1237.00");
    EXPECT_EQ(cell(38, 0).text, "1199.00");
    EXPECT_TRUE(cell(39, 0).empty()); // the two lowest levels carry no label
    EXPECT_TRUE(cell(40, 0).empty());

    catalogue[kEuro].yunit[kDay] = "0.001";
    fill(kEuro, kDay, {Bar(1.2345, 1.21, 1.22, 1.23), Bar(1.22, 1.2001, 1.21, 1.205)});
    ASSERT_EQ(run(kEuro, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_NEAR(layout().ymax, 1.2370, 1e-12);
    EXPECT_NEAR(layout().ymin, 1.1970, 1e-12);
    EXPECT_EQ(cell(0, 0).text, "1.2370");
}

TEST_F(ValueChartTest, PriceLabelsRoundLikePrintfAtTies)
{
    // Units whose levels fall on exact binary ties of the last decimal (0.125), next to
    // decimal ties (0.025), and on the four-decimal grid next to ties (0.00025).
    const struct {
        const char* yunit;
        double high;
        double low;
        const char* format;
    } cases[] = {{"0.125", 1010, 1000, "%.02f"},
                 {"0.025", 1001.5, 1000, "%.02f"},
                 {"0.00025", 1.2345, 1.231, "%.04f"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.yunit);
        catalogue[kGold].yunit[kDay] = c.yunit;
        fill(kGold, kDay, {Bar(c.high, c.low, c.low, c.high), Bar(c.high, c.low, c.high, c.low)});
        ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
        ASSERT_GT(layout().rows, 20);
        for (int r = 0; r <= layout().rows - 2; ++r) {
            char expected[64];
            std::snprintf(expected, sizeof expected, c.format, layout().ymax - r * layout().yunit);
            EXPECT_EQ(cell(r, 0).text, expected) << r;
        }
    }
    catalogue[kGold].yunit[kDay] = "0.125";
    fill(kGold, kDay, {Bar(1010, 1000, 1000, 1010), Bar(1010, 1000, 1010, 1000)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    ASSERT_DOUBLE_EQ(layout().ymax, 1011.0);
    EXPECT_EQ(cell(1, 0).text, "1010.88");
    EXPECT_EQ(cell(3, 0).text, "1010.62"); // a tie goes to the even digit
}

TEST_F(ValueChartTest, GridChoiceAtTen)
{
    // An upper bound of exactly 10 before rounding takes the whole-number grid.
    catalogue[kGold].yunit[kDay] = "1";
    fill(kGold, kDay, {Bar(8, 5, 6, 7), Bar(7, 6, 7, 6)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_DOUBLE_EQ(layout().ymax, 11.0);
    EXPECT_DOUBLE_EQ(layout().ymin, 2.0);
    EXPECT_EQ(cell(0, 0).text, "11.00");

    // Just below 10 stays on the 0.001 grid with four decimals.
    catalogue[kGold].yunit[kDay] = "1.25";
    fill(kGold, kDay, {Bar(7.25, 5, 6, 7), Bar(7, 6, 7, 6)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_NEAR(layout().ymax, 9.751, 1e-12);
    EXPECT_NEAR(layout().ymin, 2.499, 1e-12);
    EXPECT_EQ(cell(0, 0).text, "9.7510");

    // The label format follows the rounded bound: 9.9995 rounds up to 10.
    catalogue[kGold].yunit[kDay] = "0.0005";
    fill(kGold, kDay, {Bar(9.9985, 9.99, 9.991, 9.992), Bar(9.995, 9.99, 9.991, 9.99)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_NEAR(layout().ymax, 10.0, 1e-12);
    EXPECT_EQ(cell(0, 0).text, "10.00");
}

TEST_F(ValueChartTest, LowerBoundBelowZeroBecomesZero)
{
    catalogue[kGold].yunit[kDay] = "1";
    fill(kGold, kDay, {Bar(1, 0.5, 0.6, 0.7), Bar(0.9, 0.6, 0.7, 0.6)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_EQ(layout().ymin, 0.0);
}

TEST_F(ValueChartTest, WindowNeedsCursorAtLeastTheWindowLength)
{
    std::vector<BarRecord> window;
    for (int i = 0; i < 6; ++i)
        window.push_back(Bar(1010 + i, 1000 + i, 1001 + i, 1002 + i));
    fill(kGold, kDay, window, 6); // cursor 5 < N
    auto pass = run(kGold, kDay);
    EXPECT_EQ(pass.outcome, ChartOutcome::Message);
    EXPECT_EQ(pass.message, "数据无法达到分析要求,请在数据管理中同步!");
    EXPECT_EQ(pass.title, "T");

    fill(kGold, kDay, window, 7);                              // cursor 6 = N: bars 1..6
    barStore.Series(kGold, kDay).bars[0] = Bar(5000, 1, 2, 3); // bar 0 never belongs to a window
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_DOUBLE_EQ(layout().retMax, 1015);

    barStore.Series(kGold, kDay).count = 0;
    EXPECT_EQ(run(kGold, kDay).message, "数据无法达到分析要求,请在数据管理中同步!");
    // A cursor beyond the store's slots has no bars under it.
    barStore.Series(kGold, kDay).count = 7;
    barStore.Series(kGold, kDay).cursor = kMaxBars;
    EXPECT_EQ(run(kGold, kDay).message, "数据无法达到分析要求,请在数据管理中同步!");
}

TEST_F(ValueChartTest, APriceThatIsNoNumberGivesTheDataMessage)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const BarRecord& bad : {Bar(nan, nan, 1001, 1002), Bar(1010, -inf, 1001, 1002),
                                 Bar(inf, 1000, 1001, 1002), Bar(1010, 1000, nan, 1002)}) {
        fill(kGold, kDay, {Bar(1010, 1000, 1001, 1002), bad, Bar(1011, 1001, 1002, 1001)});
        const auto pass = run(kGold, kDay);
        EXPECT_EQ(pass.outcome, ChartOutcome::Message);
        EXPECT_EQ(pass.message, "数据无法达到分析要求,请在数据管理中同步!");
    }
    // Highs far below the lows leave no rows either.
    fill(kGold, kDay, {Bar(1000, 1100, 1001, 1002), Bar(1001, 1101, 1002, 1001)});
    EXPECT_EQ(run(kGold, kDay).message, "数据无法达到分析要求,请在数据管理中同步!");
    // Outside the window it does no harm.
    fill(kGold, kDay, {Bar(1010, 1000, 1001, 1002), Bar(1011, 1001, 1002, 1001)}, 4);
    barStore.Series(kGold, kDay).bars[0] = Bar(nan, nan, nan, nan);
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_GT(layout().rows, 0);
}

TEST_F(ValueChartTest, UnusableParametersGiveMessages)
{
    fill(kGold, kDay, {Bar(1010, 1000, 1001, 1002), Bar(1011, 1001, 1002, 1001)});
    for (const char* text : {"", "0", "-0.5", "abc", "nan"}) {
        catalogue[kGold].yunit[kDay] = text;
        const auto pass = run(kGold, kDay);
        EXPECT_EQ(pass.outcome, ChartOutcome::Message) << text;
        EXPECT_EQ(pass.message, "商品单位价格参数非法!") << text;
    }
    catalogue[kGold].yunit[kDay] = " 1.5xyz"; // the leading number counts
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_EQ(layout().yunit, 1.5);

    params.tpoBars[kDay] = 0;
    EXPECT_EQ(run(kGold, kDay).message, "参数异常!");
    params.tpoBars[kDay] = -3;
    EXPECT_EQ(run(kGold, kDay).message, "参数异常!");
    params.tpoBars[kDay] = 2;
    const ValueChartRequest badPeriod{kGold, 4, &catalogue[kGold], &barStore.Series(kGold, kDay),
                                      &params};
    EXPECT_EQ(RunValueChartPass(badPeriod, "T", *state, memo).message, "参数异常!");
}

TEST_F(ValueChartTest, RowAndWindowLimits)
{
    catalogue[kGold].yunit[kDay] = "1";
    fill(kGold, kDay, {Bar(1000, 757.5, 800, 900), Bar(900, 800, 850, 840)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_EQ(layout().rows, 249);

    fill(kGold, kDay, {Bar(1000, 756.5, 800, 900), Bar(900, 800, 850, 840)});
    const auto pass = run(kGold, kDay, "T");
    EXPECT_EQ(layout().rows, 250);
    EXPECT_EQ(pass.outcome, ChartOutcome::Suggestion);
    EXPECT_EQ(pass.title, "T参数非法:[YUnit=1.0000 YMax=1003.0000 YMin=753.0000 "
                          "retMax=1000.0000 retMin=756.5000],建议[YUnit=1.0000]");
    EXPECT_TRUE(pass.repaint);
    EXPECT_TRUE(memo.active);
    EXPECT_DOUBLE_EQ(memo.value, 2 * 250 * 0.004);

    std::vector<BarRecord> wide(99, Bar(1010, 1000, 1001, 1002));
    fill(kGold, kDay, wide);
    EXPECT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    wide.push_back(wide.back());
    fill(kGold, kDay, wide);
    EXPECT_EQ(run(kGold, kDay).outcome, ChartOutcome::Suggestion);
}

TEST_F(ValueChartTest, SuggestionIsAddedOnceAndTheEnlargedUnitIsRemembered)
{
    catalogue[kGold].yunit[kDay] = "1";
    fill(kGold, kDay, {Bar(1000, 756.5, 800, 900), Bar(900, 800, 850, 840)});
    const std::string title = NewChartTitle(catalogue[kGold], kDay);
    EXPECT_EQ(title, "LLGUSD-现货黄金-日线 价值图");

    auto first = run(kGold, kDay, title);
    ASSERT_EQ(first.outcome, ChartOutcome::Suggestion);
    auto second = run(kGold, kDay, first.title);
    ASSERT_EQ(second.outcome, ChartOutcome::Drawn);
    EXPECT_DOUBLE_EQ(layout().yunit, 2.0); // twice 250 rows' worth of 0.004
    EXPECT_EQ(layout().rows, 127);
    EXPECT_EQ(second.title.find("参数非法"), std::string::npos);

    // While the memo holds, an edited YUnit text has no effect...
    catalogue[kGold].yunit[kDay] = "5";
    run(kGold, kDay, second.title);
    EXPECT_DOUBLE_EQ(layout().yunit, 2.0);
    // ...until another chart takes the memo over.
    catalogue[kEuro].yunit[kDay] = "0.001";
    fill(kEuro, kDay, {Bar(1.2345, 1.21, 1.22, 1.23), Bar(1.22, 1.2001, 1.21, 1.205)});
    run(kEuro, kDay);
    EXPECT_FALSE(memo.active);
    run(kGold, kDay);
    EXPECT_DOUBLE_EQ(layout().yunit, 5.0);

    // With a window that can never be drawn, later passes change nothing.
    params.tpoBars[kDay] = 100;
    barStore.Series(kGold, kDay).count = 101;
    barStore.Series(kGold, kDay).cursor = 100;
    auto again = run(kGold, kDay, "X");
    auto more = run(kGold, kDay, again.title);
    EXPECT_EQ(more.outcome, ChartOutcome::Suggestion);
    EXPECT_EQ(more.title, again.title);
    EXPECT_FALSE(more.repaint);
}

TEST(SuggestionRepaintsTest, FollowsASuggestionUntilThreeInARow)
{
    const ValueChartPass drawn{ChartOutcome::Drawn, {}, {}, false};
    const ValueChartPass message{ChartOutcome::Message, "m", {}, false};
    const ValueChartPass suggests{ChartOutcome::Suggestion, {}, {}, true}; // put into the title
    const ValueChartPass stillSuggests{ChartOutcome::Suggestion, {}, {}, false};
    const struct {
        std::vector<ValueChartPass> passes;
        std::vector<bool> followed;
    } cases[] = {
        {{drawn, message}, {false, false}},
        {{suggests, drawn}, {true, false}},
        {{suggests, stillSuggests, stillSuggests, stillSuggests}, {true, true, false, false}},
        // A new suggestion starts a new row; anything else ends one.
        {{suggests, stillSuggests, suggests, stillSuggests}, {true, true, true, true}},
        {{stillSuggests, stillSuggests, drawn, stillSuggests}, {true, true, false, true}},
    };
    for (const auto& c : cases) {
        SuggestionRepaints repaints;
        for (std::size_t i = 0; i < c.passes.size(); ++i)
            EXPECT_EQ(repaints.followUp(c.passes[i]), c.followed[i]) << &c - cases << "/" << i;
    }
}

TEST_F(ValueChartTest, MarksUseTheHalfUnitTolerance)
{
    catalogue[kGold].yunit[kDay] = "1";
    // Bar 1 reaches 1000 exactly; bar 2 stops half a unit below 1001.
    fill(kGold, kDay,
         {Bar(1000, 995, 996, 997), Bar(1000.5, 999, 999.5, 999.2), Bar(1002, 996, 997, 1001)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    auto marked = [&](int row, int sequence) {
        for (int q = 1; q <= 3; ++q) {
            if (!cell(row, q).empty() && cell(row, q).sequence == sequence)
                return true;
        }
        return false;
    };
    const int cursor = barStore.Series(kGold, kDay).cursor;
    EXPECT_TRUE(marked(rowOf(1000, 1), cursor - 2));
    EXPECT_FALSE(marked(rowOf(1001, 1), cursor - 2));
    EXPECT_TRUE(marked(rowOf(1000, 1), cursor - 1));
    EXPECT_FALSE(marked(rowOf(1001, 1), cursor - 1));
    EXPECT_TRUE(marked(rowOf(999, 1), cursor - 1));
    EXPECT_FALSE(marked(rowOf(998, 1), cursor - 1));
}

TEST_F(ValueChartTest, RowsAreCompactedInWindowOrder)
{
    catalogue[kGold].yunit[kDay] = "1";
    fill(kGold, kDay,
         {Bar(95, 90, 91, 92), Bar(101, 99, 100, 99.5), Bar(95, 90, 92, 91), Bar(95, 90, 91, 92),
          Bar(102, 100, 100.5, 101), Bar(100, 98, 99, 98.5, "2024.05.06 10:30:00")},
         9);
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    const int row = rowOf(100, 1);
    EXPECT_EQ(cell(row, 1).sequence, 4);
    EXPECT_EQ(cell(row, 2).sequence, 7);
    EXPECT_EQ(cell(row, 3).sequence, 8);
    EXPECT_TRUE(cell(row, 4).empty());
    EXPECT_TRUE(cell(row, 6).empty());
    EXPECT_EQ(cell(row, 3).text, "008-D-2024.05.06 10:30:00");
    EXPECT_EQ(cell(row, 2).text.substr(0, 6), "007-U-");
    // No row holds more than three marks.
    EXPECT_EQ(layout().widest, 3);
}

TEST_F(ValueChartTest, CountsEdgeBarsAndLabels)
{
    catalogue[kGold].yunit[kHalfHour] = "1";
    fill(kGold, kHalfHour,
         {Bar(100, 100, 99, 100, "2024.05.06 09:00:00"),
          Bar(100, 100, 100, 99, "2024.05.06 09:30:00"),
          Bar(100, 100, 99, 100, "2024.05.06 10:00:00"),
          Bar(100, 100, 99, 99, "2024.05.06 10:15:00"),
          Bar(100, 100, 99, 100, "2024.05.06 10:30:00"), Bar(100, 100, 99, 100, "2024.05")},
         10);
    ASSERT_EQ(run(kGold, kHalfHour).outcome, ChartOutcome::Drawn);
    const int row = rowOf(100, 1);
    std::vector<std::string> labels;
    std::vector<bool> bold;
    for (int q = 1; q <= 6; ++q) {
        labels.emplace_back(cell(row, q).label.view());
        bold.push_back(cell(row, q).edgeBar);
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"09A", "09B", "10A", "10A", "10B", "A"}));
    EXPECT_EQ(bold, (std::vector<bool>{true, true, false, false, true, true}));
    EXPECT_EQ(layout().upCount, 4);
    EXPECT_EQ(layout().downCount, 2); // equal open and close counts as down

    fill(kGold, kWeek,
         {Bar(100, 100, 99, 100, "2024.05.17 00:00:00"), Bar(100, 100, 99, 100, "2024.0")});
    catalogue[kGold].yunit[kWeek] = "1";
    ASSERT_EQ(run(kGold, kWeek).outcome, ChartOutcome::Drawn);
    EXPECT_EQ(cell(rowOf(100, 1), 1).label, "17");
    EXPECT_EQ(cell(rowOf(100, 1), 2).label, "");

    fill(kGold, kMonth,
         {Bar(100, 100, 99, 100, "2024.11.01 00:00:00"), Bar(100, 100, 99, 100, "2024.1")});
    catalogue[kGold].yunit[kMonth] = "1";
    ASSERT_EQ(run(kGold, kMonth).outcome, ChartOutcome::Drawn);
    EXPECT_EQ(cell(rowOf(100, 1), 1).label, "11");
    EXPECT_EQ(cell(rowOf(100, 1), 2).label, "1");
}

TEST_F(ValueChartTest, MovingAveragesNeedEnoughBars)
{
    catalogue[kGold].yunit[kDay] = "1";
    std::vector<BarRecord> window;
    for (int i = 0; i < 10; ++i)
        window.push_back(Bar(1010, 1000, 1004, 1000 + i));
    fill(kGold, kDay, window, 12); // bars 0, 1 repeat bar 2; cursor 11
    params.tpoBars[kDay] = 4;
    params.longAvgBars[kDay] = 11;
    params.shortAvgBars[kDay] = 3;
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    // YMax 1013; short average of closes 1007, 1008, 1009 = 1008 -> trunc(5 - 1) = 4.
    EXPECT_DOUBLE_EQ(layout().ymax, 1013.0);
    ASSERT_TRUE(layout().shortZ.has_value());
    EXPECT_EQ(*layout().shortZ, 4);
    // Long: closes of bars 1..11 = 1000, 1000..1009 -> mean 1004.0909 -> trunc(7.909) = 7.
    ASSERT_TRUE(layout().longZ.has_value());
    EXPECT_EQ(*layout().longZ, 7);

    params.longAvgBars[kDay] = 12; // cursor 11 < 12
    params.shortAvgBars[kDay] = 0;
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_FALSE(layout().longZ.has_value());
    EXPECT_FALSE(layout().shortZ.has_value());

    // An average far above the chart gives a negative row.
    params.shortAvgBars[kDay] = 1;
    barStore.Series(kGold, kDay).bars[11].close = 1100;
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_LT(*layout().shortZ, 0);
}

TEST_F(ValueChartTest, TitlesAndRetitle)
{
    catalogue[kGold].yunit[kDay] = "1";
    catalogue[kGold].lastPrice = "2401.500";
    fill(kGold, kDay,
         {Bar(1010, 1000, 1001, 1002, "2024.05.06 00:00:00"),
          Bar(1010, 1000, 1002, 1001, "2024.05.07 00:00:00")});
    EXPECT_EQ(RetitleValueChart(catalogue[kGold], kDay, *state), std::nullopt);
    const auto pass = run(kGold, kDay);
    ASSERT_EQ(pass.outcome, ChartOutcome::Drawn);
    const int cells = layout().upCount;
    EXPECT_GT(cells, 0);
    EXPECT_EQ(pass.title, "LLGUSD-现货黄金-日线 2024.05.07 00:00:00 2401.500价值图 U:0" +
                              std::to_string(cells) + "-D:0" + std::to_string(layout().downCount));
    EXPECT_EQ(RetitleValueChart(catalogue[kGold], kDay, *state), pass.title);

    // A pass that stops after choosing the series still steers the retitle.
    barStore.Series(kEuro, kDay).count = 0;
    const ValueChartRequest other{kEuro, kDay, &catalogue[kEuro], &barStore.Series(kEuro, kDay),
                                  &params};
    EXPECT_EQ(RunValueChartPass(other, "T", *state, memo).outcome, ChartOutcome::Message);
    EXPECT_EQ(*RetitleValueChart(catalogue[kEuro], kDay, *state),
              "EURUSD-外汇欧元-日线  价值图 U:0" + std::to_string(cells) + "-D:0" +
                  std::to_string(layout().downCount));
}

// The program runs under the user's locale, whose decimal separator may be a comma; every
// price it writes keeps the point.
TEST_F(ValueChartTest, PricesKeepTheDecimalPointUnderACommaLocale)
{
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/bootstrap.sh makes it)";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5"); // the locale is really in force

    EXPECT_EQ(FormatQuotePrice(1340.5), "1340.500");
    EXPECT_EQ(FormatQuotePrice(1.11505), "1.11505");
    EXPECT_EQ(FixedDecimals(-0.125, 2), "-0.12");

    catalogue[kGold].yunit[kDay] = "0.25";
    fill(kGold, kDay, {Bar(1010, 1000, 1000, 1010), Bar(1010, 1000, 1010, 1000)});
    ASSERT_EQ(run(kGold, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_EQ(cell(1, 0).text, "1010.75");
    catalogue[kEuro].yunit[kDay] = "0.0001";
    fill(kEuro, kDay, {Bar(1.1010, 1.1000, 1.1000, 1.1010), Bar(1.1010, 1.1, 1.101, 1.1)});
    ASSERT_EQ(run(kEuro, kDay).outcome, ChartOutcome::Drawn);
    EXPECT_EQ(cell(0, 0).text, "1.1020");

    catalogue[kGold].yunit[kDay] = "1";
    fill(kGold, kDay, {Bar(1000, 756.5, 800, 900), Bar(900, 800, 850, 840)});
    EXPECT_EQ(run(kGold, kDay, "T").title, "T参数非法:[YUnit=1.0000 YMax=1003.0000 YMin=753.0000 "
                                           "retMax=1000.0000 retMin=756.5000],建议[YUnit=1.0000]");
    std::setlocale(LC_NUMERIC, before.c_str());
}
