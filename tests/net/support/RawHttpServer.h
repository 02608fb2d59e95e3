#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace velmora::test {

// A minimal HTTP listener on an ephemeral loopback port that keeps every request exactly as
// it arrived (request line, header lines in order, body), which a real server library parses
// away. Answers each request with the current canned response and closes the connection.
class RawHttpServer {
public:
    RawHttpServer();
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    int port() const { return m_port; }

    // The bytes sent for every following request.
    void setResponse(std::string response);
    // A complete response: status line, Content-Length, `headers` (each line ending in CRLF),
    // "Connection: close", then the body.
    static std::string Response(int status, std::string_view body, std::string_view headers = {});

    // Every request so far, head and body as raw bytes.
    std::vector<std::string> requests() const;

private:
    void serve();
    void handle(int client);

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::string m_response;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

// A loopback port whose accept queue is full, so that a connection attempt neither succeeds
// nor is refused: it waits until the client gives up.
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    int port() const { return m_port; }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
};

// The parts of a request as RawHttpServer keeps it.
std::string RequestLine(const std::string& request);
std::string RequestBody(const std::string& request);

// A loopback port on which nothing listens.
int UnusedPort();

// Sends `request` as it is to the loopback port and answers everything received until the
// server closes the connection (at most 5 seconds).
std::string Exchange(int port, const std::string& request);

} // namespace velmora::test
