// One value chart pass at the largest grid the chart draws: 249 rows, a window of 99 bars.

#include "analysis/ValueChart.h"

#include <benchmark/benchmark.h>
#include <memory>

using namespace velmora;

namespace {

void FillWideSeries(BarSeries& series)
{
    // Bars that zigzag across the whole range so that every row holds many marks.
    for (int i = 0; i < kMaxBars; ++i) {
        BarRecord& bar = series.bars[i];
        const double base = 1000.0 + (i % 7) * 25.0;
        bar.low = base;
        bar.high = base + 60.0 + (i % 3) * 10;
        bar.open = base + 10;
        bar.close = (i % 2) ? base + 50 : base + 5;
        bar.time = "2026.11.30 10:30:00";
    }
    // Extremes 1000 and 1243.5 give bounds 997 and 1246: 249 rows of one unit.
    series.bars[400].high = 1243.5;
    series.count = kMaxBars;
    series.cursor = 450;
}

void BM_ValueChartPassLargestGrid(benchmark::State& state)
{
    InitCatalogue();
    catalogue[12].yunit[kDay] = "1";
    BarSeries& series = Series(12, kDay);
    FillWideSeries(series);
    AnalysisParams params;
    params.tpoBars[kDay] = 99;
    auto chart = std::make_unique<ValueChartState>();
    YUnitOverride memo;
    const ValueChartRequest request{12, kDay, &catalogue[12], &series, &params};
    const ValueChartPass check = RunValueChartPass(request, "", *chart, memo);
    if (check.outcome != ChartOutcome::Drawn || chart->layout.rows != 249) {
        state.SkipWithError("the benchmark chart is not at the largest grid");
        return;
    }
    for (auto _ : state) {
        ValueChartPass pass = RunValueChartPass(request, "", *chart, memo);
        benchmark::DoNotOptimize(pass);
    }
    state.counters["rows"] = chart->layout.rows;
    state.counters["marks"] = chart->layout.upCount + chart->layout.downCount;
}
BENCHMARK(BM_ValueChartPassLargestGrid)->Unit(benchmark::kMicrosecond);

} // namespace
