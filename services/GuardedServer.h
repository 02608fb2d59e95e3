#pragma once

#include "services/ConnectionLimits.h"

#include <atomic>
#include <chrono>
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
// request (the TLS handshake included), caps the connections of one address, and ends every
// connection within a fraction of a second of stop(), whatever its client does.
class GuardedServer : public httplib::Server {
public:
    explicit GuardedServer(ConnectionLimits limits) : m_limits(limits) {}
    ~GuardedServer() override;

    // Serves HTTPS with a PEM certificate (chain) and its key, TLS 1.2 or later. Before
    // startServing; false with the reason in `error`.
    bool useTls(const std::filesystem::path& certFile, const std::filesystem::path& keyFile,
                std::string& error);

    // Binds (port 0: any free one) and serves on a background thread until stopServing().
    // False with the reason in `error`.
    bool startServing(const std::string& host, int port, std::string& error);
    void stopServing();
    // The bound port after a successful start.
    int boundPort() const { return m_port; }
    // "http://HOST:PORT", or "https://" with TLS.
    std::string url(const std::string& host) const;
    // From stop() on; the library's own running flag stays up until every connection ended.
    bool stopping() const { return svr_sock_ == INVALID_SOCKET; }

private:
    bool process_and_close_socket(socket_t sock) override;
    bool takeSlot(const std::string& address);
    void releaseSlot(const std::string& address);

    // Serves the requests of one connection, over its TLS session when `tls` is set.
    bool serveRequests(socket_t sock, SSL* tls);

    ConnectionLimits m_limits;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> m_tls{nullptr, &SSL_CTX_free};
    std::mutex m_mutex;
    std::map<std::string, std::size_t> m_perAddress;
    std::thread m_thread;
    std::atomic<bool> m_listenEnded{false};
    int m_port = 0;
};

} // namespace velmora::services
