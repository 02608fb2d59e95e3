#pragma once

#include "net/Endpoints.h"
#include "services/AccountStore.h"
#include "services/GuardedServer.h"
#include "services/LoginGuard.h"
#include "services/RateLimit.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>

namespace velmora::services {

struct AccountServerOptions {
    std::string host = "127.0.0.1";
    int port = 0; // 0: any free port
    std::filesystem::path db;
    // The published update and the help pages the website serves beside its account pages.
    std::filesystem::path publishDir;
    std::filesystem::path helpDir;
    // The code a login request must carry after "getcode=".
    std::string accessCode = Endpoints{}.accountAccessCode;
    HashCost hashCost = HashCost::Interactive;
    ConnectionLimits limits{.requestTime = std::chrono::seconds(10), .perAddress = 8};
    // Seconds since 1970 (UTC), for the waits after wrong passwords and the registration limit;
    // the system clock when empty.
    std::function<std::int64_t()> clock;
    // Registrations one client address may make within `registrationWindow` seconds.
    std::size_t registrations = 5;
    std::int64_t registrationWindow = 3600;
};

// The website's account pages that the program posts its forms to:
//   POST /weborbalt/register.asp?action=add     username password alias mail telphone
//   POST /weborbalt/register.asp?action=mod     the same; changes alias, mail and telphone
//   POST /weborbalt/chklogin.asp?getcode=CODE   username password
//   POST /weborbalt/logout.asp                  ends the session of the cookie; empty answer
// Form values are GBK, as the program sends them (malformed GBK is refused); answers are GBK
// too. Names are taken without leading and trailing blanks. New accounts are
// inactive until an operator activates them (velmora-server accounts activate NAME).
class AccountServer {
public:
    explicit AccountServer(AccountServerOptions options);
    ~AccountServer();
    AccountServer(const AccountServer&) = delete;
    AccountServer& operator=(const AccountServer&) = delete;

    bool start(std::string* error);
    void stop();
    int port() const { return m_port; }
    std::string url() const;

    using Form = std::multimap<std::string, std::string>;

private:
    struct Reply {
        int status = 200;
        std::string text; // UTF-8; sent as GBK
        std::string cookie;
    };

    Reply registerAccount(const Form& form, const std::string& address);
    Reply modifyAccount(const Form& form, const std::string& address);
    Reply login(const Form& form, const std::string& address);
    std::string logout(const std::string& cookie);
    // Nullopt while the attempt must wait (see LoginGuard); otherwise whether the password
    // fits (a missing account never does, at the same cost).
    std::optional<bool> checkPassword(const std::optional<Account>& account,
                                      const std::string& name, const std::string& password,
                                      const std::string& address, std::int64_t& wait);
    std::int64_t now() const;

    AccountServerOptions m_options;
    std::unique_ptr<AccountStore> m_store;
    std::unique_ptr<GuardedServer> m_server;
    std::thread m_thread;
    std::atomic<bool> m_listenEnded{false};
    int m_port = 0;
    std::string m_decoyHash;

    std::unique_ptr<LoginGuard> m_guard;
    std::unique_ptr<RateLimit> m_registrations;
    // Each interactive hash takes 64 MiB: a burst of logins must not take all the memory.
    std::counting_semaphore<4> m_hashing{4};

    std::mutex m_sessionMutex;
    std::map<std::string, std::pair<std::string, std::int64_t>> m_sessions; // id: name, expiry
};

// application/x-www-form-urlencoded: '&'-separated pairs, "+" a space, %XX a byte.
AccountServer::Form DecodeForm(std::string_view text);

} // namespace velmora::services
