#include "app/GridSort.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace velmora;

namespace {

std::vector<std::string> Sorted(std::vector<std::string> texts, bool ascending = true)
{
    std::vector<std::string> out;
    for (int k : GridSortOrder(texts, ascending))
        out.push_back(texts[static_cast<std::size_t>(k)]);
    return out;
}

} // namespace

TEST(GridCompare, NumbersInTheirRulesOrder)
{
    EXPECT_LT(CompareGridCells("3", "10"), 0);
    EXPECT_LT(CompareGridCells("99", "100"), 0);
    EXPECT_LT(CompareGridCells("1.5", "12"), 0);
    // Read as hexadecimal first: the minus sign wraps, and 0x1e5 is below 0x400.
    EXPECT_GT(CompareGridCells("-5", "3"), 0);
    EXPECT_LT(CompareGridCells("1e5", "400"), 0);
    EXPECT_LT(CompareGridCells("ff", "100"), 0);
    // Beyond 32 bits every value is the largest one.
    EXPECT_EQ(CompareGridCells("123456789a", "ffffffff"), 0);
    // Percentages and signed decimals compare as numbers.
    EXPECT_LT(CompareGridCells("2.5%", "10%"), 0);
    EXPECT_LT(CompareGridCells("-1.5", "0.5"), 0);
    // A text with more after the number is no number.
    EXPECT_GT(CompareGridCells("2.5%%", "10%"), 0);
}

TEST(GridCompare, DatesAndTimesInTheirOrder)
{
    EXPECT_LT(CompareGridCells("2015-07-02 10:30", "2015-07-10 09:00"), 0);
    EXPECT_LT(CompareGridCells("2015-07-02", "2015-07-02 00:01"), 0);
    EXPECT_LT(CompareGridCells("2026.11.30 23:30:00", "2026.12.01 00:00:00"), 0);
    EXPECT_LT(CompareGridCells("2026.02.01 09:30:59", "2026.2.1 09:31"), 0);
    EXPECT_GT(CompareGridCells("2009-12-31 23:59:59", "2009-01-01"), 0);
    long long seconds = 0;
    for (const char* notADate : {"2015-13-01", "2015-02-30", "2015-07-02 24:00", "2015-07",
                                 "15-07-02", "2015-07-02 10", "2015-07.02", ""})
        EXPECT_FALSE(ParseGridDateTime(notADate, seconds)) << notADate;
}

TEST(GridCompare, TextsInGbkOrder)
{
    // In UTF-8 白 (E7 99 BD) comes after 黄 (E9 BB 84) only by accident of the code points;
    // in GBK 白银 (B0 D7) comes before 黄金 (BB C6) and 外汇 (CD E2), as users know them.
    EXPECT_LT(CompareGridCells("白银", "黄金"), 0);
    EXPECT_LT(CompareGridCells("黄金", "外汇欧元"), 0);
    EXPECT_LT(CompareGridCells("EURUSD", "白银"), 0);
    EXPECT_LT(CompareGridCells("abc", "abd"), 0);
    EXPECT_EQ(CompareGridCells("", ""), 0);
    // Mixed kinds fall back to the texts.
    EXPECT_LT(CompareGridCells("10", "abc"), 0);
}

TEST(GridSortOrder, SortsEitherWayAndSurvivesMixedColumns)
{
    EXPECT_EQ(Sorted({"10", "3", "1.5", "12"}), (std::vector<std::string>{"1.5", "3", "10", "12"}));
    EXPECT_EQ(Sorted({"10", "3", "1.5", "12"}, false),
              (std::vector<std::string>{"12", "10", "3", "1.5"}));
    EXPECT_EQ(Sorted({"b"}), (std::vector<std::string>{"b"}));
    EXPECT_TRUE(Sorted({}).empty());

    // Hexadecimal, decimal and text rules disagree here, so the comparison goes in circles;
    // the sort must still end with every row once.
    std::vector<std::string> mixed;
    for (int k = 0; k < 300; ++k)
        mixed.push_back(k % 3 == 0   ? std::to_string(k)
                        : k % 3 == 1 ? std::to_string(k) + ".5"
                                     : "x" + std::to_string(k));
    std::vector<int> order = GridSortOrder(mixed, true);
    std::sort(order.begin(), order.end());
    for (int k = 0; k < 300; ++k)
        ASSERT_EQ(order[static_cast<std::size_t>(k)], k);
}
