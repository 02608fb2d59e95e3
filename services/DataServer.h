#pragma once

#include "net/Endpoints.h"
#include "services/ConnectionLimits.h"
#include "services/FaultInjector.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace velmora::services {

class GuardedServer;
class MarketSource;

struct DataServerOptions {
    std::string host = "127.0.0.1";
    int port = 0; // 0: any free port
    // A folder of MT4 history files to serve; empty: the simulated market.
    std::filesystem::path historyDir;
    std::uint64_t seed = 20260101;
    int historyDays = 3100; // simulated history before the start: 100 months and more
    // The pair a client must send as user= and pwd=.
    std::string account = Endpoints{}.dataAccount;
    std::string token = Endpoints{}.dataToken;
    // The fault control page and the pages that exercise a client (see DataServer).
    bool testRoutes = false;
    // HTTPS with this PEM certificate (chain) and key when both are given.
    std::filesystem::path certFile;
    std::filesystem::path keyFile;
    // Seconds since 1970 UTC; the system clock when empty. Quotes, the simulated market and a
    // series query without datetime= go by it.
    std::function<std::int64_t()> clock;
    // A client's synchronisation opens a connection per commodity at once, so the cap per
    // address is wider than the website's; a request carries no body.
    ConnectionLimits limits{.perAddress = 64, .maxBody = 0};
};

// The reference data server: the quote page and the series query on "/testone.php", from the
// simulated market or from MT4 history files. Serves on a pool of background threads from
// start() until stop() or destruction.
//
// Pages:
//   /testone.php?user=U&pwd=P              the quote page
//   /testone.php?user=U&pwd=P&code=C&linetype=half|day|week|month
//               &datetime=YYYY-MM-DD%20HH:MM:SS&count=N
//                                          up to N (default 100, at most 5000) bars of C
//                                          not after datetime (default now), newest first
// A wrong user/pwd pair gets 403 and an error text; a malformed query 400, an unknown code
// 404. Bar and quote times are in the server's local time zone, as clients send datetime.
// Pages are gzip-compressed for clients that accept it.
//
// With testRoutes, every answer passes through the fault injector first (see Fault), and:
//   /_fault?delay_ms=&status=&body=&truncate=&close_after=&slow_bytes_per_s=&times=
//                          sets the fault for the next `times` requests (0: until cleared);
//                          without parameters it clears the fault
//   /_redirect/N           redirects to /_redirect/N-1; /_redirect/0 answers 200
//   /_redirect_to?url=U    redirects to U, whatever its scheme
//   /_status/N             answers status N
//   /_cookie/set?K=V...    sets each cookie K=V (path /); /_cookie/echo answers the Cookie
//                          line it received
//   /_bytes?n=N[&gzip=1]   N bytes of 'x'; with gzip=1 they are sent gzip-encoded whatever
//                          the client accepts
class DataServer {
public:
    explicit DataServer(DataServerOptions options);
    ~DataServer();
    DataServer(const DataServer&) = delete;
    DataServer& operator=(const DataServer&) = delete;

    // Loads the market, binds and starts serving. False with the reason in `*error`.
    bool start(std::string* error);
    // Stops accepting, breaks off slow answers and waits for the serving threads.
    void stop();

    // The bound port, valid after a successful start.
    int port() const { return m_port; }
    // "http://HOST:PORT" or "https://HOST:PORT".
    std::string url() const;

    // The same as the control page, for tests in the same process.
    void injectFault(const Fault& fault) { m_faults.set(fault); }
    void clearFault() { m_faults.clear(); }

private:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    void addRoutes();
    // A handler whose answers first pass through the fault injector.
    Handler withFaults(Handler handler);
    void applyFault(const Fault& fault, httplib::Response& response);
    // Answers false when the server is stopping.
    bool sleepUnlessStopping(std::chrono::milliseconds duration);
    std::int64_t now() const;

    void serveDataPage(const httplib::Request& request, httplib::Response& response);

    DataServerOptions m_options;
    std::unique_ptr<MarketSource> m_market;
    std::unique_ptr<GuardedServer> m_server;
    int m_port = 0;
    FaultInjector m_faults;

    std::mutex m_stopMutex;
    std::condition_variable m_stopSignal;
    bool m_stopping = false;
};

} // namespace velmora::services
