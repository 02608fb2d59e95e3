#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/store/HistoryDb.h"
#include "market/store/LocalHistory.h"
#include "tests/support/TestSupport.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace velmora;
using velmora::test::TempDir;

namespace {

// `count` half-hour bars from 2026-12-01 00:00, every price `price`.
std::vector<BarRecord> Bars(int count, double price, int firstSlot = 0)
{
    std::vector<BarRecord> bars;
    for (int i = firstSlot; i < firstSlot + count; ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "2026-12-%02d %02d:%02d:00", 1 + i / 48, i % 48 / 2,
                      i % 2 * 30);
        bars.push_back(BarRecord{time, price, price, price + 1, price - 1, i});
    }
    return bars;
}

std::vector<double> Opens(const std::vector<BarRecord>& bars)
{
    std::vector<double> opens;
    for (const BarRecord& bar : bars)
        opens.push_back(bar.open);
    return opens;
}

} // namespace

TEST(HistoryDbTest, SeriesMergeByBarTime)
{
    TempDir dir;
    HistoryDb db;
    ASSERT_EQ(db.open(dir / "history.db"), HistoryDb::OpenState::Ready);

    ASSERT_TRUE(db.writeSeries("LLGUSD", kHalfHour, Bars(100, 1.0), 1000));
    // A newer delivery overlapping the last 40 bars and going 20 further replaces what it covers.
    ASSERT_TRUE(db.writeSeries("LLGUSD", kHalfHour, Bars(60, 2.0, 60), 2000));
    // Another series is its own.
    ASSERT_TRUE(db.writeSeries("LLGUSD", kDay, Bars(3, 9.0), 3000));

    const auto stored = db.readSeries("LLGUSD", kHalfHour, 501);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->savedAt, 2000);
    ASSERT_EQ(stored->bars.size(), 120u);
    EXPECT_EQ(stored->bars.front().time, "2026-12-01 00:00:00");
    EXPECT_EQ(stored->bars[59].open, 1.0);
    EXPECT_EQ(stored->bars[60].open, 2.0);
    EXPECT_EQ(stored->bars[60].high, 3.0);
    EXPECT_EQ(stored->bars[60].volume, 60);
    // The newest N, oldest first.
    const auto newest = db.readSeries("LLGUSD", kHalfHour, 5);
    ASSERT_TRUE(newest);
    ASSERT_EQ(newest->bars.size(), 5u);
    EXPECT_EQ(newest->bars.back().time, Bars(1, 0, 119).front().time);

    EXPECT_FALSE(db.readSeries("EURUSD", kHalfHour, 501)); // never stored
    // A delivery without readable times changes no bars.
    ASSERT_TRUE(db.writeSeries("LLGUSD", kDay, {BarRecord{"", 5, 5, 5, 5, 5}}, 4000));
    EXPECT_EQ(db.barCount("LLGUSD", kDay), 3);

    ASSERT_TRUE(db.clear());
    EXPECT_FALSE(db.readSeries("LLGUSD", kHalfHour, 501));
    EXPECT_EQ(db.integrityCheck(), "ok");
}

TEST(HistoryDbTest, DamagedNewerAndUnwritableStores)
{
    TempDir dir;
    const auto file = dir / "history.db";
    // Not a database at all: moved aside, a fresh one made.
    velmora::test::WriteWholeFile(file, std::string(8192, 'x'));
    {
        HistoryDb db;
        EXPECT_EQ(db.open(file), HistoryDb::OpenState::MovedAside);
        EXPECT_TRUE(db.isOpen());
        EXPECT_TRUE(std::filesystem::exists(db.movedTo()));
        EXPECT_NE(db.movedTo().filename().string().find("history.db.corrupt-"), std::string::npos);
        EXPECT_EQ(velmora::test::ReadWholeFile(db.movedTo()), std::string(8192, 'x'));
        EXPECT_TRUE(db.writeSeries("CNH", kDay, Bars(3, 7.0), 1));
    }
    // Written by a newer program (its format number, at byte 60 of the header, raised): not
    // used, not touched.
    std::string bytes = velmora::test::ReadWholeFile(file);
    ASSERT_GT(bytes.size(), 64u);
    bytes[63] = static_cast<char>(HistoryDb::kFormatVersion + 1);
    velmora::test::WriteWholeFile(file, bytes);
    {
        HistoryDb db;
        EXPECT_EQ(db.open(file), HistoryDb::OpenState::NewerFormat);
        EXPECT_FALSE(db.isOpen());
    }
    EXPECT_EQ(velmora::test::ReadWholeFile(file), bytes);
    std::filesystem::remove(file);
}

