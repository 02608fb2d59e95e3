#pragma once

#include "net/Endpoints.h"
#include "services/AccountStore.h"
#include "services/GuardedServer.h"

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
    // Seconds on a monotonic clock, for the refusal windows after wrong passwords; the
    // steady clock when empty.
    std::function<std::int64_t()> clock;
};

// Counts wrong passwords per key (an account, a client address) and answers how long a key
// must still wait before its next attempt is looked at. Thread-safe.
class LoginThrottle {
public:
    // `free`: wrong passwords allowed before the first wait; each one after that doubles the
    // wait, from 1 second up to `longest`.
    LoginThrottle(int free, std::int64_t longest) : m_free(free), m_longest(longest) {}

    std::int64_t waitFor(const std::string& key, std::int64_t now);
    void failed(const std::string& key, std::int64_t now);
    void succeeded(const std::string& key);

private:
    struct Entry {
        int failures = 0;
        std::int64_t until = 0;
        std::int64_t last = 0;
    };
    int m_free;
    std::int64_t m_longest;
    std::mutex m_mutex;
    std::map<std::string, Entry> m_entries;
};

// The website's account pages that the program posts its forms to:
//   POST /weborbalt/register.asp?action=add     username password alias mail telphone
//   POST /weborbalt/register.asp?action=mod     the same; changes alias, mail and telphone
//   POST /weborbalt/chklogin.asp?getcode=CODE   username password
//   POST /weborbalt/logout.asp                  ends the session of the cookie; empty answer
// Form values are GBK, as the program sends them; answers are GBK too. New accounts are
// inactive until an operator activates them (velmora-server accounts activate NAME).
class AccountServer {
public:
    explicit AccountServer(AccountServerOptions options);
    ~AccountServer();
    AccountServer(const AccountServer&) = delete;
    AccountServer& operator=(const AccountServer&) = delete;

    bool start(std::string& error);
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

    Reply registerAccount(const Form& form);
    Reply modifyAccount(const Form& form, const std::string& address);
    Reply login(const Form& form, const std::string& address);
    std::string logout(const std::string& cookie);
    // Nullopt while the account or the address must wait; otherwise whether the password fits
    // (a missing account never does, at the same cost).
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

    LoginThrottle m_perAccount{3, 300};
    LoginThrottle m_perAddress{10, 300};
    // Each interactive hash takes 64 MiB: a burst of logins must not take all the memory.
    std::counting_semaphore<4> m_hashing{4};

    std::mutex m_sessionMutex;
    std::map<std::string, std::pair<std::string, std::int64_t>> m_sessions; // id: name, expiry
};

// application/x-www-form-urlencoded: '&'-separated pairs, "+" a space, %XX a byte.
AccountServer::Form DecodeForm(std::string_view text);

} // namespace velmora::services
