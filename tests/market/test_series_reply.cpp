#include "market/BarStore.h"
#include "market/SeriesReply.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace velmora;
using velmora::test::FramedPage;

TEST(SeriesReply, RecordsArriveNewestFirstAndAreStoredOldestFirst)
{
    BarSeries series;
    StoreSeriesReply(FramedPage({"2016-08-10 14:00:00,1.1000,1.1010,1.1020,1.0990,120",
                                 "2016-08-10 13:30:00,1.0990,1.1000,1.1005,1.0985,90"}),
                     series);
    ASSERT_EQ(series.count, 2);
    EXPECT_EQ(series.cursor, 1);
    EXPECT_EQ(series.bars[0].time, "2016-08-10 13:30:00");
    EXPECT_EQ(series.bars[1].time, "2016-08-10 14:00:00");
    EXPECT_EQ(series.bars[1].open, 1.1);
    EXPECT_EQ(series.bars[1].close, 1.101);
    EXPECT_EQ(series.bars[1].high, 1.102);
    EXPECT_EQ(series.bars[1].low, 1.099);
    EXPECT_EQ(series.bars[0].volume, 90);
    EXPECT_EQ(series.bars[1].volume, 120);

    // Without the terminator the last character of each record is lost.
    StoreSeriesReply("xyz2016-08-10 14:00:00,1.1,1.1,1.1,1.1,120<br/>", series);
    EXPECT_EQ(series.bars[0].volume, 12);

    // Missing fields read as empty or zero; the volume is truncated.
    StoreSeriesReply(FramedPage({"2016-08-10 14:00:00,1.5", "2016-08-10 13:30:00,1,2,3,4,77.9"}),
                     series);
    EXPECT_EQ(series.bars[1].open, 1.5);
    EXPECT_EQ(series.bars[1].close, 0.0);
    EXPECT_EQ(series.bars[0].volume, 77);
}

TEST(SeriesReply, CapsAtTheStoreAndEmptiesOnPagesWithoutRecords)
{
    BarSeries series;
    std::vector<std::string> records;
    for (int i = 0; i < 700; ++i)
        records.push_back("2016-08-10 00:00:00,1,1,1,1," + std::to_string(i));
    StoreSeriesReply(FramedPage(records), series);
    ASSERT_EQ(series.count, 501);
    EXPECT_EQ(series.bars[500].volume, 0); // the newest record
    EXPECT_EQ(series.bars[0].volume, 500);

    for (const char* body : {"error", "abcd", "<html>404</html>"}) {
        series.count = 9;
        StoreSeriesReply(body, series);
        EXPECT_EQ(series.count, 0) << body;
        EXPECT_EQ(series.cursor, -1) << body;
    }
}

TEST(SeriesReply, QueryEscapesTheBlankOfTheDateTime)
{
    std::tm t{};
    t.tm_year = 116;
    t.tm_mon = 7;
    t.tm_mday = 1;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    EXPECT_EQ(SeriesQuery("EURUSD", "day", t, 100),
              "&code=EURUSD&linetype=day&datetime=2016-08-01%2009:05:07&count=100");
}
