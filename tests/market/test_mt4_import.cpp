#include "analysis/AnalysisParams.h"
#include "market/BarStore.h"
#include "market/HstFile.h"
#include "market/Mt4Import.h"
#include "platform/MessageSink.h"
#include "tests/support/RecordingMessageSink.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace velmora;
using velmora::test::ScopedTimeZone;
using velmora::test::TempDir;

namespace {

constexpr std::int64_t k2016_08_10_0630Utc = 1470810600;

std::vector<hst::Bar> MakeBars(int count, std::int64_t start = 1700000000, double base = 1.1)
{
    std::vector<hst::Bar> bars;
    for (int i = 0; i < count; ++i) {
        hst::Bar bar;
        bar.time = start + 1800LL * i;
        bar.open = base + i * 0.0001;
        bar.close = bar.open + (i % 2 ? 0.0003 : -0.0002);
        bar.high = bar.open + 0.0007;
        bar.low = bar.open - 0.0006;
        bar.tickVolume = 1000 + i;
        bars.push_back(bar);
    }
    return bars;
}

void WriteHst(const std::filesystem::path& path, const std::vector<hst::Bar>& bars,
              std::int32_t version = hst::kVersion401)
{
    hst::Header header;
    header.version = version;
    ASSERT_TRUE(hst::WriteFile(path.string(), header, bars));
}

void AppendBytes(const std::filesystem::path& path, std::size_t n)
{
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << std::string(n, '\x7f');
}

class Mt4ImportTest : public ::testing::Test {
protected:
    Catalogue catalogue;
    BarStore barStore;
    void SetUp() override { InitCatalogue(catalogue); }

    AnalysisParams analysisParams;

    int import(const char* code, Period period)
    {
        return ImportMt4Series(barStore, catalogue[FindCommodity(code)], period, dir.str(),
                               analysisParams.historyCount[period], messages);
    }

    TempDir dir;
    RecordingMessageSink messages;
    ScopedTimeZone zone{"UTC"};
};

} // namespace

TEST_F(Mt4ImportTest, TakesTheNewestBarsOfALongFile)
{
    const auto bars = MakeBars(1000);
    WriteHst(dir / "EURUSD30.hst", bars);
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    const BarSeries& series = barStore.Series(5, kHalfHour);
    EXPECT_EQ(series.count, 200);
    EXPECT_EQ(series.cursor, 199);
    EXPECT_EQ(series.bars[0].open, bars[800].open);
    EXPECT_EQ(series.bars[199].close, bars[999].close);
    // Fields go by name: the file holds open, high, low, close.
    EXPECT_EQ(series.bars[199].high, bars[999].high);
    EXPECT_EQ(series.bars[199].low, bars[999].low);
    EXPECT_EQ(series.bars[199].volume, 1999);
    EXPECT_TRUE(messages.messages.empty());

    analysisParams.historyCount[kHalfHour] = 501;
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    EXPECT_EQ(series.count, 501);
    EXPECT_EQ(series.bars[500].open, bars[999].open);
    EXPECT_EQ(series.cursor, 199); // a position already held is kept
}

TEST_F(Mt4ImportTest, ShortFilesGiveWhatTheyHold)
{
    WriteHst(dir / "EURUSD30.hst", MakeBars(150));
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    EXPECT_EQ(barStore.Series(5, kHalfHour).count, 150);
    EXPECT_EQ(barStore.Series(5, kHalfHour).cursor, 149);

    WriteHst(dir / "EURUSD1440.hst", {}); // a header and nothing else
    ASSERT_EQ(std::filesystem::file_size(dir / "EURUSD1440.hst"), 148u);
    barStore.Series(5, kDay).count = 33;
    ASSERT_EQ(import("EURUSD", kDay), 0);
    EXPECT_EQ(barStore.Series(5, kDay).count, 0);

    std::ofstream(dir / "EURUSD10080.hst") << "short";
    barStore.Series(5, kWeek).count = 12;
    ASSERT_EQ(import("EURUSD", kWeek), 0);
    EXPECT_EQ(barStore.Series(5, kWeek).count, 0);
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Mt4ImportTest, PartialLastRecordIsNotReadMisaligned)
{
    const auto bars = MakeBars(300);
    WriteHst(dir / "EURUSD30.hst", bars);
    AppendBytes(dir / "EURUSD30.hst", 37); // the terminal is writing its next bar
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    const BarSeries& series = barStore.Series(5, kHalfHour);
    ASSERT_EQ(series.count, 200);
    for (int k = 0; k < 200; ++k) {
        ASSERT_EQ(series.bars[k].open, bars[100 + k].open) << k;
        ASSERT_EQ(series.bars[k].low, bars[100 + k].low) << k;
    }

    // Fewer complete records than wanted: count is what was read, never stale slots.
    WriteHst(dir / "EURUSD30.hst", MakeBars(5));
    AppendBytes(dir / "EURUSD30.hst", 59);
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    EXPECT_EQ(series.count, 5);
}

