#include "services/DataServer.h"

#include "market/Catalogue.h"
#include "platform/ExactNumber.h"
#include "platform/Failure.h"
#include "services/GuardedServer.h"
#include "services/MarketSource.h"
#include "services/WireFormat.h"

#include <algorithm>
#include <chrono>
#include <httplib.h>
#include <optional>
#include <zlib.h>

namespace velmora::services {

namespace {

constexpr std::string_view kPageType = "text/html; charset=GBK";
constexpr std::size_t kDefaultCount = 100;
constexpr std::size_t kMaxCount = 5000;
constexpr std::size_t kMaxTestBytes = std::size_t{1} << 30;

void Answer(httplib::Response& response, int status, std::string body)
{
    response.status = status;
    response.set_content(std::move(body), std::string(kPageType));
}

std::optional<Period> PeriodOfLineType(const std::string& lineType)
{
    for (Period p = 0; p < kPeriodCount; ++p) {
        if (PeriodLineType(p) == lineType)
            return p;
    }
    return std::nullopt;
}

// `size` bytes of 'x', gzip-encoded: a few kilobytes that stand for many megabytes, which is
// what a decompression bomb looks like to a client.
std::string GzipOfRepeatedByte(std::size_t size)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return {};
    const std::string block(std::size_t{1} << 16, 'x');
    std::string out;
    char buffer[1 << 14];
    std::size_t left = size;
    int flush = Z_NO_FLUSH;
    do {
        const std::size_t piece = std::min(left, block.size());
        left -= piece;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
        stream.avail_in = static_cast<uInt>(piece);
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&stream);
    return out;
}

} // namespace

DataServer::DataServer(DataServerOptions options) : m_options(std::move(options)) {}

DataServer::~DataServer() { stop(); }

std::int64_t DataServer::now() const
{
    if (m_options.clock)
        return m_options.clock();
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string DataServer::url() const
{
    const bool tls = !m_options.certFile.empty() && !m_options.keyFile.empty();
    const std::string host =
        m_options.host.find(':') == std::string::npos ? m_options.host : "[" + m_options.host + "]";
    return std::string(tls ? "https://" : "http://") + host + ":" + std::to_string(m_port);
}

bool DataServer::start(std::string* error)
{
    if (m_server)
        return Fail(error, "the server is already running");
    if (!m_options.historyDir.empty()) {
        m_market = MarketSource::fromHistory(m_options.historyDir, error);
        if (!m_market)
            return false;
    } else {
        const std::int64_t days = std::max(m_options.historyDays, 1);
        m_market = MarketSource::simulated(m_options.seed, now() - days * 86400);
        // Plays the history now rather than in the first client's request.
        (void)m_market->quotes(now());
    }

    auto guarded = std::make_unique<GuardedServer>(m_options.limits);
    if (!m_options.certFile.empty() && !m_options.keyFile.empty() &&
        !guarded->useTls(m_options.certFile, m_options.keyFile, error))
        return false;
    m_server = std::move(guarded);
    // Short, so that stop() never waits long for an idle connection.
    m_server->set_keep_alive_timeout(1);
    addRoutes();

    {
        const std::lock_guard lock(m_stopMutex);
        m_stopping = false;
    }
    if (!m_server->startServing(m_options.host, m_options.port, error)) {
        m_server.reset();
        return false;
    }
    m_port = m_server->boundPort();
    return true;
}

void DataServer::stop()
{
    if (!m_server)
        return;
    {
        const std::lock_guard lock(m_stopMutex);
        m_stopping = true;
    }
    m_stopSignal.notify_all();
    m_server->stopServing();
    m_server.reset();
}

bool DataServer::sleepUnlessStopping(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_stopMutex);
    return !m_stopSignal.wait_for(lock, duration, [this] { return m_stopping; });
}

void DataServer::applyFault(const Fault& fault, httplib::Response& response)
{
    if (fault.status != 0)
        response.status = fault.status;
    if (fault.body)
        response.set_content(*fault.body, std::string(kPageType));
    if (fault.truncate && *fault.truncate < response.body.size())
        response.body.resize(*fault.truncate);
    if (!fault.closeAfter && fault.bytesPerSecond == 0)
        return;

    // A content provider with a length goes out uncompressed, exactly as dripped or cut.
    auto body = std::make_shared<std::string>(std::move(response.body));
    response.body.clear();
    const std::string type = response.get_header_value("Content-Type");
    response.headers.erase("Content-Type");
    const std::size_t limit = std::min(fault.closeAfter.value_or(body->size()), body->size());
    const std::size_t rate = fault.bytesPerSecond;
    response.set_content_provider(
        body->size(), type,
        [this, body, limit, rate](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset >= limit)
                return false; // breaks the connection off mid-body
            std::size_t piece = std::min(length, limit - offset);
            if (rate != 0) {
                piece = std::min(piece, std::max<std::size_t>(rate / 10, 1));
                const auto pause = std::chrono::milliseconds(piece * 1000 / rate);
                if (!sleepUnlessStopping(pause))
                    return false;
            }
            return sink.write(body->data() + offset, piece);
        });
}

DataServer::Handler DataServer::withFaults(Handler handler)
{
    if (!m_options.testRoutes)
        return handler;
    return [this, handler](const httplib::Request& request, httplib::Response& response) {
        const std::optional<Fault> fault = m_faults.take(request.get_param_value("code"));
        if (fault && fault->delay.count() > 0 && !sleepUnlessStopping(fault->delay)) {
            Answer(response, 503, "stopping\n");
            return;
        }
        handler(request, response);
        if (fault)
            applyFault(*fault, response);
    };
}

