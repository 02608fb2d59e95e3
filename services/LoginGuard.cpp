#include "services/LoginGuard.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <string_view>

namespace velmora::services {

namespace {

struct Rule {
    std::string_view kind;
    int free;
    std::int64_t longest;
};

constexpr Rule kPair{"pair", 3, 300};
constexpr Rule kAddress{"address", 10, 300};
constexpr Rule kAccountNew{"account", 10, 20};
constexpr Rule kAccountRepeat{"account-repeat", 3, 300};
constexpr std::int64_t kForgetAfter = 86400;
// Attempts (refused ones too) after which an address counts as guessing at an account.
constexpr int kNewAttempts = 5;

std::int64_t WaitOf(const LoginFailures& entry, std::int64_t now)
{
    return std::max<std::int64_t>(entry.until - now, 0);
}

void Charge(LoginFailures& entry, const Rule& rule, std::int64_t now)
{
    if (now - entry.last > kForgetAfter)
        entry.failures = entry.attempts = 0;
    ++entry.failures;
    ++entry.attempts;
    entry.last = now;
    if (entry.failures > rule.free) {
        const int doublings = std::min(entry.failures - rule.free - 1, 30);
        entry.until = now + std::min<std::int64_t>(std::int64_t{1} << doublings, rule.longest);
    }
}

} // namespace

std::string FoldName(const std::string& name) { return AsciiLowered(name); }

LoginGuard::Attempt LoginGuard::admit(const std::string& name, const std::string& address,
                                      std::int64_t now)
{
    Attempt attempt;
    attempt.name = FoldName(name);
    attempt.address = address;
    const std::lock_guard lock(m_mutex);
    if (++m_admitted % 1000 == 0)
        m_store.clearLoginFailures({}, now - kForgetAfter);
    auto load = [&](const Rule& rule, const std::string& key, const std::string& from) {
        LoginFailures entry = m_store.loginFailures(std::string(rule.kind), key, from)
                                  .value_or(LoginFailures{std::string(rule.kind), key, from});
        if (now - entry.last > kForgetAfter)
            entry.failures = entry.attempts = 0;
        return entry;
    };
    LoginFailures pair = load(kPair, attempt.name, address);
    const Rule& accountRule = pair.attempts < kNewAttempts ? kAccountNew : kAccountRepeat;
    LoginFailures addressWide = load(kAddress, "", address);
    LoginFailures accountWide = load(accountRule, attempt.name, "");
    attempt.wait =
        std::max({WaitOf(pair, now), WaitOf(addressWide, now), WaitOf(accountWide, now)});
    if (attempt.wait > 0) {
        // Refused attempts tell an address that keeps trying from a user who has just come;
        // past that point they need not be written.
        if (pair.attempts < kNewAttempts) {
            ++pair.attempts;
            pair.last = now;
            m_store.putLoginFailures(pair);
        }
        return attempt;
    }
    const Rule* rules[] = {&kPair, &kAddress, &accountRule};
    LoginFailures* entries[] = {&pair, &addressWide, &accountWide};
    for (int i = 0; i < 3; ++i) {
        Charge(*entries[i], *rules[i], now);
        m_store.putLoginFailures(*entries[i]);
        attempt.charged[i] = *entries[i];
    }
    return attempt;
}

void LoginGuard::settle(const Attempt& attempt, bool fitted)
{
    if (!fitted || attempt.wait > 0)
        return;
    const std::lock_guard lock(m_mutex);
    // The pair starts over; the wider counts only lose this attempt's failure.
    LoginFailures pair = attempt.charged[0];
    pair.failures = pair.attempts = 0;
    m_store.putLoginFailures(pair);
    for (int i = 1; i < 3; ++i) {
        const LoginFailures& charged = attempt.charged[i];
        std::optional<LoginFailures> entry =
            m_store.loginFailures(charged.kind, charged.name, charged.address);
        if (!entry)
            continue;
        --entry->failures;
        --entry->attempts;
        // No failure came in between: the wait it set goes too.
        if (entry->failures + 1 == charged.failures && entry->last == charged.last)
            entry->until = std::min(entry->until, charged.last);
        m_store.putLoginFailures(*entry);
    }
}

} // namespace velmora::services
