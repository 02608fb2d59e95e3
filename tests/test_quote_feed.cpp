#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/QuotePage.h"
#include "market/SeriesReply.h"
#include "market/TextNumbers.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

constexpr int kEuro = 5;

std::string Page(const std::vector<std::string>& records)
{
    std::string body = "\xEF\xBB\xBF"; // three bytes of no meaning
    for (const std::string& record : records)
        body += record + ";<br/>";
    return body;
}

} // namespace

TEST(SeriesReply, RecordsArriveNewestFirstAndAreStoredOldestFirst)
{
    BarSeries series;
    StoreSeriesReply(Page({"2016-08-10 14:00:00,1.1000,1.1010,1.1020,1.0990,120",
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
    StoreSeriesReply(Page({"2016-08-10 14:00:00,1.5", "2016-08-10 13:30:00,1,2,3,4,77.9"}), series);
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
    StoreSeriesReply(Page(records), series);
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

class QuoteFeedTest : public ::testing::Test {
protected:
    void SetUp() override { InitCatalogue(); }
};

TEST_F(QuoteFeedTest, QuotesFillTheCatalogue)
{
    // The page's first code starts with "S": the parser puts that letter back itself.
    ParseQuotes(Page({"SGY50KG,x,2016-08-10 14:30:05,1,1,1,1,1,1,1",
                      "EURUSD,x,2016-08-10 14:30:05,1.11505,1.1100,1.1090,1.1160,1.1080,1.11500,"
                      "1.11510",
                      "LLGUSD,x,2016-08-10 14:30:05,1340.5,10,9.99999,1,1,1,1"}));
    const CommodityEntry& euro = catalogue[kEuro];
    EXPECT_EQ(euro.name, "欧罗美元");
    EXPECT_EQ(euro.quoteTime, "2016-08-10 14:30:05");
    EXPECT_EQ(euro.lastPrice, "1.11505");
    EXPECT_EQ(euro.todayOpen, "1.11000");
    EXPECT_EQ(euro.high, "1.11600");
    EXPECT_EQ(euro.low, "1.10800");
    EXPECT_EQ(euro.ask, "1.11510");
    EXPECT_EQ(catalogue[12].lastPrice, "1340.500");
    EXPECT_EQ(catalogue[12].todayOpen, "10.000");
    EXPECT_EQ(catalogue[12].prevClose, "9.99999");
    EXPECT_EQ(catalogue[0].name, "沈贵银");
    EXPECT_TRUE(catalogue[0].lastPrice.empty()); // SGY50KG is not SGY15KG

    for (const char* body : {"", "abcd", "no separator at all"})
        ParseQuotes(body);
    EXPECT_EQ(euro.lastPrice, "1.11505");
}

TEST_F(QuoteFeedTest, SellingPriceExtendsTheNewestHalfHourBarOnly)
{
    BarSeries& series = Series(kEuro, kHalfHour);
    series.count = 200;
    series.cursor = 150; // the user stepped back in time
    BarRecord& newest = series.bars[199];
    newest.high = 1.1150;
    newest.low = 1.1100;
    series.bars[150].high = 1.1;
    series.bars[150].low = 1.09;

    auto quote = [](const std::string& ask) {
        ParseQuotes(Page({"SGY50KG", "EURUSD,x,t,1.11,1.11,1.11,1.11,1.11,1.11," + ask}));
    };
    quote("1.11510");
    EXPECT_EQ(newest.high, 1.1151);
    quote("1.1120"); // inside the range: nothing changes
    EXPECT_EQ(newest.high, 1.1151);
    EXPECT_EQ(newest.low, 1.11);
    quote("1.1050");
    EXPECT_EQ(newest.low, 1.105);
    EXPECT_EQ(series.bars[150].high, 1.1);
    EXPECT_EQ(series.bars[150].low, 1.09);

    // A missing, zero or garbled selling price never drags the low to 0.
    for (const char* bad : {"", "0", "-1.2", "n/a"}) {
        quote(bad);
        EXPECT_EQ(newest.low, 1.105) << bad;
    }
    ParseQuotes(Page({"SGY50KG", "EURUSD,x,t,1.11"}));
    EXPECT_EQ(newest.low, 1.105);
}

TEST(TextNumbers, ReadLikeTheWireFormatsExpect)
{
    EXPECT_EQ(LeadingDouble(" 12.5abc"), 12.5);
    EXPECT_EQ(LeadingDouble("-3"), -3.0);
    EXPECT_EQ(LeadingDouble("abc"), 0.0);
    EXPECT_EQ(LeadingDouble(""), 0.0);
    EXPECT_EQ(Low32OfTruncated(4294967297.7), 1);
    EXPECT_EQ(Low32OfTruncated(-5.9), -5);
    EXPECT_EQ(Low32OfTruncated(1e300), 0);
    EXPECT_EQ(FormatQuotePrice(10.0), "10.000");
    EXPECT_EQ(FormatQuotePrice(9.99999), "9.99999");
}