TEST_F(Mt4ImportTest, KeptCursorIsPulledBackOntoTheSeries)
{
    WriteHst(dir / "EURUSD30.hst", MakeBars(400));
    BarSeries& series = barStore.Series(5, kHalfHour);
    series.cursor = 120;
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    EXPECT_EQ(series.cursor, 120);

    series.cursor = 300;
    WriteHst(dir / "EURUSD30.hst", MakeBars(150));
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    EXPECT_EQ(series.cursor, 149);

    // An emptied series leaves no position; the next load starts at the newest bar again.
    WriteHst(dir / "EURUSD30.hst", {});
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    EXPECT_EQ(series.cursor, -1);
    WriteHst(dir / "EURUSD30.hst", MakeBars(60));
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    EXPECT_EQ(series.cursor, 59);
}

TEST_F(Mt4ImportTest, RefusalsLeaveTheSeriesUntouched)
{
    BarSeries& series = barStore.Series(5, kHalfHour);
    series.count = 7;
    series.cursor = 3;
    series.bars[0].time = "keep";

    EXPECT_EQ(import("EURUSD", kHalfHour), -1); // no file
    const std::string path = (dir / "EURUSD30.hst").string();
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_EQ(messages.messages[0], "MT4数据自动同步失败：读取文件[" + path +
                                        "]失败,请设置正确的MT4数据目录并及时更新MT4数据");

    WriteHst(dir / "EURUSD30.hst", MakeBars(10), 402); // unknown layout
    EXPECT_EQ(import("EURUSD", kHalfHour), -1);
    EXPECT_EQ(messages.messages.size(), 2u);

    std::filesystem::remove(dir / "EURUSD30.hst");
    std::filesystem::create_directory(dir / "EURUSD30.hst");
    EXPECT_EQ(import("EURUSD", kHalfHour), -1);
    EXPECT_EQ(messages.messages.size(), 3u);

    EXPECT_EQ(series.count, 7);
    EXPECT_EQ(series.cursor, 3);
    EXPECT_EQ(series.bars[0].time, "keep");

    CommodityEntry stranger;
    stranger.code = "SGY50KG";
    EXPECT_EQ(ImportMt4Series(barStore, stranger, kHalfHour, dir.str(), 200, messages), -1);
    EXPECT_EQ(messages.messages.back(), "MT4数据自动同步失败：商品代码错");
    EXPECT_EQ(ImportMt4Series(barStore, catalogue[5], 4, dir.str(), 200, messages), -1);
    EXPECT_EQ(messages.messages.back(), "MT4数据自动同步失败：数据类型错");
}

// Nothing would ever write to it, so waiting for a writer would hang the import for good.
TEST_F(Mt4ImportTest, FifoInPlaceOfAHistoryFileIsRefusedAtOnce)
{
    const std::filesystem::path fifo = dir / "EURUSD30.hst";
    int result = 0;
    EXPECT_TRUE(test::ReturnsDespiteFifo(fifo, [&] { result = import("EURUSD", kHalfHour); }));
    EXPECT_EQ(result, -1);
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_NE(messages.messages[0].find("读取文件[" + fifo.string() + "]失败"), std::string::npos);
}