TEST(HistoryDbTest, FullDiskFailsTheWriteAndKeepsTheOldBars)
{
    TempDir dir;
    HistoryDb db;
    ASSERT_EQ(db.open(dir / "history.db"), HistoryDb::OpenState::Ready);
    ASSERT_TRUE(db.writeSeries("LLGUSD", kDay, Bars(300, 4.0), 1));
    ASSERT_TRUE(db.limitPages(1)); // no room for anything more
    EXPECT_FALSE(db.writeSeries("LLGUSD", kDay, Bars(3000, 5.0), 2));
    EXPECT_NE(db.lastError().find("full"), std::string::npos) << db.lastError();
    const auto stored = db.readSeries("LLGUSD", kDay, 501);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->savedAt, 1);
    EXPECT_EQ(Opens(stored->bars), std::vector<double>(300, 4.0));
}

TEST(LocalHistoryTest, WriteThroughThenFillWithoutAServer)
{
    Catalogue catalogue;
    BarStore barStore;
    TempDir dir;
    InitCatalogue(catalogue);
    std::vector<std::string> reports;
    {
        LocalHistory history(barStore, [&](const std::string& text) { reports.push_back(text); });
        ASSERT_TRUE(history.open(dir / "history.db"));
        history.observeBarStore();
        // A delivery, an edit and a roll-over all reach the store.
        BarSeries& gold = barStore.Series(12, kHalfHour);
        const auto bars = Bars(600, 3.0);
        std::copy(bars.end() - kMaxBars, bars.end(), gold.bars.begin());
        gold.count = kMaxBars;
        barStore.notifyChanged(12, kHalfHour, SeriesChange::Delivered);
        gold.bars[kMaxBars - 1].open = 99.0;
        barStore.notifyChanged(12, kHalfHour, SeriesChange::Edited);
        BarSeries& euro = barStore.Series(5, kMonth);
        const auto months = Bars(4, 1.1);
        std::copy(months.begin(), months.end(), euro.bars.begin());
        euro.count = 4;
        barStore.notifyChanged(5, kMonth, SeriesChange::RolledOver);
        history.flush();
    }
    EXPECT_TRUE(reports.empty());

    barStore.ResetBarStore();
    LocalHistory again(barStore, [&](const std::string& text) { reports.push_back(text); });
    ASSERT_TRUE(again.open(dir / "history.db"));
    EXPECT_EQ(again.fill({300, 200, 200, 200}), 2);
    const BarSeries& gold = barStore.Series(12, kHalfHour);
    ASSERT_EQ(gold.count, 300);
    EXPECT_EQ(gold.cursor, 299);
    EXPECT_GT(gold.storedAt, 0);
    EXPECT_EQ(gold.bars[299].open, 99.0);
    EXPECT_EQ(gold.bars[299].time, Bars(1, 0, 599).front().time);
    EXPECT_EQ(barStore.Series(5, kMonth).count, 4);
    EXPECT_EQ(barStore.Series(0, kDay).count, 0);
    // A delivery of this run ends the stored-data mark.
    barStore.notifyChanged(12, kHalfHour, SeriesChange::Delivered);
    EXPECT_EQ(gold.storedAt, 0);

    // Emptying everything empties the store too.
    again.observeBarStore();
    barStore.notifyChanged(-1, -1, SeriesChange::Cleared);
    again.flush();
    barStore.ResetBarStore();
    EXPECT_EQ(again.fill({300, 200, 200, 200}), 0);
}

TEST(LocalHistoryTest, ProblemsAreReportedOnceAndNothingIsWritten)
{
    BarStore barStore;
    TempDir dir;
    velmora::test::WriteWholeFile(dir / "plain", "x");
    std::vector<std::string> reports;
    LocalHistory history(barStore, [&](const std::string& text) { reports.push_back(text); });
    EXPECT_FALSE(history.open(dir / "plain" / "history.db"));
    history.writeThrough(0, kDay);
    history.clear();
    history.flush();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("无法打开本地数据库"), std::string::npos) << reports[0];
}