void DataServer::serveDataPage(const httplib::Request& request, httplib::Response& response)
{
    if (request.get_param_value("user") != m_options.account ||
        request.get_param_value("pwd") != m_options.token) {
        Answer(response, 403, "ERROR: invalid user or pwd\n");
        return;
    }
    const std::int64_t current = now();
    if (!request.has_param("code")) {
        const std::vector<Quote> quotes = m_market->quotes(current);
        Answer(response, 200, FormatQuotePage(quotes));
        return;
    }

    const std::string code = request.get_param_value("code");
    const std::optional<Period> period = PeriodOfLineType(request.get_param_value("linetype"));
    if (!period) {
        Answer(response, 400, "ERROR: linetype must be half, day, week or month\n");
        return;
    }
    std::int64_t end = current;
    if (request.has_param("datetime")) {
        const std::optional<std::int64_t> parsed =
            ParseLocalTime(request.get_param_value("datetime"));
        if (!parsed) {
            Answer(response, 400, "ERROR: datetime must read YYYY-MM-DD HH:MM:SS\n");
            return;
        }
        end = *parsed;
    }
    std::size_t count = kDefaultCount;
    if (request.has_param("count")) {
        const std::optional<std::size_t> parsed =
            ParseExactNumber<std::size_t>(request.get_param_value("count"));
        if (!parsed) {
            Answer(response, 400, "ERROR: count must be a number\n");
            return;
        }
        count = std::min(*parsed, kMaxCount);
    }

    const std::optional<std::vector<hst::Bar>> bars =
        m_market->series(code, *period, end, count, current);
    if (!bars) {
        Answer(response, 404, "ERROR: unknown code\n");
        return;
    }
    Answer(response, 200, FormatSeriesPage(*bars, m_market->digits(FindCommodity(code))));
}

void DataServer::addRoutes()
{
    httplib::Server& server = *m_server;
    // httplib closes an HTTP/1.0 connection unless the request asked for "Keep-Alive" in
    // exactly that spelling, yet answers with a keep-alive header and an HTTP/1.1 status line;
    // a client that believes it then sends its next request into a closed socket.
    server.set_post_routing_handler([](const httplib::Request& request,
                                       httplib::Response& response) {
        if (request.version == "HTTP/1.0" && request.get_header_value("Connection") != "Keep-Alive")
            response.set_header("Connection", "close");
    });
    server.Get("/testone\\.php", withFaults([this](const auto& request, auto& response) {
                   serveDataPage(request, response);
               }));
    if (!m_options.testRoutes)
        return;

    server.Get("/_fault", [this](const httplib::Request& request, httplib::Response& response) {
        if (request.params.empty()) {
            m_faults.clear();
            Answer(response, 200, "cleared\n");
            return;
        }
        std::string error;
        const std::optional<Fault> fault = ParseFault(
            [&request](std::string_view name) -> std::optional<std::string> {
                const std::string key(name);
                if (!request.has_param(key))
                    return std::nullopt;
                return request.get_param_value(key);
            },
            &error);
        if (!fault) {
            Answer(response, 400, error + "\n");
            return;
        }
        m_faults.set(*fault);
        Answer(response, 200, "set\n");
    });

    server.Get("/_redirect/(\\d+)", withFaults([](const auto& request, auto& response) {
                   const std::optional<std::size_t> n =
                       ParseExactNumber<std::size_t>(request.matches[1].str());
                   if (!n || *n == 0)
                       Answer(response, 200, "redirected\n");
                   else
                       response.set_redirect("/_redirect/" + std::to_string(*n - 1));
               }));
    server.Get("/_redirect_to", withFaults([](const auto& request, auto& response) {
                   response.set_redirect(request.get_param_value("url"));
               }));
    server.Get("/_status/(\\d+)", withFaults([](const auto& request, auto& response) {
                   const std::optional<std::size_t> n =
                       ParseExactNumber<std::size_t>(request.matches[1].str());
                   const int status = n && *n >= 100 && *n <= 599 ? static_cast<int>(*n) : 400;
                   Answer(response, status, "status " + std::to_string(status) + "\n");
               }));
    server.Get("/_cookie/set", withFaults([](const auto& request, auto& response) {
                   for (const auto& [name, value] : request.params)
                       response.headers.emplace("Set-Cookie", name + "=" + value + "; Path=/");
                   Answer(response, 200, "set\n");
               }));
    server.Get("/_cookie/echo", withFaults([](const auto& request, auto& response) {
                   Answer(response, 200, request.get_header_value("Cookie"));
               }));
    server.Get("/_bytes", withFaults([](const auto& request, auto& response) {
                   const std::optional<std::size_t> n =
                       ParseExactNumber<std::size_t>(request.get_param_value("n"));
                   if (!n || *n > kMaxTestBytes) {
                       Answer(response, 400, "n must be a number up to 2^30\n");
                       return;
                   }
                   if (request.get_param_value("gzip") != "1") {
                       Answer(response, 200, std::string(*n, 'x'));
                       return;
                   }
                   auto encoded = std::make_shared<std::string>(GzipOfRepeatedByte(*n));
                   response.set_header("Content-Encoding", "gzip");
                   response.set_content_provider(
                       encoded->size(), "application/octet-stream",
                       [encoded](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                           return sink.write(encoded->data() + offset, length);
                       });
               }));
}

} // namespace velmora::services
