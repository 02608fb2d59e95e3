#include "analysis/AnalysisParams.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/SyncReport.h"

#include <gtest/gtest.h>

using namespace velmora;

TEST(Catalogue, LookupIsExactAndLimitedToTheThirteenCodes)
{
    Catalogue catalogue;
    InitCatalogue(catalogue);
    EXPECT_EQ(FindCommodity("SGY15KG"), 0);
    EXPECT_EQ(FindCommodity("EURUSD"), 5);
    EXPECT_EQ(FindCommodity("LLGUSD"), 12);
    for (const char* other : {"eurusd", "", "SGY50KG", "MAXCODE", "EURUSD ", "EUR"})
        EXPECT_EQ(FindCommodity(other), kCommodityCount) << other;
    for (int i = 0; i < kCommodityCount; ++i)
        EXPECT_EQ(FindCommodity(catalogue[i].code), i);

    EXPECT_EQ(QuoteDisplayName("LLGUSD"), "伦敦金");
    EXPECT_EQ(QuoteDisplayName("SGXPT"), "鉑金");
    EXPECT_EQ(QuoteDisplayName("XAGUSD"), "");
    EXPECT_EQ(QuoteDisplayName("MAXCODE"), "");
}

TEST(Catalogue, InitKeepsYUnitTextsVerbatimAndResetEmptiesTheStore)
{
    Catalogue catalogue;
    BarStore barStore;
    barStore.Series(5, kDay).count = 17;
    barStore.Series(5, kDay).cursor = 9;
    catalogue[4].lastPrice = "7.12300";
    InitCatalogue(catalogue);
    barStore.ResetBarStore();
    EXPECT_EQ(catalogue[4].yunit[kHalfHour], "0.001");
    EXPECT_EQ(catalogue[5].yunit[kDay], "0.0010");
    EXPECT_EQ(catalogue[0].yunit[kWeek], "10.00");
    EXPECT_EQ(catalogue[2].name, "鉑金");
    EXPECT_TRUE(catalogue[4].lastPrice.empty());
    for (int s = 0; s < kCommodityCount; ++s) {
        for (Period p = 0; p < kPeriodCount; ++p) {
            EXPECT_EQ(barStore.Series(s, p).count, 0);
            EXPECT_EQ(barStore.Series(s, p).cursor, 0);
        }
    }
}

TEST(Catalogue, PeriodsAndBars)
{
    BarStore barStore;
    EXPECT_EQ(PeriodName(kHalfHour), "半小时线");
    EXPECT_EQ(PeriodName(kMonth), "月线");
    EXPECT_EQ(PeriodLineType(kWeek), "week");
    EXPECT_EQ(PeriodMt4Suffix(kWeek), 10080);
    EXPECT_EQ(PeriodName(4), "");

    BarRecord bar;
    bar.open = bar.close = 1.5;
    EXPECT_FALSE(bar.isUp()); // equality counts as down
    bar.close = 1.6;
    EXPECT_TRUE(bar.isUp());

    // The store's references are stable and the last of the 501 slots is usable.
    BarSeries& series = barStore.Series(12, kMonth);
    series.bars[kMaxBars - 1].close = 42.0;
    EXPECT_EQ(&series, &barStore.Series(12, kMonth));
    EXPECT_EQ(barStore.Series(12, kMonth).bars[500].close, 42.0);
}

TEST(AnalysisParams, HistoryCountFallsBackAboveTheSeriesCapacity)
{
    AnalysisParams params;
    EXPECT_EQ(params.tpoBars, (PeriodValues{48, 49, 20, 22}));
    EXPECT_TRUE(params.setHistoryCount({501, 1, 2, 3}));
    EXPECT_EQ(params.historyCount, (PeriodValues{501, 1, 2, 3}));
    EXPECT_FALSE(params.setHistoryCount({10, 502, 10, 10}));
    EXPECT_EQ(params.historyCount, (PeriodValues{300, 200, 200, 200}));
}

TEST(SyncReport, ClosingMessageNamesEveryFailure)
{
    Catalogue catalogue;
    InitCatalogue(catalogue);
    EXPECT_EQ(SyncCompletionMessage(catalogue, {}), "完成数据同步");
    const std::string text = SyncCompletionMessage(catalogue, {{0, kHalfHour}, {5, kWeek}});
    EXPECT_EQ(text.rfind("完成数据同步\n", 0), 0u);
    EXPECT_NE(text.find("沈贵银 半小时线"), std::string::npos);
    EXPECT_NE(text.find("EURUSD 外汇欧元 周线"), std::string::npos);
    EXPECT_EQ(text.find('\n'), text.rfind('\n')); // exactly two lines
    EXPECT_NE(SyncCompletionMessage(catalogue, {}, true).find("取消"), std::string::npos);
}
