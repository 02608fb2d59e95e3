#pragma once

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

    // Opens or creates the file (owner-only) and its table; null with the reason in `error`.
    static std::unique_ptr<AccountStore> Open(const std::filesystem::path& file,
                                              std::string& error);

    Added add(const Account& account);
    std::optional<Account> find(const std::string& name);
    // False when there is no such account.
    bool activate(const std::string& name);
    bool updateDetails(const std::string& name, const std::string& alias, const std::string& mail,
                       const std::string& telphone);
    std::vector<Account> all();

private:
    explicit AccountStore(sqlite3* db) : m_db(db) {}
    bool execute(const char* sql, const std::vector<std::string>& values, int& changes);

    std::mutex m_mutex;
    sqlite3* m_db;
};

// $XDG_DATA_HOME/velmora/NAME, else ~/.local/share/velmora/NAME; empty without a home.
std::filesystem::path DefaultDataFile(const std::string& name);

} // namespace velmora::services
