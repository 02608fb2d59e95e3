#pragma once

#include "net/Endpoints.h"
#include "services/GuardedServer.h"
#include "services/RateLimit.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace velmora::services {

struct SmsGatewayOptions {
    std::string host = "127.0.0.1";
    int port = 0; // 0: any free port
    std::filesystem::path outbox;
    std::string userId = Endpoints{}.smsUserId;
    std::string account = Endpoints{}.smsAccount;
    std::string password = Endpoints{}.smsPassword;
    ConnectionLimits limits{.requestTime = std::chrono::seconds(10), .perAddress = 8};
    // Messages one client address may send, and one phone number may receive, within
    // `sendWindow` seconds.
    std::size_t sendsPerAddress = 10;
    std::size_t sendsPerPhone = 5;
    std::int64_t sendWindow = 600;
    // Requests with wrong credentials one client address may make within `sendWindow`;
    // beyond them every request of the address is refused unchecked.
    std::size_t wrongCredentials = 10;
    // The outbox's size; past it the older half is dropped.
    std::size_t maxOutbox = 4 * 1024 * 1024;
    // Seconds on a monotonic clock, for the limits above; the steady clock when empty.
    std::function<std::int64_t()> clock;
};

// A stand-in for the SMS gateway that delivers nothing: each accepted message goes into the
// outbox file (owner-only), one whole line of time (UTC), phones and text with every control
// character escaped, for an operator or a test to read. A message that cannot be stored whole
// is answered 500 and leaves no trace; a refused one 400, wrong credentials 403, one over the
// limits above 429.
//   GET /GateWay/Services.asmx/DirectSend?UserID=&Account=&Password=&Phones=&Content=
//       &SendTime=&SendType=&PostFixNumber=
//                  an accepted message is answered with "Sucess", anything else without it
//   GET /outbox    the newest messages as an HTML page
class SmsGateway {
public:
    explicit SmsGateway(SmsGatewayOptions options);
    ~SmsGateway();
    SmsGateway(const SmsGateway&) = delete;
    SmsGateway& operator=(const SmsGateway&) = delete;

    bool start(std::string* error);
    void stop();
    int port() const { return m_port; }
    std::string url() const;

private:
    // The reason the message is refused, empty when it went into the outbox; `status` the
    // answer's HTTP status.
    std::string accept(const std::string& phones, const std::string& content,
                       const std::string& address, int& status);
    // Appends the line whole, or leaves the file as it was.
    bool store(const std::string& line);
    std::string outboxPage();
    std::int64_t now() const;

    SmsGatewayOptions m_options;
    std::unique_ptr<GuardedServer> m_server;
    int m_port = 0;
    std::mutex m_outboxMutex;
    std::mutex m_limitMutex;
    RateLimit m_perAddress;
    RateLimit m_perPhone;
    RateLimit m_wrongCredentials;
};

} // namespace velmora::services
