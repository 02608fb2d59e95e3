#include "services/AccountStore.h"

#include "platform/Failure.h"
#include "services/UtcTime.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sodium.h>
#include <sqlite3.h>
#include <unistd.h>

namespace velmora::services {

namespace {

constexpr const char* kColumns =
    "name, password_hash, alias, mail, telphone, type, active, created, coalesce(activated, '')";

// Finalizes on every way out, so that no early return leaks a statement.
struct Statement {
    sqlite3_stmt* handle = nullptr;
    ~Statement() { sqlite3_finalize(handle); }
};

bool Prepare(sqlite3* db, const char* sql, const std::vector<std::string>& values,
             Statement& statement)
{
    if (sqlite3_prepare_v2(db, sql, -1, &statement.handle, nullptr) != SQLITE_OK)
        return false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (sqlite3_bind_text(statement.handle, static_cast<int>(i + 1), values[i].data(),
                              static_cast<int>(values[i].size()), SQLITE_TRANSIENT) != SQLITE_OK)
            return false;
    }
    return true;
}

std::string Column(sqlite3_stmt* statement, int column)
{
    const auto* text = sqlite3_column_text(statement, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
                : std::string();
}

Account ReadAccount(sqlite3_stmt* statement)
{
    Account account;
    account.name = Column(statement, 0);
    account.passwordHash = Column(statement, 1);
    account.alias = Column(statement, 2);
    account.mail = Column(statement, 3);
    account.telphone = Column(statement, 4);
    account.type = Column(statement, 5);
    account.active = sqlite3_column_int(statement, 6) != 0;
    account.created = Column(statement, 7);
    account.activated = Column(statement, 8);
    return account;
}

LoginFailures ReadFailures(sqlite3_stmt* statement)
{
    LoginFailures failures;
    failures.kind = Column(statement, 0);
    failures.name = Column(statement, 1);
    failures.address = Column(statement, 2);
    failures.failures = sqlite3_column_int(statement, 3);
    failures.until = sqlite3_column_int64(statement, 4);
    failures.last = sqlite3_column_int64(statement, 5);
    failures.attempts = sqlite3_column_int(statement, 6);
    return failures;
}

} // namespace

std::string HashPassword(const std::string& password, HashCost cost)
{
    if (sodium_init() < 0)
        return {};
    const bool interactive = cost == HashCost::Interactive;
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(
            hash, password.data(), password.size(),
            interactive ? crypto_pwhash_OPSLIMIT_INTERACTIVE : crypto_pwhash_OPSLIMIT_MIN,
            interactive ? crypto_pwhash_MEMLIMIT_INTERACTIVE : crypto_pwhash_MEMLIMIT_MIN) != 0)
        return {};
    return hash;
}

bool VerifyPassword(const std::string& hash, const std::string& password)
{
    if (sodium_init() < 0 || hash.empty())
        return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

std::filesystem::path DefaultDataFile(const std::string& name)
{
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::filesystem::path(data) / "velmora" / name;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".local" / "share" / "velmora" / name;
    return {};
}

AccountStore::~AccountStore() { sqlite3_close_v2(m_db); }

std::unique_ptr<AccountStore> AccountStore::open(const std::filesystem::path& file,
                                                 std::string* error)
{
    if (file.empty()) {
        Fail(error, "no account database given and no home directory");
        return nullptr;
    }
    std::error_code ignored;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ignored);
    // The file holds password hashes: nobody else may read it, from its first byte on.
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        Fail(error, file.string() + ": cannot be opened");
        return nullptr;
    }
    ::close(fd);

    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        Fail(error, file.string() + ": " + (db ? sqlite3_errmsg(db) : "cannot be opened"));
        sqlite3_close_v2(db);
        return nullptr;
    }
    std::unique_ptr<AccountStore> store(new AccountStore(db));
    // The admin commands write to the same file while a server runs.
    sqlite3_busy_timeout(db, 5000);
    // Every wrong password writes a count: a write-ahead log keeps that from costing a sync of
    // the whole file each time.
    sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", nullptr, nullptr,
                 nullptr);
    int changes = 0;
    if (!store->execute("CREATE TABLE IF NOT EXISTS accounts ("
                        " name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE,"
                        " password_hash TEXT NOT NULL,"
                        " alias TEXT NOT NULL, mail TEXT NOT NULL, telphone TEXT NOT NULL,"
                        " type TEXT NOT NULL DEFAULT '1',"
                        " active INTEGER NOT NULL DEFAULT 0,"
                        " created TEXT NOT NULL, activated TEXT)",
                        {}, changes)) {
        Fail(error, file.string() + ": " + sqlite3_errmsg(db));
        return nullptr;
    }
    if (!store->execute("CREATE TABLE IF NOT EXISTS login_failures ("
                        " kind TEXT NOT NULL, name TEXT NOT NULL, address TEXT NOT NULL,"
                        " failures INTEGER NOT NULL, until INTEGER NOT NULL,"
                        " last INTEGER NOT NULL, attempts INTEGER NOT NULL DEFAULT 0,"
                        " PRIMARY KEY (kind, name, address))",
                        {}, changes)) {
        Fail(error, file.string() + ": " + sqlite3_errmsg(db));
        return nullptr;
    }
    return store;
}

