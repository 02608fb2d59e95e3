// velmora-server: the reference data server on loopback, for demonstrations, tests and any
// deployment that needs one.

#include "market/TextNumbers.h"
#include "net/Endpoints.h"
#include "platform/PosixFile.h"
#include "platform/SettingsStore.h"
#include "services/DataServer.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <pthread.h>
#include <string>
#include <string_view>
#include <vector>

namespace {

int usage()
{
    std::fputs("usage: velmora-server [--host ADDR] [--port N] [--hst DIR] [--seed N]\n"
               "                      [--history-days N] [--config FILE]\n"
               "                      [--cert PEM --key PEM] [--test-routes]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    using velmora::services::DataServer;
    using velmora::services::DataServerOptions;

    DataServerOptions options;
    std::string configFile;
    int port = -1; // the configured data-server port unless given
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--test-routes") {
            options.testRoutes = true;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const std::string_view value = argv[++i];
        if (option == "--host")
            options.host = value;
        else if (option == "--port" && velmora::ParseExactNumber(value, port) && port >= 0 &&
                 port <= 65535)
            continue;
        else if (option == "--hst")
            options.historyDir = value;
        else if (option == "--seed" && velmora::ParseExactNumber(value, options.seed))
            continue;
        else if (option == "--history-days" &&
                 velmora::ParseExactNumber(value, options.historyDays) && options.historyDays > 0 &&
                 options.historyDays <= 20000)
            continue;
        else if (option == "--config")
            configFile = value;
        else if (option == "--cert")
            options.certFile = value;
        else if (option == "--key")
            options.keyFile = value;
        else
            return usage();
    }
    if (options.certFile.empty() != options.keyFile.empty())
        return usage();

    // A configuration named on the command line must be the one used: falling back to the
    // built-in account would let in clients this server was not set up for.
    if (!configFile.empty()) {
        const velmora::ReadableFile config = velmora::OpenForReading(configFile);
        std::string reason = config.ok() ? "" : config.reason();
        if (config.ok() && !velmora::SettingsStore(configFile).ReadAll())
            reason = "not a settings file";
        if (!reason.empty()) {
            std::fprintf(stderr, "velmora-server: %s: cannot be used (%s)\n", configFile.c_str(),
                         reason.c_str());
            return 1;
        }
    }
    std::vector<std::string> problems;
    const velmora::Endpoints endpoints = velmora::LoadEndpoints(
        configFile.empty() ? velmora::DefaultEndpointsPath() : std::filesystem::path(configFile),
        &problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "velmora-server: %s\n", problem.c_str());
    options.account = endpoints.dataAccount;
    options.token = endpoints.dataToken;
    options.port = port >= 0 ? port : endpoints.dataServer.port;

    // The serving threads inherit this mask, so the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DataServer server(options);
    std::string error;
    if (!server.start(error)) {
        std::fprintf(stderr, "velmora-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on %s\n", server.url().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    std::fprintf(stderr, "velmora-server: stopped by signal %d\n", signal);
    return 0;
}