TEST_F(Mt4ImportTest, TimesAreTheMachinesLocalTime)
{
    WriteHst(dir / "LLGUSD30.hst", MakeBars(1, k2016_08_10_0630Utc, 1300.0));
    {
        ScopedTimeZone shanghai("Asia/Shanghai");
        ASSERT_EQ(import("LLGUSD", kHalfHour), 0);
        EXPECT_EQ(barStore.Series(12, kHalfHour).bars[0].time, "2016.08.10 14:30:00");
    }
    ASSERT_EQ(import("LLGUSD", kHalfHour), 0);
    EXPECT_EQ(barStore.Series(12, kHalfHour).bars[0].time, "2016.08.10 06:30:00");
}

TEST_F(Mt4ImportTest, AllCommoditiesStopAtTheFirstMissingPeriod)
{
    for (int s = 0; s < kCommodityCount; ++s) {
        barStore.Series(s, kDay).count = 3;
        barStore.Series(s, kWeek).count = 4;
    }
    WriteHst(dir / "EURUSD30.hst", MakeBars(250));
    // EURUSD has no day file; GBPUSD has all four.
    for (const char* suffix : {"30", "1440", "10080", "43200"})
        WriteHst(dir / (std::string("GBPUSD") + suffix + ".hst"), MakeBars(120));

    const SyncFailures failures =
        ImportAllFromMt4(catalogue, barStore, dir.str(), analysisParams.historyCount, messages);
    EXPECT_EQ(barStore.Series(5, kHalfHour).count, 200);
    EXPECT_EQ(barStore.Series(5, kDay).count, 3);
    EXPECT_EQ(barStore.Series(5, kWeek).count, 4);
    EXPECT_EQ(barStore.Series(6, kWeek).count, 100);
    EXPECT_EQ(barStore.Series(6, kMonth).count, 100);

    ASSERT_EQ(failures.size(), 12u); // 11 without files, EURUSD at its day file
    EXPECT_EQ(messages.messages.size(), 13u);
    const std::string& closing = messages.messages.back();
    EXPECT_EQ(closing.rfind("完成数据同步\n", 0), 0u);
    EXPECT_NE(closing.find("EURUSD 外汇欧元 日线"), std::string::npos);
    EXPECT_EQ(closing.find("GBPUSD"), std::string::npos);

    messages.messages.clear();
    ImportAllFromMt4(catalogue, barStore, "", analysisParams.historyCount, messages);
    EXPECT_TRUE(messages.messages.empty());
}

// The same market data in both layouts must give identical series.
TEST_F(Mt4ImportTest, RealFilesOfBothVersionsAgree)
{
    const auto fixtures = velmora::test::TestDataDir() / "mt4";
    velmora::test::CopyFile(fixtures / "EURUSD240_new_format_401.hst",
                            dir / "new" / "EURUSD30.hst");
    velmora::test::CopyFile(fixtures / "EURUSD240_old_format_400.hst",
                            dir / "old" / "EURUSD30.hst");
    analysisParams.historyCount[kHalfHour] = 501;

    ASSERT_EQ(ImportMt4Series(barStore, catalogue[5], kHalfHour, (dir / "new").string(),
                              analysisParams.historyCount[kHalfHour], messages),
              0);
    ASSERT_EQ(barStore.Series(5, kHalfHour).count, 501);
    const std::string newest401 = barStore.Series(5, kHalfHour).bars[500].time;
    EXPECT_EQ(newest401, "2019.07.08 16:00:00");

    // Bars 5409..5908 of the new file are the last 501 bars of the old one.
    analysisParams.historyCount[kHalfHour] = 501;
    ASSERT_EQ(ImportMt4Series(barStore, catalogue[5], kHalfHour, (dir / "old").string(),
                              analysisParams.historyCount[kHalfHour], messages),
              0);
    const BarSeries old = barStore.Series(5, kHalfHour);
    EXPECT_EQ(old.bars[500].time, "2013.10.18 20:00:00");
    for (int k = 0; k < 501; ++k)
        ASSERT_LE(old.bars[k].low, old.bars[k].high) << k;

    // Cross-check the old layout against the exported CSV of the new file.
    std::ifstream csv(fixtures / "EURUSD240_mt4export.csv");
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(csv, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 12969u);
    for (int k = 0; k < 501; ++k) {
        std::stringstream row(lines[5909 - 501 + k]);
        std::string date, time, open, high, low, close, volume;
        std::getline(row, date, ',');
        std::getline(row, time, ',');
        std::getline(row, open, ',');
        std::getline(row, high, ',');
        std::getline(row, low, ',');
        std::getline(row, close, ',');
        std::getline(row, volume, ',');
        const BarRecord& bar = old.bars[k];
        ASSERT_EQ(bar.time, date + " " + time + ":00") << k;
        EXPECT_DOUBLE_EQ(bar.open, std::stod(open)) << k;
        EXPECT_DOUBLE_EQ(bar.high, std::stod(high)) << k;
        EXPECT_DOUBLE_EQ(bar.low, std::stod(low)) << k;
        EXPECT_DOUBLE_EQ(bar.close, std::stod(close)) << k;
        EXPECT_EQ(bar.volume, std::stoi(volume)) << k;
    }
    EXPECT_TRUE(messages.messages.empty());
}

