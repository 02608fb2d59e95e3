#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace velmora::services {

struct Account {
    std::string name;
    std::string passwordHash; // argon2id, in libsodium's string form
    std::string alias;
    std::string mail;
    std::string telphone;
    std::string type;
    bool active = false;
    std::string created;   // "YYYY-MM-DD HH:MM:SS" UTC
    std::string activated; // the same, empty while inactive
};

// Wrong passwords counted against one key: `kind` names the rule ("pair": an account together
// with a client address, "address": a client address across accounts, "account" and
// "account-repeat": an account across addresses), `name` the account (folded to lower case)
// and `address` the client address, each empty where the rule has none. Times are seconds
// since 1970 (UTC).
struct LoginFailures {
    std::string kind;
    std::string name;
    std::string address;
    int failures = 0;
    std::int64_t until = 0; // no password is looked at for this key before then
    std::int64_t last = 0;  // the latest failure or refused attempt
    int attempts = 0;       // failures and refused attempts together
};

// How much work a password hash costs. Interactive is the only one for real accounts; the
// minimum exists so that tests do not spend seconds per login.
enum class HashCost { Interactive, Minimum };

// Argon2id in libsodium's self-describing string; empty when the hash could not be made.
std::string HashPassword(const std::string& password, HashCost cost);
bool VerifyPassword(const std::string& hash, const std::string& password);

// The accounts of the website, in an SQLite file. All texts are UTF-8. Thread-safe.
class AccountStore {
public:
    enum class Added { Ok, NameTaken, Failed };

    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Opens or creates the file (owner-only) and its table; null with the reason in `*error`.
    static std::unique_ptr<AccountStore> open(const std::filesystem::path& file,
                                              std::string* error);

    Added add(const Account& account);
    std::optional<Account> find(const std::string& name);
    // False when there is no such account.
    bool activate(const std::string& name);
    bool updateDetails(const std::string& name, const std::string& alias, const std::string& mail,
                       const std::string& telphone);
    std::vector<Account> all();

    // Kept in the database (a count without failures and attempts goes), so that the operator's
    // commands see and clear what a running server counts, and a restart forgets nothing.
    std::optional<LoginFailures> loginFailures(const std::string& kind, const std::string& name,
                                               const std::string& address);
    bool putLoginFailures(const LoginFailures& failures);
    std::vector<LoginFailures> allLoginFailures();
    // Drops the counts of an account name or a client address, all when `nameOrAddress` is
    // empty, and those quiet since `quietSince` (0: none for that reason). How many went.
    int clearLoginFailures(const std::string& nameOrAddress, std::int64_t quietSince = 0);

private:
    explicit AccountStore(sqlite3* db) : m_db(db) {}
    bool execute(const char* sql, const std::vector<std::string>& values, int& changes);

    std::mutex m_mutex;
    sqlite3* m_db;
};

// $XDG_DATA_HOME/velmora/NAME, else ~/.local/share/velmora/NAME; empty without a home.
std::filesystem::path DefaultDataFile(const std::string& name);

} // namespace velmora::services
