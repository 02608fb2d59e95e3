#include "services/GuardedServer.h"

#include "platform/AsciiText.h"
#include "platform/Failure.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

// What this server takes from the library's protected part (see GuardedServer.h) was checked
// against this version; check it again before building with another.
static_assert(std::string_view(CPPHTTPLIB_VERSION) == "0.11.4",
              "GuardedServer relies on protected members of cpp-httplib 0.11.4");

namespace velmora::services {

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting connection looks whether the server is stopping.
constexpr std::chrono::milliseconds kStopCheck{100};

void AddressOf(socket_t sock, bool peer, std::string& ip, int& port)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    const int got = peer ? ::getpeername(sock, raw, &length) : ::getsockname(sock, raw, &length);
    char host[NI_MAXHOST] = "";
    char service[NI_MAXSERV] = "";
    if (got != 0 || ::getnameinfo(raw, length, host, sizeof host, service, sizeof service,
                                  NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        ip.clear();
        port = 0;
        return;
    }
    ip = host;
    port = std::atoi(service);
}

// True when `events` are ready; false once `until` has passed or the server is stopping.
bool WaitFor(socket_t sock, short events, Clock::time_point until, const GuardedServer& server)
{
    for (;;) {
        if (server.stopping())
            return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{sock, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::min(left, kStopCheck).count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

// Runs one non-blocking TLS call to its end: waits for the socket whenever the session
// wants it, until `until`. The call's result, or -1 when the time ran out or it failed.
template <typename Call>
int TlsCall(SSL* tls, socket_t sock, Clock::time_point until, const GuardedServer& server,
            Call call)
{
    for (;;) {
        const int result = call();
        if (result > 0)
            return result;
        const int reason = SSL_get_error(tls, result);
        if (reason == SSL_ERROR_ZERO_RETURN)
            return 0;
        if ((reason != SSL_ERROR_WANT_READ && reason != SSL_ERROR_WANT_WRITE) ||
            !WaitFor(sock, reason == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, until, server))
            return -1;
    }
}

// Bytes of a connection read ahead of the request that takes them (its head is read whole
// before the library sees it; what follows stays for the body or the next request).
struct ReadAhead {
    std::string bytes;
    std::size_t taken = 0;

    std::size_t left() const { return bytes.size() - taken; }
    std::string_view view() const { return std::string_view(bytes).substr(taken); }
    std::size_t take(char* ptr, std::size_t size)
    {
        const std::size_t n = std::min(size, left());
        std::memcpy(ptr, bytes.data() + taken, n);
        taken += n;
        if (taken == bytes.size()) {
            bytes.clear();
            taken = 0;
        }
        return n;
    }
};

// Reads and writes of one connection, plain or through its TLS session, each bounded in time
// and the request's reads together by the request's deadline.
class DeadlineStream final : public httplib::Stream {
public:
    DeadlineStream(socket_t sock, SSL* tls, const GuardedServer& server,
                   Clock::time_point readDeadline, std::chrono::milliseconds perRead,
                   ReadAhead& ahead)
        : m_sock(sock), m_tls(tls), m_server(server), m_readDeadline(readDeadline),
          m_perRead(perRead), m_ahead(ahead)
    {
    }

    bool is_readable() const override
    {
        return m_ahead.left() > 0 || (m_tls && SSL_pending(m_tls) > 0) || wait(POLLIN, readUntil());
    }
    bool is_writable() const override { return wait(POLLOUT, Clock::now() + m_perRead); }

    ssize_t read(char* ptr, std::size_t size) override
    {
        if (m_ahead.left() > 0)
            return static_cast<ssize_t>(m_ahead.take(ptr, size));
        return readSocket(ptr, size, readUntil());
    }

    // Appends what arrives next, before `until` at the latest, to the bytes read ahead.
    bool readAhead(Clock::time_point until)
    {
        char buffer[4096];
        const ssize_t n = readSocket(buffer, sizeof buffer, std::min(until, readUntil()));
        if (n <= 0)
            return false;
        m_ahead.bytes.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    ssize_t readSocket(char* ptr, std::size_t size, Clock::time_point until)
    {
        if (m_tls) {
            const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
            return TlsCall(m_tls, m_sock, until, m_server,
                           [&] { return SSL_read(m_tls, ptr, chunk); });
        }
        if (!wait(POLLIN, until))
            return -1;
        ssize_t n = 0;
        do
            n = ::recv(m_sock, ptr, size, 0);
        while (n < 0 && errno == EINTR);
        return n;
    }

    ssize_t write(const char* ptr, std::size_t size) override
    {
        if (m_tls) {
            const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
            return TlsCall(m_tls, m_sock, Clock::now() + m_perRead, m_server,
                           [&] { return SSL_write(m_tls, ptr, chunk); });
        }
        if (!wait(POLLOUT, Clock::now() + m_perRead))
            return -1;
        ssize_t n = 0;
        do
            n = ::send(m_sock, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override
    {
        AddressOf(m_sock, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override
    {
        AddressOf(m_sock, false, ip, port);
    }
    socket_t socket() const override { return m_sock; }

private:
    Clock::time_point readUntil() const
    {
        return std::min(m_readDeadline, Clock::now() + m_perRead);
    }

    bool wait(short events, Clock::time_point until) const
    {
        return WaitFor(m_sock, events, until, m_server);
    }

private:
    socket_t m_sock;
    SSL* m_tls;
    const GuardedServer& m_server;
    Clock::time_point m_readDeadline;
    std::chrono::milliseconds m_perRead;
    ReadAhead& m_ahead;
};

// What is wrong with a request head (request line and headers, up to the blank line), as an
// HTTP status; 0 when the library may read the request.
int HeadProblem(std::string_view head, const ConnectionLimits& limits)
{
    std::size_t lines = 0;
    std::size_t start = head.find('\n');
    if (start == std::string_view::npos || start + 1 > limits.maxRequestLine)
        return 414;
    ++start;
    while (start < head.size()) {
        std::size_t end = head.find('\n', start);
        if (end == std::string_view::npos)
            end = head.size();
        std::string_view line = head.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break;
        if (++lines > limits.maxHeaderLines)
            return 431;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return 400;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        const std::string_view name = line.substr(0, colon);
        // The program never sends a body in pieces; a length must be known before reading.
        if (SameAsciiName(name, "Transfer-Encoding"))
            return limits.maxBody == 0 ? 413 : 411;
        if (SameAsciiName(name, "Content-Length")) {
            std::size_t length = 0;
            const auto [end2, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            if (error != std::errc() || end2 != value.data() + value.size())
                return 400;
            if (length > limits.maxBody)
                return 413;
        }
    }
    return 0;
}

std::string_view ReasonOf(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Service Unavailable";
    }
}

// The answer to a request refused before the library read it, in one write; the connection
// closes after it.
std::string Refusal(int status)
{
    const std::string text = std::to_string(status) + " " + std::string(ReasonOf(status));
    return "HTTP/1.1 " + text +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(text.size() + 1) +
           "\r\nConnection: close\r\n\r\n" + text + "\n";
}

enum class Head { Ready, Gone, Refused };

// Reads the head of the next request ahead, within the head's own time, and checks it.
Head ReadHead(DeadlineStream& stream, ReadAhead& ahead, const ConnectionLimits& limits,
              Clock::time_point until, int& status)
{
    for (;;) {
        const std::string_view bytes = ahead.view();
        std::size_t end = bytes.find("\r\n\r\n");
        std::size_t blank = 4;
        if (const std::size_t bare = bytes.find("\n\n");
            bare != std::string_view::npos && bare < end) {
            end = bare;
            blank = 2;
        }
        if (end != std::string_view::npos) {
            status = end + blank > limits.maxHead
                         ? 431
                         : HeadProblem(bytes.substr(0, end + blank), limits);
            return status == 0 ? Head::Ready : Head::Refused;
        }
        const std::size_t firstLine = bytes.find('\n');
        if (firstLine == std::string_view::npos && bytes.size() > limits.maxRequestLine) {
            status = 414;
            return Head::Refused;
        }
        if (bytes.size() > limits.maxHead) {
            status = 431;
            return Head::Refused;
        }
        if (!stream.readAhead(until))
            return Head::Gone;
    }
}

} // namespace

GuardedServer::~GuardedServer() { stopServing(); }

bool GuardedServer::useTls(const std::filesystem::path& certFile,
                           const std::filesystem::path& keyFile, std::string* error)
{
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_server_method()),
                                                         &SSL_CTX_free);
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate_chain_file(context.get(), certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
        ERR_clear_error();
        return Fail(error, "cannot use the certificate " + certFile.string() + " and key " +
                               keyFile.string());
    }
    SSL_CTX_set_mode(context.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // The session writes with write(2), which raises SIGPIPE on a connection the client has
    // closed; the server takes that as a failed write instead.
    std::signal(SIGPIPE, SIG_IGN);
    m_tls = std::move(context);
    return true;
}

bool GuardedServer::startServing(const std::string& host, int port, std::string* error)
{
    m_port = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    if (m_port <= 0)
        return Fail(error, "cannot listen on " + host + " port " + std::to_string(port));
    m_listener = svr_sock_;
    // The library listens with a queue of 5 connections; SYNs beyond it are dropped and the
    // client retries only a second later. Listening again widens the queue.
    (void)::listen(m_listener, SOMAXCONN);
    m_thread = std::thread([this] { acceptLoop(m_listener); });
    return true;
}

void GuardedServer::stopServing()
{
    if (!m_thread.joinable())
        return;
    {
        // Under the lock, so that a connection waiting for a place sees it.
        const std::lock_guard lock(m_mutex);
        svr_sock_ = INVALID_SOCKET;
    }
    m_released.notify_all();
    ::shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    ::close(m_listener);
    m_listener = INVALID_SOCKET;
    std::unique_lock lock(m_mutex);
    m_released.wait(lock, [this] { return m_open == 0; });
}

std::size_t GuardedServer::openConnections()
{
    const std::lock_guard lock(m_mutex);
    return m_open;
}

void GuardedServer::acceptLoop(socket_t listener)
{
    while (!stopping()) {
        pollfd entry{listener, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(kStopCheck.count())) <= 0)
            continue;
        const socket_t sock = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (sock < 0) {
            // Out of descriptors or memory: give the open connections time to end.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        std::string address;
        int peerPort = 0;
        AddressOf(sock, true, address, peerPort);
        if (!admit(address)) {
            ::close(sock);
            continue;
        }
        // Header and body go out in separate writes; without this each answer on a reused
        // connection waits for the client's delayed acknowledgement.
        const int on = 1;
        (void)::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        try {
            std::thread([this, sock, address] {
                serveConnection(sock);
                release(address);
            }).detach();
        } catch (const std::system_error&) {
            ::close(sock);
            release(address);
        }
    }
}

bool GuardedServer::admit(const std::string& address)
{
    std::unique_lock lock(m_mutex);
    if (m_limits.perAddress != 0) {
        const auto found = m_perAddress.find(address);
        if (found != m_perAddress.end() && found->second >= m_limits.perAddress)
            return false;
    }
    if (m_limits.total != 0 && !m_released.wait_for(lock, m_limits.admitWait, [this] {
            return m_open < m_limits.total || stopping();
        }))
        return false;
    if (stopping())
        return false;
    ++m_open;
    ++m_perAddress[address];
    return true;
}

void GuardedServer::release(const std::string& address)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_perAddress.find(address);
    if (found != m_perAddress.end() && --found->second == 0)
        m_perAddress.erase(found);
    --m_open;
    // Under the lock: stopServing may destroy the server as soon as it sees none open.
    m_released.notify_all();
}

std::string GuardedServer::url(const std::string& host) const
{
    const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
    return (m_tls ? "https://" : "http://") + shown + ":" + std::to_string(m_port);
}

bool GuardedServer::serveRequests(socket_t sock, SSL* tls)
{
    const auto perRead = m_limits.perRead;
    const auto keepAlive = std::chrono::seconds(keep_alive_timeout_sec_);
    ReadAhead ahead;
    bool served = false;
    bool closed = false;
    for (std::size_t left = std::max<std::size_t>(keep_alive_max_count_, 1); left > 0 && !closed;
         --left) {
        // The first request comes at once; later ones may keep the client waiting idle.
        const auto idle =
            served ? std::chrono::milliseconds(keepAlive) : std::min(perRead, m_limits.headTime);
        if (ahead.left() == 0 && !(tls && SSL_pending(tls) > 0) &&
            !WaitFor(sock, POLLIN, Clock::now() + idle, *this))
            break;
        const auto start = Clock::now();
        DeadlineStream stream(sock, tls, *this, start + m_limits.requestTime, perRead, ahead);
        int status = 0;
        const Head head = ReadHead(stream, ahead, m_limits, start + m_limits.headTime, status);
        if (head == Head::Refused) {
            const std::string answer = Refusal(status);
            (void)stream.write(answer.data(), answer.size());
        }
        if (head != Head::Ready || !process_request(stream, left == 1, closed, nullptr))
            break;
        served = true;
    }
    return served;
}

void GuardedServer::serveConnection(socket_t sock)
{
    if (!m_tls) {
        serveRequests(sock, nullptr);
    } else if (std::unique_ptr<SSL, void (*)(SSL*)> tls(SSL_new(m_tls.get()), &SSL_free);
               tls && SSL_set_fd(tls.get(), sock) == 1 &&
               ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK) == 0) {
        // The handshake counts against the time a request may take to arrive.
        const auto until = Clock::now() + m_limits.requestTime;
        if (TlsCall(tls.get(), sock, until, *this, [&] { return SSL_accept(tls.get()); }) == 1) {
            serveRequests(sock, tls.get());
            SSL_shutdown(tls.get());
        }
        ERR_clear_error();
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
}

} // namespace velmora::services