// Real half-hour bars converted to a European zone by a third party.
TEST_F(Mt4ImportTest, RealHalfHourFileMatchesItsLocalTimeExport)
{
    const auto shared = velmora::test::SharedTestDataDir();
    if (shared.empty())
        GTEST_SKIP() << "shared MT4 test data not on this machine";
    velmora::test::CopyFile(shared / "hst" / "EURUSD30.hst", dir / "EURUSD30.hst");
    ScopedTimeZone paris("Europe/Paris");
    ASSERT_EQ(import("EURUSD", kHalfHour), 0);
    const BarSeries& series = barStore.Series(5, kHalfHour);
    ASSERT_EQ(series.count, 200);

    std::ifstream csv(shared / "csv" / "EURUSD30.csv");
    std::string line;
    std::vector<std::string> lines;
    std::getline(csv, line); // header
    while (std::getline(csv, line))
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 6088u);
    for (int k = 0; k < 200; ++k) {
        const std::string& row = lines[lines.size() - 200 + k];
        std::string expected = row.substr(0, 19);
        expected[4] = expected[7] = '.';
        ASSERT_EQ(series.bars[k].time, expected) << k;
        std::stringstream fields(row.substr(20));
        std::string open;
        std::getline(fields, open, ',');
        EXPECT_DOUBLE_EQ(series.bars[k].open, std::stod(open)) << k;
    }
}

TEST_F(Mt4ImportTest, RealVersion400DailyFilesReadWithLowBelowHigh)
{
    const auto shared = velmora::test::SharedTestDataDir();
    if (shared.empty())
        GTEST_SKIP() << "shared MT4 test data not on this machine";
    velmora::test::CopyFile(shared / "hst" / "GOLD1440.hst", dir / "LLGUSD1440.hst");
    velmora::test::CopyFile(shared / "hst" / "AUDUSD43200.hst", dir / "AUDUSD43200.hst");
    ASSERT_EQ(import("LLGUSD", kDay), 0);
    const BarSeries& gold = barStore.Series(12, kDay);
    ASSERT_EQ(gold.count, 100);
    EXPECT_EQ(gold.bars[99].time, "2018.02.23 08:00:00");
    for (int k = 0; k < 100; ++k) {
        ASSERT_LE(gold.bars[k].low, gold.bars[k].high);
        ASSERT_LE(gold.bars[k].low, gold.bars[k].open);
        ASSERT_GE(gold.bars[k].high, gold.bars[k].close);
    }
    // 264 month bars fit both record sizes evenly; only the header tells them apart.
    ASSERT_EQ(import("AUDUSD", kMonth), 0);
    const BarSeries& months = barStore.Series(8, kMonth);
    ASSERT_EQ(months.count, 100);
    EXPECT_EQ(months.bars[99].time, "2015.03.01 00:00:00");
    EXPECT_EQ(months.bars[98].time, "2015.02.01 00:00:00");
}
