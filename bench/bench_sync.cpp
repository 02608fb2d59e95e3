// The full synchronisation of 52 series against the reference data server on loopback: with
// latency injected into every reply, against a server that accepts and then says nothing,
// and against one that refuses connections.

#include "analysis/AnalysisParams.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/live/ServerSync.h"
#include "net/HttpClient.h"
#include "platform/MessageSink.h"
#include "services/DataServer.h"
#include "tests/support/RecordingMessageSink.h"

#include <benchmark/benchmark.h>
#if VELMORA_BENCH_BLACK_HOLE
#include "tests/net/support/RawHttpServer.h"
#endif
#include <filesystem>

using namespace velmora;

namespace {

struct ServerRun {
    explicit ServerRun(benchmark::State& state)
    {
        services::DataServerOptions options;
        options.testRoutes = true;
        server = std::make_unique<services::DataServer>(options);
        std::string error;
        if (!server->start(&error))
            state.SkipWithError(error.c_str());
        previous = std::filesystem::current_path();
        std::filesystem::current_path(std::filesystem::temp_directory_path());
    }
    ~ServerRun()
    {
        std::filesystem::current_path(previous);
        server->stop();
    }
    std::unique_ptr<services::DataServer> server;
    std::filesystem::path previous;
};

// Arg: milliseconds of latency per reply.
void BM_SyncAllFromServer(benchmark::State& state)
{
    ServerRun run(state);
    services::Fault latency;
    latency.delay = std::chrono::milliseconds(state.range(0));
    latency.times = 0;
    run.server->injectFault(latency);
    Endpoints endpoints;
    endpoints.dataServer.port = run.server->port();
    CHttpClient client(endpoints, std::filesystem::temp_directory_path());
    Catalogue catalogue;
    InitCatalogue(catalogue);
    BarStore barStore;
    RecordingMessageSink messages;
    for (auto _ : state) {
        const SyncFailures failures = SyncAllFromServer(&client, catalogue, barStore,
                                                        AnalysisParams{}.historyCount, messages);
        if (!failures.empty())
            state.SkipWithError("requests failed");
    }
    state.counters["requests"] = 52;
}
BENCHMARK(BM_SyncAllFromServer)->Arg(50)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

// A server that accepts every connection and never answers: each commodity's first request
// waits for the stall limit (1 s here, 20 s in the program), all of them at the same time.
void BM_SyncAgainstASilentServer(benchmark::State& state)
{
    ServerRun run(state);
    services::Fault silence;
    silence.delay = std::chrono::seconds(60);
    silence.times = 0;
    run.server->injectFault(silence);
    Endpoints endpoints;
    endpoints.dataServer.port = run.server->port();
    CHttpClient client(endpoints, std::filesystem::temp_directory_path());
    client.setStallTimeout(std::chrono::seconds(1));
    Catalogue catalogue;
    InitCatalogue(catalogue);
    BarStore barStore;
    RecordingMessageSink messages;
    for (auto _ : state) {
        if (SyncAllFromServer(&client, catalogue, barStore, AnalysisParams{}.historyCount, messages)
                .size() != kCommodityCount)
            state.SkipWithError("expected every commodity to fail");
    }
}
BENCHMARK(BM_SyncAgainstASilentServer)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SyncAgainstARefusingServer(benchmark::State& state)
{
    Endpoints endpoints;
    endpoints.dataServer.port = 1; // nothing listens on a privileged port here
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    {
        CHttpClient client(endpoints, std::filesystem::temp_directory_path());
        Catalogue catalogue;
        InitCatalogue(catalogue);
        BarStore barStore;
        RecordingMessageSink messages;
        for (auto _ : state) {
            if (SyncAllFromServer(&client, catalogue, barStore, AnalysisParams{}.historyCount,
                                  messages)
                    .size() != kCommodityCount)
                state.SkipWithError("expected every commodity to fail");
        }
    }
    std::filesystem::current_path(previous);
}
BENCHMARK(BM_SyncAgainstARefusingServer)->Unit(benchmark::kMillisecond)->Iterations(3);

#if VELMORA_BENCH_BLACK_HOLE
// A server whose connection attempts go unanswered: every commodity's first request waits for
// the connect time-out (1 s here, 15 s in the program), all of them at the same time.
void BM_SyncAgainstABlackHole(benchmark::State& state)
{
    test::StalledListener blackHole;
    Endpoints endpoints;
    endpoints.dataServer.port = blackHole.port();
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    {
        CHttpClient client(endpoints, std::filesystem::temp_directory_path());
        client.setTimeouts(std::chrono::seconds(1), std::chrono::seconds(120));
        Catalogue catalogue;
        InitCatalogue(catalogue);
        BarStore barStore;
        RecordingMessageSink messages;
        for (auto _ : state) {
            if (SyncAllFromServer(&client, catalogue, barStore, AnalysisParams{}.historyCount,
                                  messages)
                    .size() != kCommodityCount)
                state.SkipWithError("expected every commodity to fail");
        }
    }
    std::filesystem::current_path(previous);
}
BENCHMARK(BM_SyncAgainstABlackHole)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

} // namespace
