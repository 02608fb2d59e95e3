#include "tests/net/support/RawHttpServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::test {

namespace {

int ListenOnLoopback(int backlog, int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on loopback");
    }
    port = ntohs(address.sin_port);
    return fd;
}

// Waits at most `ms` for the descriptor to become readable.
bool Readable(int fd, int ms)
{
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, ms) > 0;
}

std::size_t ContentLength(std::string_view head)
{
    std::size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string_view::npos) {
        at += 2;
        constexpr std::string_view kName = "content-length:";
        if (head.size() - at > kName.size() &&
            ::strncasecmp(head.data() + at, kName.data(), kName.size()) == 0)
            return std::stoul(std::string(head.substr(at + kName.size(), 20)));
    }
    return 0;
}

} // namespace

RawHttpServer::RawHttpServer() : m_response(Response(200, "ok"))
{
    m_listener = ListenOnLoopback(16, m_port);
    m_thread = std::thread([this] { serve(); });
}

RawHttpServer::~RawHttpServer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

void RawHttpServer::setResponse(std::string response)
{
    const std::lock_guard lock(m_mutex);
    m_response = std::move(response);
}

std::string RawHttpServer::Response(int status, std::string_view body, std::string_view headers)
{
    return "HTTP/1.1 " + std::to_string(status) +
           " Canned\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           std::string(headers) + "Connection: close\r\n\r\n" + std::string(body);
}

std::vector<std::string> RawHttpServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

void RawHttpServer::serve()
{
    while (!m_stop) {
        if (!Readable(m_listener, 20))
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        handle(client);
        ::close(client);
    }
}

void RawHttpServer::handle(int client)
{
    std::string request;
    std::size_t wanted = std::string::npos;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (request.size() < wanted && std::chrono::steady_clock::now() < deadline) {
        if (!Readable(client, 20)) {
            if (m_stop)
                return;
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, static_cast<std::size_t>(got));
        const std::size_t headEnd = request.find("\r\n\r\n");
        if (wanted == std::string::npos && headEnd != std::string::npos)
            wanted = headEnd + 4 + ContentLength(std::string_view(request).substr(0, headEnd));
    }

    std::string response;
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        response = m_response;
    }
    std::string_view rest = response;
    while (!rest.empty()) {
        const ssize_t sent = ::send(client, rest.data(), rest.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        rest.remove_prefix(static_cast<std::size_t>(sent));
    }
    ::shutdown(client, SHUT_WR);
}

StalledListener::StalledListener()
{
    m_listener = ListenOnLoopback(0, m_port);
    // Linux queues backlog + 1 connections; these take every place, so later SYNs are
    // dropped and the client keeps retrying until its connect time-out.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(m_port));
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            break;
        (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        m_fillers.push_back(fd);
        // Lets the handshake finish so the place is really taken; the last one never does.
        pollfd entry{fd, POLLOUT, 0};
        (void)::poll(&entry, 1, 50);
    }
}

StalledListener::~StalledListener()
{
    for (int fd : m_fillers)
        ::close(fd);
    ::close(m_listener);
}

int UnusedPort()
{
    int port = 0;
    ::close(ListenOnLoopback(1, port));
    return port;
}

std::string Exchange(int port, const std::string& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string response;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!Readable(fd, 20))
                continue;
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            response.append(buffer, static_cast<std::size_t>(got));
        }
    }
    if (fd >= 0)
        ::close(fd);
    return response;
}

std::string RequestLine(const std::string& request)
{
    return request.substr(0, request.find("\r\n"));
}

std::string RequestBody(const std::string& request)
{
    const std::size_t head = request.find("\r\n\r\n");
    return head == std::string::npos ? std::string() : request.substr(head + 4);
}

} // namespace velmora::test
