#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/QuotePage.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace velmora;
using velmora::test::FramedPage;

namespace {

constexpr int kEuro = 5;

} // namespace

class QuoteFeedTest : public ::testing::Test {
protected:
    Catalogue catalogue;
    BarStore barStore;
    void SetUp() override { InitCatalogue(catalogue); }
};

TEST_F(QuoteFeedTest, QuotesFillTheCatalogue)
{
    // The page's first code starts with "S": the parser puts that letter back itself.
    ParseQuotes(
        FramedPage({"SGY50KG,x,2016-08-10 14:30:05,1,1,1,1,1,1,1",
                    "EURUSD,x,2016-08-10 14:30:05,1.11505,1.1100,1.1090,1.1160,1.1080,1.11500,"
                    "1.11510",
                    "LLGUSD,x,2016-08-10 14:30:05,1340.5,10,9.99999,1,1,1,1"}),
        catalogue, barStore);
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
        ParseQuotes(body, catalogue, barStore);
    EXPECT_EQ(euro.lastPrice, "1.11505");
}

TEST_F(QuoteFeedTest, SellingPriceExtendsTheNewestHalfHourBarOnly)
{
    BarSeries& series = barStore.Series(kEuro, kHalfHour);
    series.count = 200;
    series.cursor = 150; // the user stepped back in time
    BarRecord& newest = series.bars[199];
    newest.high = 1.1150;
    newest.low = 1.1100;
    series.bars[150].high = 1.1;
    series.bars[150].low = 1.09;

    auto quote = [this](const std::string& ask) {
        ParseQuotes(FramedPage({"SGY50KG", "EURUSD,x,t,1.11,1.11,1.11,1.11,1.11,1.11," + ask}),
                    catalogue, barStore);
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
    ParseQuotes(FramedPage({"SGY50KG", "EURUSD,x,t,1.11"}), catalogue, barStore);
    EXPECT_EQ(newest.low, 1.105);
}
