#pragma once

#include "services/AccountStore.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace velmora::services {

// Decides whether a password is looked at, from the wrong passwords before it. A wait belongs
// to whoever failed, never to the account alone:
// - an account together with a client address: 3 failures free, then a wait of 1 second
//   doubling with each further failure up to 5 minutes;
// - a client address across all accounts: 10 free, then the same up to 5 minutes;
// - an account for addresses that have made fewer than 5 attempts on it (refused ones
//   included): 10 free, then up to 20 seconds, so that the rightful user at a new address is
//   looked at within half a minute of the last such failure;
// - an account for addresses past that: 3 free, then up to 5 minutes.
// An attempt counts as a failure from the moment it is let through until its password is found
// right, so that simultaneous guesses see each other. Counts quiet for a day start over.
// Names are keyed in lower case, as accounts are matched.
class LoginGuard {
public:
    explicit LoginGuard(AccountStore& store) : m_store(store) {}

    struct Attempt {
        std::int64_t wait = 0; // seconds still to wait; 0: let through
        std::string name;
        std::string address;
        LoginFailures charged[3];
    };

    Attempt admit(const std::string& name, const std::string& address, std::int64_t now);
    // After the password of a let-through attempt was checked.
    void settle(const Attempt& attempt, bool fitted);

private:
    std::mutex m_mutex;
    AccountStore& m_store;
    std::uint64_t m_admitted = 0;
};

// The key form of an account name: ASCII letters in lower case.
std::string FoldName(const std::string& name);

} // namespace velmora::services
