// The local bar store: writing a whole synchronisation through (52 series of 501 bars) on the
// store's worker, and the start-up fill of the bar store from it.

#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/store/LocalHistory.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>

using namespace velmora;

namespace {

std::filesystem::path TempStore()
{
    std::string dir = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr)
        return {};
    return std::filesystem::path(dir) / "history.db";
}

// Every series full, its bars `shift` half-hours later than those of shift 0.
void FillAllSeries(BarStore& barStore, int shift)
{
    for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
        for (Period period = 0; period < kPeriodCount; ++period) {
            BarSeries& series = barStore.Series(commodity, period);
            for (int i = 0; i < kMaxBars; ++i) {
                const int slot = i + shift;
                char time[32];
                std::snprintf(time, sizeof time, "2026-%02d-%02d %02d:%02d:00",
                              1 + slot / 1440 % 12, 1 + slot / 48 % 28, slot / 2 % 24,
                              slot % 2 * 30);
                const double price = 1000.0 + (slot * 37 % 101);
                series.bars[static_cast<std::size_t>(i)] = {time,      price,     price + 1,
                                                            price + 3, price - 2, slot};
            }
            series.count = kMaxBars;
            series.cursor = kMaxBars - 1;
        }
    }
}

void BM_WriteThroughWholeSync(benchmark::State& state)
{
    const std::filesystem::path file = TempStore();
    BarStore barStore;
    LocalHistory history(barStore, {});
    if (!history.open(file)) {
        state.SkipWithError("no store");
        return;
    }
    double callerNs = 0;
    int shift = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FillAllSeries(barStore, shift);
        shift += 7; // each sync brings some new bars and replaces the rest
        state.ResumeTiming();
        const auto started = std::chrono::steady_clock::now();
        for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
            for (Period period = 0; period < kPeriodCount; ++period)
                history.writeThrough(commodity, period);
        }
        callerNs += static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                            std::chrono::steady_clock::now() - started)
                                            .count());
        history.flush();
    }
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["worker_ms"] =
        static_cast<double>(history.busyTime().count()) / 1e6 / iterations;
    state.counters["caller_ms"] = callerNs / 1e6 / iterations;
    std::filesystem::remove_all(file.parent_path());
}
BENCHMARK(BM_WriteThroughWholeSync)->Unit(benchmark::kMillisecond);

void BM_StartupFill(benchmark::State& state)
{
    const std::filesystem::path file = TempStore();
    BarStore barStore;
    {
        LocalHistory history(barStore, {});
        if (!history.open(file)) {
            state.SkipWithError("no store");
            return;
        }
        // A store a few runs old: more bars per series than the fill takes.
        for (int shift : {0, 400, 800}) {
            FillAllSeries(barStore, shift);
            for (int commodity = 0; commodity < kCommodityCount; ++commodity) {
                for (Period period = 0; period < kPeriodCount; ++period)
                    history.writeThrough(commodity, period);
            }
            history.flush();
        }
    }
    const PeriodValues all{kMaxBars, kMaxBars, kMaxBars, kMaxBars};
    for (auto _ : state) {
        state.PauseTiming();
        barStore.ResetBarStore();
        LocalHistory history(barStore, {});
        const bool opened = history.open(file);
        state.ResumeTiming();
        if (!opened || history.fill(all) != kCommodityCount * kPeriodCount) {
            state.SkipWithError("the fill failed");
            break;
        }
    }
    std::filesystem::remove_all(file.parent_path());
}
BENCHMARK(BM_StartupFill)->Unit(benchmark::kMillisecond);

} // namespace