// A second program holding the store's write lock makes a write wait, not fail; and two
// processes writing at once lose nothing.
TEST(HistoryDbTest, SharedBetweenProcesses)
{
    TempDir dir;
    const auto file = dir / "history.db";
    {
        HistoryDb holder;
        ASSERT_EQ(holder.open(file), HistoryDb::OpenState::Ready);
        HistoryDb writer;
        ASSERT_EQ(writer.open(file), HistoryDb::OpenState::Ready);
        ASSERT_TRUE(holder.writeSeries("CNH", kDay, Bars(1, 1.0), 1));
        std::thread other([&] {
            // BEGIN IMMEDIATE through a write that is slow to end: hold the lock a while.
            HistoryDb slow;
            ASSERT_EQ(slow.open(file), HistoryDb::OpenState::Ready);
            ASSERT_TRUE(slow.writeSeries("CNH", kWeek, Bars(20000, 2.0), 2));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(writer.writeSeries("CNH", kMonth, Bars(10, 3.0), 3)) << writer.lastError();
        other.join();
    }

    constexpr int kRounds = 20;
    std::vector<pid_t> children;
    for (int child = 0; child < 2; ++child) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            HistoryDb db;
            bool ok = db.open(file) == HistoryDb::OpenState::Ready;
            for (int round = 0; ok && round < kRounds; ++round) {
                for (int commodity = child; ok && commodity < kCommodityCount; commodity += 2)
                    ok = db.writeSeries(std::to_string(commodity), kHalfHour,
                                        Bars(200, round + 1.0, round), round + 1);
            }
            _exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HistoryDb db;
    ASSERT_EQ(db.open(file), HistoryDb::OpenState::Ready);
    for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
        const auto stored = db.readSeries(std::to_string(commodity), kHalfHour, 1000);
        ASSERT_TRUE(stored) << commodity;
        EXPECT_EQ(stored->bars.size(), std::size_t{200 + kRounds - 1});
        EXPECT_EQ(stored->bars.back().open, double{kRounds});
    }
    EXPECT_EQ(db.integrityCheck(), "ok");
}

// A program killed while it writes leaves, for every series, either its old or its new bars.
TEST(HistoryDbTest, KilledDuringWriteThroughLeavesOldOrNew)
{
    Catalogue catalogue;
    TempDir dir;
    const auto file = dir / "history.db";
    InitCatalogue(catalogue);
    std::mt19937 random(20261208);
    for (int iteration = 0; iteration < 4; ++iteration) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            HistoryDb db;
            if (db.open(file) != HistoryDb::OpenState::Ready)
                _exit(1);
            // Generation g writes every bar of every series at price g; a series always has
            // 501 bars at the same times.
            for (int generation = 1;; ++generation) {
                for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
                    for (Period period = 0; period < kPeriodCount; ++period)
                        db.writeSeries(catalogue[commodity].code, period,
                                       Bars(kMaxBars, generation), generation);
                }
            }
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 120)(random)));
        kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped on its own";

        HistoryDb db;
        ASSERT_EQ(db.open(file), HistoryDb::OpenState::Ready);
        ASSERT_EQ(db.integrityCheck(), "ok");
        for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
            for (Period period = 0; period < kPeriodCount; ++period) {
                const auto stored = db.readSeries(catalogue[commodity].code, period, kMaxBars);
                if (!stored)
                    continue; // never written
                ASSERT_EQ(stored->bars.size(), std::size_t{kMaxBars});
                const std::vector<double> opens = Opens(stored->bars);
                EXPECT_EQ(opens, std::vector<double>(kMaxBars, double(stored->savedAt)))
                    << "a mixed series " << commodity << "/" << period;
            }
        }
    }
}

TEST(HistoryDbTest, ASeriesKeepsItsNewestHundredThousandBars)
{
    TempDir dir;
    HistoryDb db;
    ASSERT_EQ(db.open(dir / "history.db"), HistoryDb::OpenState::Ready);
    auto minuteBars = [](int first, int count) {
        std::vector<BarRecord> bars;
        for (int i = first; i < first + count; ++i) {
            char time[32];
            std::snprintf(time, sizeof time, "2026-%02d-%02d %02d:%02d:00", 1 + i / 40320,
                          1 + i / 1440 % 28, i / 60 % 24, i % 60);
            bars.push_back(BarRecord{time, double(i), 0, 0, 0, 0});
        }
        return bars;
    };
    ASSERT_TRUE(db.writeSeries("CNH", kHalfHour, minuteBars(0, 60000), 1));
    ASSERT_TRUE(db.writeSeries("CNH", kHalfHour, minuteBars(60000, 50000), 2));
    EXPECT_EQ(db.barCount("CNH", kHalfHour), HistoryDb::kMaxStoredBars);
    const auto oldest = db.readSeries("CNH", kHalfHour, HistoryDb::kMaxStoredBars + 5);
    ASSERT_TRUE(oldest);
    EXPECT_EQ(oldest->bars.front().open, 10000.0);
    EXPECT_EQ(oldest->bars.back().open, 109999.0);
}
