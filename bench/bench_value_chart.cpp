// The value chart at the largest grid it draws: 249 rows, a window of 99 bars. One pass of
// the computation, and the drawing of its result on the chart's whole page.

#include "analysis/DrawListPainter.h"
#include "analysis/ValueChart.h"
#include "analysis/ValueChartDrawing.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
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

// The inputs of the largest chart, and a state after one pass over them.
struct LargestChart {
    LargestChart()
    {
        InitCatalogue(catalogue);
        catalogue[12].yunit[kDay] = "1";
        FillWideSeries(barStore.Series(12, kDay));
        params.tpoBars[kDay] = 99;
        drawn = RunValueChartPass(request(), "", *state, memo).outcome == ChartOutcome::Drawn &&
                state->layout.rows == 249;
    }

    ValueChartRequest request() const
    {
        return {12, kDay, &catalogue[12], &barStore.Series(12, kDay), &params};
    }

    Catalogue catalogue;
    BarStore barStore;
    AnalysisParams params;
    std::unique_ptr<ValueChartState> state = std::make_unique<ValueChartState>();
    YUnitOverride memo;
    bool drawn = false;
};

void BM_ValueChartPassLargestGrid(benchmark::State& state)
{
    LargestChart chart;
    if (!chart.drawn) {
        state.SkipWithError("the benchmark chart is not at the largest grid");
        return;
    }
    const ValueChartRequest request = chart.request();
    for (auto _ : state) {
        ValueChartPass pass = RunValueChartPass(request, "", *chart.state, chart.memo);
        benchmark::DoNotOptimize(pass);
    }
    state.counters["rows"] = chart.state->layout.rows;
    state.counters["marks"] = chart.state->layout.upCount + chart.state->layout.downCount;
}
BENCHMARK(BM_ValueChartPassLargestGrid)->Unit(benchmark::kMicrosecond);

// Fonts need a GUI application; a benchmark run has no display.
void EnsureGuiApplication()
{
    if (QGuiApplication::instance() != nullptr)
        return;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "velmora-bench";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
}

// The drawing list of a computed chart, painted on an image: with a first argument of 0 the
// chart's whole page, else a view of that height scrolled to the middle of the page; the
// second is the pixel ratio in hundredths.
void BM_ValueChartDrawAndPaintLargestGrid(benchmark::State& state)
{
    EnsureGuiApplication();
    LargestChart chart;
    if (!chart.drawn) {
        state.SkipWithError("the benchmark chart is not at the largest grid");
        return;
    }
    const int screenWidth = 1280;
    const DrawList probe = DrawValueChart(chart.state->layout, chart.state->grid, screenWidth);
    const int viewHeight =
        state.range(0) > 0 ? static_cast<int>(state.range(0)) : probe.page->height;
    const int scroll = (probe.page->height - viewHeight) / 2;
    // The second argument is the screen's pixel ratio in hundredths.
    const qreal ratio = static_cast<qreal>(state.range(1)) / 100.0;
    QImage image((QSizeF(probe.page->width, viewHeight) * ratio).toSize(), QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    for (auto _ : state) {
        const DrawList list = DrawValueChart(chart.state->layout, chart.state->grid, screenWidth);
        QPainter painter(&image);
        painter.translate(0, -scroll);
        // What a view's paint exposes: its viewport, moved by the scroll position.
        PaintDrawList(painter, list, QRect(0, scroll, probe.page->width, viewHeight));
    }
    state.counters["ops"] = static_cast<double>(probe.ops.size());
    state.counters["pixels"] = static_cast<double>(image.width()) * image.height();
}
BENCHMARK(BM_ValueChartDrawAndPaintLargestGrid)
    ->Args({0, 100})
    ->Args({900, 100})
    ->Args({900, 200})
    ->Unit(benchmark::kMicrosecond);

} // namespace
