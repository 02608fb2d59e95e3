// Importing all 52 series from a folder of MT4 history files.

#include "analysis/AnalysisParams.h"
#include "market/BarStore.h"
#include "market/Mt4Import.h"
#include "platform/MessageSink.h"
#include "simulator/MarketSimulator.h"
#include "simulator/SampleData.h"
#include "tests/support/RecordingMessageSink.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>

using namespace velmora;

namespace {

void BM_ImportAllFromMt4(benchmark::State& state)
{
    std::string dir = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    if (!WriteSampleHistory(dir, 7, *ParseUtcDate("2026-11-30"))) {
        state.SkipWithError("cannot write the sample history");
        return;
    }
    Catalogue catalogue;
    InitCatalogue(catalogue);
    BarStore barStore;
    const AnalysisParams analysisParams;
    RecordingMessageSink messages;
    for (auto _ : state) {
        const SyncFailures failures =
            ImportAllFromMt4(catalogue, barStore, dir, analysisParams.historyCount, messages);
        benchmark::DoNotOptimize(failures);
    }
    if (messages.messages.back() != "完成数据同步")
        state.SkipWithError("the import reported failures");
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ImportAllFromMt4)->Unit(benchmark::kMillisecond);

} // namespace
