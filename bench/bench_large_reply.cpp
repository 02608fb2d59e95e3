// The largest reply the client accepts (64 MiB after decoding), fetched and stored as a
// series: the resident memory it costs on top of what the process held before. A child
// process serves it, so that only the client's copies count.

#include "market/BarStore.h"
#include "market/SeriesReply.h"
#include "net/HttpClient.h"

#include <benchmark/benchmark.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmora;

namespace {

constexpr std::string_view kRecord =
    "2026-11-30 10:00:00,1.10000,1.10010,1.10020,1.09990,120;<br/>";

long StatusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::string_view(field).size()));
    }
    return -1;
}

// Serves `body` to every connection until killed.
void Serve(int listener, std::size_t bodySize)
{
    std::string body = "xyz";
    while (body.size() + kRecord.size() <= bodySize)
        body += kRecord;
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0)
            continue;
        char buffer[4096];
        (void)::recv(client, buffer, sizeof buffer, 0);
        for (std::string_view rest : {std::string_view(head), std::string_view(body)}) {
            while (!rest.empty()) {
                const ssize_t sent = ::send(client, rest.data(), rest.size(), MSG_NOSIGNAL);
                if (sent <= 0)
                    break;
                rest.remove_prefix(static_cast<std::size_t>(sent));
            }
        }
        ::close(client);
    }
}

void BM_LargestReplyPeakMemory(benchmark::State& state)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        state.SkipWithError("cannot listen");
        return;
    }
    const std::size_t bodySize = CHttpClient::kMaxBodyBytes;
    const pid_t child = ::fork();
    if (child == 0) {
        Serve(listener, bodySize);
        _exit(0);
    }
    ::close(listener);

    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::temp_directory_path());
    Endpoints endpoints;
    endpoints.dataServer.port = ntohs(address.sin_port);
    long peakKiB = 0;
    {
        CHttpClient client(endpoints, std::filesystem::temp_directory_path());
        auto series = std::make_unique<BarSeries>();
        for (auto _ : state) {
            // Reset the high-water mark to what is resident now.
            std::ofstream("/proc/self/clear_refs") << "5";
            const long before = StatusKiB("VmRSS:");
            std::promise<HttpReply> done;
            client.startBars("&code=EURUSD",
                             [&done](HttpReply&& r) { done.set_value(std::move(r)); });
            HttpReply reply = done.get_future().get();
            if (!reply.ok()) {
                state.SkipWithError("transfer failed");
                break;
            }
            StoreSeriesReply(reply.body.view(), *series);
            reply = HttpReply();
            peakKiB = StatusKiB("VmHWM:") - before;
        }
    }
    std::filesystem::current_path(previous);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    state.counters["body_MiB"] = static_cast<double>(bodySize) / (1 << 20);
    state.counters["peak_extra_MiB"] = static_cast<double>(peakKiB) / 1024;
}
BENCHMARK(BM_LargestReplyPeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace
