#include "services/GuardedServer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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

// Reads and writes of one connection, plain or through its TLS session, each bounded in time
// and the request's reads together by the request's deadline.
class DeadlineStream final : public httplib::Stream {
public:
    DeadlineStream(socket_t sock, SSL* tls, const GuardedServer& server,
                   Clock::time_point readDeadline, std::chrono::milliseconds perRead)
        : m_sock(sock), m_tls(tls), m_server(server), m_readDeadline(readDeadline),
          m_perRead(perRead)
    {
    }

    bool is_readable() const override
    {
        return (m_tls && SSL_pending(m_tls) > 0) || wait(POLLIN, readUntil());
    }
    bool is_writable() const override { return wait(POLLOUT, Clock::now() + m_perRead); }

    ssize_t read(char* ptr, std::size_t size) override
    {
        if (m_tls) {
            const int chunk = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
            return TlsCall(m_tls, m_sock, readUntil(), m_server,
                           [&] { return SSL_read(m_tls, ptr, chunk); });
        }
        if (!wait(POLLIN, readUntil()))
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
};

} // namespace

GuardedServer::~GuardedServer() { stopServing(); }

bool GuardedServer::useTls(const std::filesystem::path& certFile,
                           const std::filesystem::path& keyFile, std::string& error)
{
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_server_method()),
                                                         &SSL_CTX_free);
    if (!context || SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate_chain_file(context.get(), certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context.get()) != 1) {
        ERR_clear_error();
        error = "cannot use the certificate " + certFile.string() + " and key " + keyFile.string();
        return false;
    }
    SSL_CTX_set_mode(context.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // The session writes with write(2), which raises SIGPIPE on a connection the client has
    // closed; the server takes that as a failed write instead.
    std::signal(SIGPIPE, SIG_IGN);
    m_tls = std::move(context);
    return true;
}

bool GuardedServer::startServing(const std::string& host, int port, std::string& error)
{
    m_port = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    if (m_port <= 0) {
        error = "cannot listen on " + host + " port " + std::to_string(port);
        return false;
    }
    m_listenEnded = false;
    m_thread = std::thread([this] {
        listen_after_bind();
        m_listenEnded = true;
    });
    // The library's stop() does nothing until the accept loop runs, so wait for it.
    while (!is_running() && !m_listenEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (m_listenEnded) {
        m_thread.join();
        error = "the server on " + host + " port " + std::to_string(m_port) + " stopped at once";
        return false;
    }
    return true;
}

void GuardedServer::stopServing()
{
    if (!m_thread.joinable())
        return;
    stop();
    m_thread.join();
}

std::string GuardedServer::url(const std::string& host) const
{
    const std::string shown = host.find(':') == std::string::npos ? host : "[" + host + "]";
    return (m_tls ? "https://" : "http://") + shown + ":" + std::to_string(m_port);
}

bool GuardedServer::takeSlot(const std::string& address)
{
    if (m_limits.perAddress == 0)
        return true;
    const std::lock_guard lock(m_mutex);
    std::size_t& count = m_perAddress[address];
    if (count >= m_limits.perAddress)
        return false;
    ++count;
    return true;
}

void GuardedServer::releaseSlot(const std::string& address)
{
    if (m_limits.perAddress == 0)
        return;
    const std::lock_guard lock(m_mutex);
    const auto found = m_perAddress.find(address);
    if (found != m_perAddress.end() && --found->second == 0)
        m_perAddress.erase(found);
}

bool GuardedServer::serveRequests(socket_t sock, SSL* tls)
{
    const auto perRead = m_limits.perRead;
    const auto keepAlive = std::chrono::seconds(keep_alive_timeout_sec_);
    bool served = false;
    bool closed = false;
    for (std::size_t left = std::max<std::size_t>(keep_alive_max_count_, 1); left > 0 && !closed;
         --left) {
        // The first request comes at once; later ones may keep the client waiting idle.
        const auto idle = served ? std::chrono::milliseconds(keepAlive) : perRead;
        if (!(tls && SSL_pending(tls) > 0) && !WaitFor(sock, POLLIN, Clock::now() + idle, *this))
            break;
        DeadlineStream stream(sock, tls, *this, Clock::now() + m_limits.requestTime, perRead);
        if (!process_request(stream, left == 1, closed, nullptr))
            break;
        served = true;
    }
    return served;
}

bool GuardedServer::process_and_close_socket(socket_t sock)
{
    std::string address;
    int port = 0;
    AddressOf(sock, true, address, port);
    bool served = false;
    if (takeSlot(address)) {
        if (!m_tls) {
            served = serveRequests(sock, nullptr);
        } else if (std::unique_ptr<SSL, void (*)(SSL*)> tls(SSL_new(m_tls.get()), &SSL_free);
                   tls && SSL_set_fd(tls.get(), sock) == 1 &&
                   ::fcntl(sock, F_SETFL, ::fcntl(sock, F_GETFL) | O_NONBLOCK) == 0) {
            // The handshake counts against the time a request may take to arrive.
            const auto until = Clock::now() + m_limits.requestTime;
            if (TlsCall(tls.get(), sock, until, *this, [&] { return SSL_accept(tls.get()); }) ==
                1) {
                served = serveRequests(sock, tls.get());
                SSL_shutdown(tls.get());
            }
            ERR_clear_error();
        }
        releaseSlot(address);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
}

} // namespace velmora::services
