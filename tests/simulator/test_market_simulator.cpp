#include "analysis/AnalysisParams.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/Mt4Import.h"
#include "platform/MessageSink.h"
#include "simulator/MarketSimulator.h"
#include "simulator/SampleData.h"
#include "tests/support/RecordingMessageSink.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>

namespace velmora {
namespace {

constexpr std::uint64_t kSeed = 20260101;
constexpr std::int64_t kEnd = 1795996800 + 86400; // through Monday 2026-11-30
constexpr std::array<std::size_t, kPeriodCount> kMinimumBars{1000, 300, 150, 130};

std::string fileName(int commodity, Period period)
{
    return std::string(MarketSimulator::code(commodity)) + std::to_string(PeriodMt4Suffix(period)) +
           ".hst";
}

std::vector<unsigned char> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::tm utcFields(std::int64_t utc)
{
    const time_t t = utc;
    std::tm fields{};
    gmtime_r(&t, &fields);
    return fields;
}

// The day, week or month bars a terminal would build from these half-hours.
std::vector<hst::Bar> aggregate(const std::vector<hst::Bar>& halfHours, Period period)
{
    std::vector<hst::Bar> out;
    for (const hst::Bar& bar : halfHours) {
        std::tm f = utcFields(bar.time);
        f.tm_hour = f.tm_min = f.tm_sec = 0;
        if (period == kWeek)
            f.tm_mday -= f.tm_wday;
        if (period == kMonth)
            f.tm_mday = 1;
        const std::int64_t key = timegm(&f);
        if (out.empty() || out.back().time != key) {
            out.push_back(bar);
            out.back().time = key;
            continue;
        }
        hst::Bar& into = out.back();
        into.high = std::max(into.high, bar.high);
        into.low = std::min(into.low, bar.low);
        into.close = bar.close;
        into.tickVolume += bar.tickVolume;
    }
    return out;
}

// Writing eleven years of history takes a moment, so the suite shares one sample.
class SampleHistoryTest : public ::testing::Test {
protected:
    Catalogue catalogue;
    BarStore barStore;
    static void SetUpTestSuite()
    {
        s_dir = new test::TempDir;
        ASSERT_TRUE(WriteSampleHistory(s_dir->str(), kSeed, kEnd));
    }
    static void TearDownTestSuite() { delete s_dir; }

    static std::vector<hst::Bar> bars(int commodity, Period period)
    {
        const std::vector<unsigned char> bytes = readBytes(*s_dir / fileName(commodity, period));
        std::vector<hst::Bar> out;
        for (std::size_t at = hst::kHeaderSize; at + hst::kRecordSize401 <= bytes.size();
             at += hst::kRecordSize401)
            out.push_back(hst::DecodeRecord(hst::kVersion401, {bytes.data() + at, 60}));
        return out;
    }

