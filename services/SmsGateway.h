#pragma once

#include "net/Endpoints.h"
#include "services/GuardedServer.h"

#include <filesystem>
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
};

// A stand-in for the SMS gateway that delivers nothing: each accepted message goes into the
// outbox file, one line of time (UTC), phones and text, for an operator or a test to read.
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

    bool start(std::string& error);
    void stop();
    int port() const { return m_port; }
    std::string url() const;

private:
    // The reason the message is refused, empty when it went into the outbox.
    std::string accept(const std::string& phones, const std::string& content);
    std::string outboxPage();

    SmsGatewayOptions m_options;
    std::unique_ptr<GuardedServer> m_server;
    int m_port = 0;
    std::mutex m_outboxMutex;
};

} // namespace velmora::services
