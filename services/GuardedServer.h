#pragma once

#include "services/ConnectionLimits.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace velmora::services {

// An HTTP server, plain or over TLS, that bounds how long a client may take to send its
// request (the TLS handshake included) and how large it may be, caps the connections of one
// address and of all as they arrive, serves each taken connection on a thread of its own, and
// ends every connection within a fraction of a second of stop(), whatever its client does.
//
// Routes, the payload limit and the keep-alive settings are set through the library's public
// interface and apply as usual; its listen(), timeouts, task queue and socket options are not
// used (ConnectionLimits stands for them). Accepting, TLS and reading are our own: the library
// has no public way to bound a whole request or to refuse a connection by its address. What
// we take from its protected part instead: process_request, which reads, routes and answers
// one request from our stream; the keep-alive members; and svr_sock_, the listening socket
// the library binds, whose reset to INVALID_SOCKET is also how its streamed answers learn
// that the server stops. GuardedServer.cpp pins the library version this was written for,
// and GuardedServerTest.TheLibrarysOwnPartStillWorks checks that the library still does its
// part.
class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(ConnectionLimits limits) : m_limits(limits) {}
    ~GuardedServer() override;

    // Serves HTTPS with a PEM certificate (chain) and its key, TLS 1.2 or later. Before
    // startServing; false with the reason in `*error`.
    bool useTls(const std::filesystem::path& certFile, const std::filesystem::path& keyFile,
                std::string* error);

    // Binds (port 0: any free one) and serves on a background thread until stopServing().
    // False with the reason in `*error`.
    bool startServing(const std::string& host, int port, std::string* error);
    void stopServing();
    // The bound port after a successful start.
    int boundPort() const { return m_port; }
    // "http://HOST:PORT", or "https://" with TLS.
    std::string url(const std::string& host) const;
    // From stopServing() on.
    bool stopping() const { return svr_sock_ == INVALID_SOCKET; }
    // Connections taken and not yet closed.
    std::size_t openConnections();

private:
    void acceptLoop(socket_t listener);
    // Whether the connection of `address` may be served; waits a little for a place when all
    // are taken.
    bool admit(const std::string& address);
    void release(const std::string& address);
    void serveConnection(socket_t sock);

    // Serves the requests of one connection, over its TLS session when `tls` is set.
    bool serveRequests(socket_t sock, SSL* tls);

    ConnectionLimits m_limits;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> m_tls{nullptr, &SSL_CTX_free};
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::map<std::string, std::size_t> m_perAddress;
    std::size_t m_open = 0;
    std::thread m_thread;
    socket_t m_listener = INVALID_SOCKET;
    int m_port = 0;
};

} // namespace velmora::services
