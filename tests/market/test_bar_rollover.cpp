#include "market/BarRollover.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/QuotePage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <vector>

using namespace velmora;
using velmora::test::FramedPage;

namespace {

constexpr int kGold = 12;

void FillSeries(BarSeries& series, int count, const std::string& newestTime)
{
    series.count = count;
    series.cursor = count - 1;
    for (int i = 0; i < count; ++i) {
        BarRecord& bar = series.bars[static_cast<std::size_t>(i)];
        bar = BarRecord{"2026-01-01 00:00:00", 1.0 + i, 1.0 + i, 2.0 + i, 0.5 + i, 7};
    }
    series.bars[static_cast<std::size_t>(count - 1)].time = newestTime;
}

// A quote page with one gold quote at `time`, selling at `ask`.
std::string GoldQuote(const std::string& time, const std::string& ask)
{
    // The page's first record loses its leading letter to the preamble: a filler goes first.
    return FramedPage({"S", "LLGUSD,x," + time + ",1,1,1,1,1,1," + ask});
}

} // namespace

TEST(BarRolloverTest, UnreadableTimesAreNoTimes)
{
    for (const char* bad :
         {"", "2026-13-01 00:00:00", "2026-02-30 00:00:00", "12:30:00", "2026-12-08 24:00:00"})
        EXPECT_FALSE(ReadBarClock(bad)) << bad;
}

TEST(BarRolloverTest, NewBarBeginsOnlyPastTheEndOfTheNewest)
{
    struct Case {
        Period period;
        const char* newest;
        const char* quote;
        const char* begun; // nullptr: no new bar
    };
    const std::vector<Case> cases = {
        {kHalfHour, "2026-12-08 12:00:00", "2026-12-08 12:29:59", nullptr},
        {kHalfHour, "2026-12-08 12:00:00", "2026-12-08 12:39:00", "2026-12-08 12:30:00"},
        {kHalfHour, "2026-12-08 23:30:00", "2026-12-09 00:00:00", "2026-12-09 00:00:00"},
        {kHalfHour, "2026-12-08 12:30:00", "2026-12-08 12:10:00", nullptr}, // an old quote
        {kDay, "2026-12-08 00:00:00", "2026-12-08 23:59:00", nullptr},
        {kDay, "2026-12-08 00:00:00", "2026-12-09 00:00:01", "2026-12-09 00:00:00"},
        {kWeek, "2026-12-06 00:00:00", "2026-12-12 23:59:59", nullptr},
        {kWeek, "2026-12-06 00:00:00", "2026-12-14 08:00:00", "2026-12-13 00:00:00"},
        {kWeek, "2026-12-20 00:00:00", "2027-01-02 09:00:00", "2026-12-27 00:00:00"},
        {kMonth, "2026-12-01 00:00:00", "2026-12-31 23:59:59", nullptr},
        {kMonth, "2026-12-01 00:00:00", "2027-01-01 00:00:00", "2027-01-01 00:00:00"},
        {kMonth, "2026.12.01 00:00:00", "2027-01-04 10:00:00", "2027.01.01 00:00:00"},
        {kDay, "", "2027-01-04 10:00:00", nullptr},
    };
    for (const Case& c : cases) {
        BarSeries series;
        FillSeries(series, 10, c.newest);
        const bool begun = RollOver(series, c.period, c.quote, 5.5);
        EXPECT_EQ(begun, c.begun != nullptr) << c.newest << " / " << c.quote;
        if (!begun || c.begun == nullptr) {
            EXPECT_EQ(series.count, 10);
            continue;
        }
        ASSERT_EQ(series.count, 11);
        const BarRecord& bar = series.bars[10];
        EXPECT_EQ(bar.time, c.begun);
        EXPECT_EQ(bar.open, 5.5);
        EXPECT_EQ(bar.high, 5.5);
        EXPECT_EQ(bar.low, 5.5);
        EXPECT_EQ(bar.close, 5.5);
        EXPECT_EQ(bar.volume, 0);
        EXPECT_EQ(series.cursor, 10);
    }
}

TEST(BarRolloverTest, FullSeriesDropsItsOldestAndTheCursorKeepsItsBar)
{
    for (const bool onNewest : {true, false}) {
        BarSeries series;
        FillSeries(series, kMaxBars, "2026-12-08 12:00:00");
        series.cursor = onNewest ? kMaxBars - 1 : 200;
        const double cursorOpen = series.bars[static_cast<std::size_t>(series.cursor)].open;
        ASSERT_TRUE(RollOver(series, kHalfHour, "2026-12-08 12:30:00", 9.0));
        EXPECT_EQ(series.count, kMaxBars);
        EXPECT_EQ(series.bars[0].open, 2.0); // the oldest left
        EXPECT_EQ(series.bars[kMaxBars - 1].time, "2026-12-08 12:30:00");
        if (onNewest) {
            EXPECT_EQ(series.cursor, kMaxBars - 1);
        } else {
            EXPECT_EQ(series.cursor, 199);
            EXPECT_EQ(series.bars[199].open, cursorOpen);
        }
    }
}

TEST(BarRolloverTest, QuotesRollEveryPeriodAndTheHalfHourBarThenGrows)
{
    Catalogue catalogue;
    BarStore barStore;
    InitCatalogue(catalogue);
    FillSeries(barStore.Series(kGold, kHalfHour), 5, "2026-12-31 23:30:00");
    FillSeries(barStore.Series(kGold, kDay), 5, "2026-12-31 00:00:00");
    FillSeries(barStore.Series(kGold, kWeek), 5, "2026-12-27 00:00:00");
    FillSeries(barStore.Series(kGold, kMonth), 5, "2026-12-01 00:00:00");
    std::vector<std::pair<int, Period>> told;
    barStore.setObserver([&](int commodity, Period period, SeriesChange change) {
        EXPECT_EQ(change, SeriesChange::RolledOver);
        told.emplace_back(commodity, period);
    });

    ParseQuotes(GoldQuote("2026-12-31 23:59:00", "1500.0"), catalogue, barStore);
    EXPECT_TRUE(told.empty());
    ParseQuotes(GoldQuote("2027-01-01 00:00:05", "1501.0"), catalogue, barStore);
    ParseQuotes(GoldQuote("2027-01-01 00:10:00", "1503.5"), catalogue, barStore);
    ParseQuotes(GoldQuote("2027-01-01 00:20:00", "1499.0"), catalogue, barStore);
    barStore.setObserver({});

    // 2027-01-01 is a Friday: the week of the 27th goes on.
    const std::vector<std::pair<int, Period>> expected = {
        {kGold, kHalfHour}, {kGold, kDay}, {kGold, kMonth}};
    EXPECT_EQ(told, expected);
    const BarSeries& halfHours = barStore.Series(kGold, kHalfHour);
    ASSERT_EQ(halfHours.count, 6);
    const BarRecord& bar = halfHours.bars[5];
    EXPECT_EQ(bar.time, "2027-01-01 00:00:00");
    EXPECT_EQ(bar.open, 1501.0);
    EXPECT_EQ(bar.high, 1503.5);
    EXPECT_EQ(bar.low, 1499.0);
    EXPECT_EQ(barStore.Series(kGold, kDay).bars[5].time, "2027-01-01 00:00:00");
    EXPECT_EQ(barStore.Series(kGold, kWeek).count, 5);
    EXPECT_EQ(barStore.Series(kGold, kMonth).bars[5].time, "2027-01-01 00:00:00");
}