    static test::TempDir* s_dir;
};

test::TempDir* SampleHistoryTest::s_dir = nullptr;

TEST_F(SampleHistoryTest, SeedDecidesTheFiles)
{
    test::TempDir same;
    test::TempDir other;
    ASSERT_TRUE(WriteSampleHistory(same.str(), kSeed, kEnd));
    ASSERT_TRUE(WriteSampleHistory(other.str(), kSeed + 1, kEnd));
    for (int c = 0; c < kCommodityCount; ++c) {
        for (Period p = 0; p < kPeriodCount; ++p) {
            const std::vector<unsigned char> first = readBytes(*s_dir / fileName(c, p));
            ASSERT_FALSE(first.empty()) << fileName(c, p);
            EXPECT_EQ(first, readBytes(same / fileName(c, p))) << fileName(c, p);
            EXPECT_NE(first, readBytes(other / fileName(c, p))) << fileName(c, p);
        }
    }
}

// Pins the generator: a change here alters every sample ever shipped, and a platform whose
// arithmetic differs shows up at once.
TEST_F(SampleHistoryTest, SampleMatchesPinnedFingerprint)
{
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char byte : readBytes(*s_dir / "EURUSD30.hst"))
        hash = (hash ^ byte) * 1099511628211ULL;
    EXPECT_EQ(hash, 2411585062851723739ULL);
}

TEST_F(SampleHistoryTest, FilesHoldEnoughWellFormedBars)
{
    for (int c = 0; c < kCommodityCount; ++c) {
        const double scale = std::pow(10.0, MarketSimulator::digits(c));
        for (Period p = 0; p < kPeriodCount; ++p) {
            SCOPED_TRACE(fileName(c, p));
            const std::vector<unsigned char> bytes = readBytes(*s_dir / fileName(c, p));
            ASSERT_GE(bytes.size(), hst::kHeaderSize);
            std::int32_t periodAndDigits[2];
            std::memcpy(periodAndDigits, bytes.data() + 80, sizeof periodAndDigits);
            EXPECT_EQ(hst::DecodeVersion(std::span<const unsigned char, 4>(bytes.data(), 4)), 401);
            EXPECT_STREQ(reinterpret_cast<const char*>(bytes.data() + 68),
                         std::string(MarketSimulator::code(c)).c_str());
            EXPECT_EQ(periodAndDigits[0], PeriodMt4Suffix(p));
            EXPECT_EQ(periodAndDigits[1], MarketSimulator::digits(c));

            const std::vector<hst::Bar> list = bars(c, p);
            if (p == kHalfHour) {
                EXPECT_EQ(list.size(), kMinimumBars[p]);
            }
            EXPECT_GE(list.size(), kMinimumBars[p]);
            EXPECT_LT(list.back().time, kEnd);
            EXPECT_GE(list.back().time, kEnd - 86400 * (p == kMonth ? 31 : 7));
            for (std::size_t i = 0; i < list.size(); ++i) {
                const hst::Bar& b = list[i];
                ASSERT_GT(b.low, 0.0);
                ASSERT_LE(b.low, std::min(b.open, b.close));
                ASSERT_GE(b.high, std::max(b.open, b.close));
                ASSERT_GE(b.tickVolume, 1);
                for (double price : {b.open, b.high, b.low, b.close})
                    ASSERT_EQ(std::round(price * scale) / scale, price) << "off the tick grid";
                if (i > 0) {
                    ASSERT_GT(b.time, list[i - 1].time);
                }
                const std::tm f = utcFields(b.time);
                ASSERT_EQ(f.tm_sec, 0);
                ASSERT_EQ(f.tm_min % 30, 0);
                if (p != kHalfHour) {
                    ASSERT_EQ(f.tm_hour * 60 + f.tm_min, 0);
                }
                if (p <= kDay) {
                    ASSERT_TRUE(f.tm_wday >= 1 && f.tm_wday <= 5) << "weekend bar " << b.time;
                }
                if (p == kWeek) {
                    ASSERT_EQ(f.tm_wday, 0) << "weeks start on Sunday";
                }
                if (p == kMonth) {
                    ASSERT_EQ(f.tm_mday, 1);
                }
            }
        }
    }
}

// The catalogue's price units were chosen for charts of a few dozen to a couple of hundred rows.
TEST_F(SampleHistoryTest, PriceRangesSuitTheChartUnits)
{
    InitCatalogue(catalogue);
    for (int c = 0; c < kCommodityCount; ++c) {
        for (Period p = 0; p < kPeriodCount; ++p) {
            const std::vector<hst::Bar> list = bars(c, p);
            const auto window = static_cast<std::size_t>(AnalysisParams::kDefaultTpoBars[p]);
            const double unit = std::stod(catalogue[c].yunit[p]);
            std::vector<double> rows;
            for (std::size_t end = window; end <= list.size(); ++end) {
                double high = 0.0;
                double low = 1e300;
                for (std::size_t k = end - window; k < end; ++k) {
                    high = std::max(high, list[k].high);
                    low = std::min(low, list[k].low);
                }
                rows.push_back((high - low) / unit);
            }
            std::sort(rows.begin(), rows.end());
            SCOPED_TRACE(fileName(c, p));
            if (p == kHalfHour) {
                EXPECT_GE(rows[rows.size() / 2], 20.0);
                EXPECT_LE(rows[rows.size() / 2], 150.0);
            }
            EXPECT_GE(rows[rows.size() / 10], 10.0);
            EXPECT_LE(rows[rows.size() * 9 / 10], 240.0);
        }
    }
}

TEST_F(SampleHistoryTest, ImportReadsTheNewestBars)
{
    test::ScopedTimeZone utc("UTC");
    InitCatalogue(catalogue);
    const AnalysisParams analysisParams;
    RecordingMessageSink sink;
    ImportAllFromMt4(catalogue, barStore, s_dir->str(), analysisParams.historyCount, sink);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"完成数据同步"});

    for (int c = 0; c < kCommodityCount; ++c) {
        for (Period p = 0; p < kPeriodCount; ++p) {
            SCOPED_TRACE(fileName(c, p));
            const std::vector<hst::Bar> list = bars(c, p);
            const BarSeries& series = barStore.Series(c, p);
            const int count = AnalysisParams::kDefaultHistoryCount[p];
            ASSERT_EQ(series.count, count);
            for (int k = 0; k < count; ++k) {
                const hst::Bar& b = list[list.size() - count + k];
                const BarRecord& r = series.bars[k];
                const std::tm f = utcFields(b.time);
                char text[64];
                std::snprintf(text, sizeof text, "%4d.%02d.%02d %02d:%02d:%02d", f.tm_year + 1900,
                              f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
                ASSERT_EQ(r.time, text);
                ASSERT_EQ(r.open, b.open);
                ASSERT_EQ(r.high, b.high);
                ASSERT_EQ(r.low, b.low);
                ASSERT_EQ(r.close, b.close);
                ASSERT_EQ(r.volume, b.tickVolume);
            }
        }
    }
}