bool AccountStore::execute(const char* sql, const std::vector<std::string>& values, int& changes)
{
    const std::lock_guard lock(m_mutex);
    Statement statement;
    if (!Prepare(m_db, sql, values, statement) || sqlite3_step(statement.handle) != SQLITE_DONE)
        return false;
    changes = sqlite3_changes(m_db);
    return true;
}

AccountStore::Added AccountStore::add(const Account& account)
{
    const std::lock_guard lock(m_mutex);
    Statement statement;
    const std::string now = UtcNow();
    if (!Prepare(m_db,
                 "INSERT INTO accounts (name, password_hash, alias, mail, telphone, type, active,"
                 " created, activated) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                 {account.name, account.passwordHash, account.alias, account.mail, account.telphone,
                  account.type.empty() ? "1" : account.type, account.active ? "1" : "0", now},
                 statement))
        return Added::Failed;
    if (account.active)
        sqlite3_bind_text(statement.handle, 9, now.c_str(), -1, SQLITE_TRANSIENT);
    const int result = sqlite3_step(statement.handle);
    if (result == SQLITE_DONE)
        return Added::Ok;
    return sqlite3_extended_errcode(m_db) == SQLITE_CONSTRAINT_PRIMARYKEY ? Added::NameTaken
                                                                          : Added::Failed;
}

std::optional<Account> AccountStore::find(const std::string& name)
{
    const std::lock_guard lock(m_mutex);
    Statement statement;
    const std::string sql = std::string("SELECT ") + kColumns + " FROM accounts WHERE name = ?1";
    if (!Prepare(m_db, sql.c_str(), {name}, statement) ||
        sqlite3_step(statement.handle) != SQLITE_ROW)
        return std::nullopt;
    return ReadAccount(statement.handle);
}

bool AccountStore::activate(const std::string& name)
{
    int changes = 0;
    return execute("UPDATE accounts SET active = 1, activated = coalesce(activated, ?2)"
                   " WHERE name = ?1",
                   {name, UtcNow()}, changes) &&
           changes == 1;
}

bool AccountStore::updateDetails(const std::string& name, const std::string& alias,
                                 const std::string& mail, const std::string& telphone)
{
    int changes = 0;
    return execute("UPDATE accounts SET alias = ?2, mail = ?3, telphone = ?4 WHERE name = ?1",
                   {name, alias, mail, telphone}, changes) &&
           changes == 1;
}

std::vector<Account> AccountStore::all()
{
    const std::lock_guard lock(m_mutex);
    std::vector<Account> accounts;
    Statement statement;
    const std::string sql =
        std::string("SELECT ") + kColumns + " FROM accounts ORDER BY created, name";
    if (!Prepare(m_db, sql.c_str(), {}, statement))
        return accounts;
    while (sqlite3_step(statement.handle) == SQLITE_ROW)
        accounts.push_back(ReadAccount(statement.handle));
    return accounts;
}

std::optional<LoginFailures> AccountStore::loginFailures(const std::string& kind,
                                                         const std::string& name,
                                                         const std::string& address)
{
    const std::lock_guard lock(m_mutex);
    Statement statement;
    if (!Prepare(m_db,
                 "SELECT kind, name, address, failures, until, last, attempts FROM login_failures"
                 " WHERE kind = ?1 AND name = ?2 AND address = ?3",
                 {kind, name, address}, statement) ||
        sqlite3_step(statement.handle) != SQLITE_ROW)
        return std::nullopt;
    return ReadFailures(statement.handle);
}

bool AccountStore::putLoginFailures(const LoginFailures& failures)
{
    int changes = 0;
    if (failures.failures <= 0 && failures.attempts <= 0)
        return execute("DELETE FROM login_failures WHERE kind = ?1 AND name = ?2 AND address = ?3",
                       {failures.kind, failures.name, failures.address}, changes);
    return execute("INSERT OR REPLACE INTO login_failures VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                   {failures.kind, failures.name, failures.address,
                    std::to_string(failures.failures), std::to_string(failures.until),
                    std::to_string(failures.last), std::to_string(failures.attempts)},
                   changes);
}

std::vector<LoginFailures> AccountStore::allLoginFailures()
{
    const std::lock_guard lock(m_mutex);
    std::vector<LoginFailures> all;
    Statement statement;
    if (!Prepare(m_db,
                 "SELECT kind, name, address, failures, until, last, attempts FROM login_failures"
                 " ORDER BY name, address, kind",
                 {}, statement))
        return all;
    while (sqlite3_step(statement.handle) == SQLITE_ROW)
        all.push_back(ReadFailures(statement.handle));
    return all;
}

int AccountStore::clearLoginFailures(const std::string& nameOrAddress, std::int64_t quietSince)
{
    int changes = 0;
    if (quietSince > 0)
        return execute("DELETE FROM login_failures WHERE last < ?1", {std::to_string(quietSince)},
                       changes)
                   ? changes
                   : 0;
    if (nameOrAddress.empty())
        return execute("DELETE FROM login_failures", {}, changes) ? changes : 0;
    return execute("DELETE FROM login_failures WHERE name = lower(?1) OR address = ?1",
                   {nameOrAddress}, changes)
               ? changes
               : 0;
}

} // namespace velmora::services
