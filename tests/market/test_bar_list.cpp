#include "market/BarList.h"
#include "market/TextNumbers.h"

#include <gtest/gtest.h>

using namespace velmora;

TEST(BarList, FullSeriesLabelAndPriceDecimalsByOpen)
{
    auto series = std::make_unique<BarSeries>();
    series->count = kMaxBars;
    for (int k = 0; k < kMaxBars; ++k)
        series->bars[static_cast<std::size_t>(k)] = {"2026-01-01", 1.0, 1.0, 1.0, 1.0, k};
    series->bars[500] = {"2026-11-30", 10.0, 10.5, 11.0, 9.5, -3};
    series->bars[499] = {"2026-11-29", 10.001, 9.0, 10.5, 8.75, 0};
    const BarList list = FillBarList(*series);
    EXPECT_EQ(list.label, "数据库:501条记录");
    ASSERT_EQ(list.rows.size(), 501u);
    EXPECT_EQ(list.rows[0][0], "↑  1");
    EXPECT_EQ(list.rows[0][2], "10.00000"); // exactly 10 is not above 10
    EXPECT_EQ(list.rows[0][6], "-3");
    EXPECT_EQ(list.rows[1][0], "↓  2");
    EXPECT_EQ(list.rows[1][5], "8.750");
    EXPECT_EQ(list.rows[500][0], "↓ 501");
    EXPECT_EQ(list.rowMap[0], 500);
    EXPECT_EQ(list.rowMap[500], 0);
}

TEST(BarList, EditsAreTakenAsTypedAndEmptyTimesAreSkipped)
{
    BarSeries series;
    series.count = 3;
    ApplyBarEdit(series.bars[0], "2026-11-25", "1.5abc", "x", " -2.25", "inf", "12.9 lots");
    ApplyBarEdit(series.bars[1], "", "1", "2", "3", "4", "5");
    ApplyBarEdit(series.bars[2], "2026-11-27", "+3", "", "nan", "0", "99999999999");
    const BarRecord& first = series.bars[0];
    EXPECT_DOUBLE_EQ(first.open, 1.5);
    EXPECT_DOUBLE_EQ(first.close, 0.0);
    EXPECT_DOUBLE_EQ(first.high, -2.25);
    EXPECT_EQ(first.volume, 12);
    EXPECT_EQ(series.bars[2].volume, INT32_MAX);

    const BarList list = FillBarList(series);
    EXPECT_EQ(list.label, "数据库:3条记录,请及时更新对应的数据");
    ASSERT_EQ(list.rows.size(), 2u);
    EXPECT_EQ(list.rowMap, (std::vector<int>{2, 0}));
    EXPECT_EQ(list.rows[0][4], "nan");
    EXPECT_EQ(list.rows[1][0], "↓  2");
    EXPECT_EQ(list.rows[1][5], "inf");
    EXPECT_EQ(LeadingInt32("-99999999999"), INT32_MIN);
    EXPECT_EQ(LeadingInt32("- 5"), 0);
}