constexpr std::int64_t kStart = 1791936000; // Wednesday 2026-10-14

TEST(MarketSimulatorTest, LongerBarsAggregateTheHalfHours)
{
    MarketSimulator simulator(kSeed, kStart, 100000);
    simulator.advanceTo(kStart + 86400 * 80);
    for (int c = 0; c < kCommodityCount; ++c) {
        const std::vector<hst::Bar>& halfHours = simulator.bars(c, kHalfHour);
        for (Period p = kDay; p < kPeriodCount; ++p) {
            const std::vector<hst::Bar> expected = aggregate(halfHours, p);
            const std::vector<hst::Bar>& actual = simulator.bars(c, p);
            ASSERT_EQ(actual.size(), expected.size()) << fileName(c, p);
            for (std::size_t i = 0; i < expected.size(); ++i) {
                SCOPED_TRACE(fileName(c, p) + " bar " + std::to_string(i));
                EXPECT_EQ(actual[i].time, expected[i].time);
                EXPECT_EQ(actual[i].open, expected[i].open);
                EXPECT_EQ(actual[i].high, expected[i].high);
                EXPECT_EQ(actual[i].low, expected[i].low);
                EXPECT_EQ(actual[i].close, expected[i].close);
                EXPECT_EQ(actual[i].tickVolume, expected[i].tickVolume);
            }
        }
    }
}

// A data server advances the path in small steps as the clock runs; the bars must not depend
// on how the time was cut up.
TEST(MarketSimulatorTest, StepwiseAdvanceFollowsTheSamePath)
{
    const std::int64_t end = kStart + 86400 * 10;
    MarketSimulator whole(kSeed, kStart);
    whole.advanceTo(end);

    MarketSimulator live(kSeed, kStart);
    hst::Bar previous;
    for (std::int64_t now = kStart; now < end; now += 433) {
        live.advanceTo(now);
        live.advanceTo(now - 5000); // the clock stepping back changes nothing
        const std::vector<hst::Bar>& halfHours = live.bars(5, kHalfHour);
        if (halfHours.empty())
            continue;
        const hst::Bar& current = halfHours.back();
        EXPECT_LT(live.lastTickTime(5), now);
        EXPECT_EQ(live.lastPrice(5), current.close);
        if (current.time == previous.time) {
            EXPECT_GE(current.tickVolume, previous.tickVolume) << "the open bar only grows";
        }
        previous = current;
    }
    live.advanceTo(end);
    for (int c = 0; c < kCommodityCount; ++c) {
        EXPECT_EQ(live.lastTickTime(c), whole.lastTickTime(c));
        for (Period p = 0; p < kPeriodCount; ++p) {
            const std::vector<unsigned char> a = hst::EncodeFile({}, live.bars(c, p));
            EXPECT_EQ(a, hst::EncodeFile({}, whole.bars(c, p))) << fileName(c, p);
        }
    }
}

TEST(MarketSimulatorTest, CommoditiesGetTheirOwnPaths)
{
    MarketSimulator simulator(kSeed, kStart);
    simulator.advanceTo(kStart + 86400 * 3);
    std::map<std::vector<std::int64_t>, int> volumeSequences;
    for (int c = 0; c < kCommodityCount; ++c) {
        std::vector<std::int64_t> volumes;
        for (const hst::Bar& bar : simulator.bars(c, kHalfHour))
            volumes.push_back(bar.tickVolume);
        EXPECT_TRUE(volumeSequences.emplace(volumes, c).second)
            << MarketSimulator::code(c) << " repeats another commodity's ticks";
    }
}

TEST(MarketSimulatorTest, ParsesDatesStrictly)
{
    EXPECT_EQ(ParseUtcDate("2026-11-30"), 1795996800);
    EXPECT_EQ(ParseUtcDate("2024-02-29"), 1709164800);
    for (const char* bad : {"2025-02-29", "2026-13-01", "2026-00-10", "2026-1-01", "20261130",
                            "2026-11-3x", "2026/11/30", ""})
        EXPECT_EQ(ParseUtcDate(bad), std::nullopt) << bad;
    EXPECT_EQ(FormatUtcDate(1795996800 + 86399), "2026-11-30");
}

} // namespace
} // namespace velmora
