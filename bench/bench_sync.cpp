// The full synchronisation of 52 series against the reference data server on loopback, with
// 50 ms of latency injected into every request.

#include "market/Catalogue.h"
#include "market/live/ServerSync.h"
#include "net/HttpClient.h"
#include "platform/MessageSink.h"
#include "services/DataServer.h"

#include <benchmark/benchmark.h>
#include <filesystem>

using namespace velmora;

namespace {

void BM_SyncAllFromServer(benchmark::State& state)
{
    services::DataServerOptions options;
    options.testRoutes = true;
    services::DataServer server(options);
    std::string error;
    if (!server.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    services::Fault latency;
    latency.delay = std::chrono::milliseconds(state.range(0));
    latency.times = 0;
    server.injectFault(latency);

    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    Endpoints endpoints;
    endpoints.dataServer.port = server.port();
    auto* client = new CHttpClient(endpoints);
    InitCatalogue();
    RecordingMessageSink messages;
    for (auto _ : state) {
        const SyncFailures failures = SyncAllFromServer(messages);
        if (!failures.empty())
            state.SkipWithError("requests failed");
    }
    state.counters["requests"] = 52;
    delete client;
    std::filesystem::current_path(previous);
    server.stop();
}
BENCHMARK(BM_SyncAllFromServer)->Arg(50)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace
