#include "market/store/HistoryDb.h"

#include "platform/LocalTime.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace velmora {

namespace {

constexpr int kBusyTimeoutMs = 5000;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS bars(
    code TEXT NOT NULL, period INTEGER NOT NULL, key INTEGER NOT NULL, time TEXT NOT NULL,
    open REAL NOT NULL, close REAL NOT NULL, high REAL NOT NULL, low REAL NOT NULL,
    volume INTEGER NOT NULL,
    PRIMARY KEY(code, period, key)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS series(
    code TEXT NOT NULL, period INTEGER NOT NULL, saved_at INTEGER NOT NULL,
    PRIMARY KEY(code, period)) WITHOUT ROWID;
)sql";

bool ReadNumber(std::string_view text, std::size_t at, std::size_t count, std::int64_t& value)
{
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool IsDamaged(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

std::string StampNow() { return LocalTimeText(std::time(nullptr), "%Y%m%d-%H%M%S"); }

// Resets a statement when it goes out of scope, so that it never holds a read lock.
struct Reset {
    sqlite3_stmt* statement;
    ~Reset()
    {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

} // namespace

std::optional<std::int64_t> BarTimeKey(std::string_view time)
{
    if (time.size() < 16)
        return std::nullopt;
    std::int64_t key = 0;
    if (!ReadNumber(time, 0, 4, key) || !ReadNumber(time, 5, 2, key) ||
        !ReadNumber(time, 8, 2, key) || !ReadNumber(time, 11, 2, key) ||
        !ReadNumber(time, 14, 2, key))
        return std::nullopt;
    std::int64_t seconds = 0;
    if (time.size() >= 19 && !ReadNumber(time, 17, 2, seconds))
        seconds = 0;
    return key * 100 + seconds;
}

fs::path HistoryDb::defaultPath()
{
    if (const char* named = std::getenv("VELMORA_HISTORY_DB"); named && *named)
        return named;
    const fs::path dir = UserDirectory("XDG_DATA_HOME", ".local/share");
    return dir.empty() ? fs::path() : dir / "history.db";
}

HistoryDb::~HistoryDb() { close(); }

void HistoryDb::close()
{
    for (sqlite3_stmt** statement :
         {&m_delete, &m_insert, &m_trim, &m_saved, &m_select, &m_savedAt, &m_count}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
}

bool HistoryDb::setError()
{
    m_error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
    return false;
}

bool HistoryDb::exec(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        return setError();
    return true;
}

sqlite3_stmt* HistoryDb::prepare(sqlite3_stmt*& slot, const char* sql)
{
    if (slot == nullptr &&
        sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &slot, nullptr) != SQLITE_OK) {
        setError();
        slot = nullptr;
    }
    return slot;
}

HistoryDb::OpenState HistoryDb::open(const fs::path& file)
{
    close();
    m_file = file;
    m_movedTo.clear();
    m_error.clear();
    if (file.empty()) {
        m_error = "no home folder";
        return OpenState::Failed;
    }
    return openFile(true);
}

HistoryDb::OpenState HistoryDb::openFile(bool mayMoveAside)
{
    if (!MakeDirectories(m_file.parent_path())) {
        m_error = "cannot make " + m_file.parent_path().string();
        return OpenState::Failed;
    }
    // Made here, owner-only, so that SQLite's journal files take the same mode.
    const int fd = ::open(m_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_error = "cannot open " + m_file.string();
        return OpenState::Failed;
    }
    ::close(fd);

    if (sqlite3_open_v2(m_file.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        setError();
        close();
        return OpenState::Failed;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);

    int version = 0;
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(m_db, "PRAGMA user_version", -1, &statement, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW)
            version = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_OK) {
        const bool damaged = IsDamaged(rc);
        setError();
        close();
        if (!damaged || !mayMoveAside)
            return OpenState::Failed;
        return moveAside();
    }
    if (version > kFormatVersion) {
        m_error = "format " + std::to_string(version);
        close();
        return OpenState::NewerFormat;
    }

    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL")) {
        const bool damaged = IsDamaged(sqlite3_extended_errcode(m_db));
        close();
        return damaged && mayMoveAside ? moveAside() : OpenState::Failed;
    }
    // A store of this format needs no write to open, so a start never waits for another
    // program's writes here.
    if (version == kFormatVersion)
        return m_movedTo.empty() ? OpenState::Ready : OpenState::MovedAside;
    if (!exec("BEGIN IMMEDIATE")) {
        const bool damaged = IsDamaged(sqlite3_extended_errcode(m_db));
        close();
        return damaged && mayMoveAside ? moveAside() : OpenState::Failed;
    }
    const std::string setVersion = "PRAGMA user_version=" + std::to_string(kFormatVersion);
    if (!exec(kSchema) || !exec(setVersion.c_str()) || !exec("COMMIT")) {
        const bool damaged = IsDamaged(sqlite3_extended_errcode(m_db));
        close();
        return damaged && mayMoveAside ? moveAside() : OpenState::Failed;
    }
    return m_movedTo.empty() ? OpenState::Ready : OpenState::MovedAside;
}

HistoryDb::OpenState HistoryDb::moveAside()
{
    const std::string error = m_error;
    fs::path target = m_file;
    target += ".corrupt-" + StampNow();
    std::error_code ec;
    fs::rename(m_file, target, ec);
    if (ec) {
        m_error = error + "; " + ec.message();
        return OpenState::Failed;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        fs::path side = m_file;
        side += suffix;
        fs::path sideTarget = target;
        sideTarget += suffix;
        fs::rename(side, sideTarget, ec);
    }
    m_movedTo = target;
    const OpenState state = openFile(false);
    m_error = error;
    return state == OpenState::Ready ? OpenState::MovedAside : state;
}

bool HistoryDb::writeSeries(std::string_view code, Period period,
                            const std::vector<BarRecord>& bars, std::int64_t savedAt)
{
    if (!m_db)
        return false;
    std::vector<std::pair<std::int64_t, const BarRecord*>> keyed;
    keyed.reserve(bars.size());
    for (const BarRecord& bar : bars) {
        if (const auto key = BarTimeKey(bar.time))
            keyed.emplace_back(*key, &bar);
    }
    sqlite3_stmt* erase =
        prepare(m_delete, "DELETE FROM bars WHERE code=?1 AND period=?2 AND key BETWEEN ?3 AND ?4");
    sqlite3_stmt* insert =
        prepare(m_insert, "INSERT OR REPLACE INTO bars VALUES(?,?,?,?,?,?,?,?,?)");
    sqlite3_stmt* trim =
        prepare(m_trim, "DELETE FROM bars WHERE code=?1 AND period=?2 AND key < (SELECT key FROM "
                        "bars WHERE code=?1 AND period=?2 ORDER BY key DESC LIMIT 1 OFFSET ?3)");
    sqlite3_stmt* saved = prepare(m_saved, "INSERT OR REPLACE INTO series VALUES(?,?,?)");
    if (!erase || !insert || !trim || !saved)
        return false;
    if (!exec("BEGIN IMMEDIATE"))
        return false;

    auto bindSeries = [&](sqlite3_stmt* statement) {
        sqlite3_bind_text(statement, 1, code.data(), static_cast<int>(code.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_int(statement, 2, period);
    };
    auto run = [&](sqlite3_stmt* statement) {
        const Reset reset{statement};
        return sqlite3_step(statement) == SQLITE_DONE;
    };
    bool ok = true;
    if (!keyed.empty()) {
        std::int64_t first = keyed.front().first;
        std::int64_t last = first;
        for (const auto& [key, bar] : keyed) {
            first = std::min(first, key);
            last = std::max(last, key);
        }
        bindSeries(erase);
        sqlite3_bind_int64(erase, 3, first);
        sqlite3_bind_int64(erase, 4, last);
        ok = run(erase);
        for (std::size_t i = 0; ok && i < keyed.size(); ++i) {
            const BarRecord& bar = *keyed[i].second;
            bindSeries(insert);
            sqlite3_bind_int64(insert, 3, keyed[i].first);
            sqlite3_bind_text(insert, 4, bar.time.data(), static_cast<int>(bar.time.size()),
                              SQLITE_STATIC);
            sqlite3_bind_double(insert, 5, bar.open);
            sqlite3_bind_double(insert, 6, bar.close);
            sqlite3_bind_double(insert, 7, bar.high);
            sqlite3_bind_double(insert, 8, bar.low);
            sqlite3_bind_int(insert, 9, bar.volume);
            ok = run(insert);
        }
        if (ok) {
            bindSeries(trim);
            sqlite3_bind_int(trim, 3, kMaxStoredBars - 1);
            ok = run(trim);
        }
    }
    if (ok) {
        bindSeries(saved);
        sqlite3_bind_int64(saved, 3, savedAt);
        ok = run(saved);
    }
    if (ok && exec("COMMIT"))
        return true;
    setError();
    const std::string error = m_error;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_error = error;
    return false;
}

std::optional<HistoryDb::Stored> HistoryDb::readSeries(std::string_view code, Period period,
                                                       int count)
{
    if (!m_db)
        return std::nullopt;
    sqlite3_stmt* savedAt =
        prepare(m_savedAt, "SELECT saved_at FROM series WHERE code=?1 AND period=?2");
    sqlite3_stmt* select =
        prepare(m_select, "SELECT time, open, close, high, low, volume FROM bars WHERE code=?1 "
                          "AND period=?2 ORDER BY key DESC LIMIT ?3");
    if (!savedAt || !select)
        return std::nullopt;
    // One read transaction, so that the bars and their time belong together.
    if (!exec("BEGIN"))
        return std::nullopt;
    Stored stored;
    bool found = false;
    {
        const Reset reset{savedAt};
        sqlite3_bind_text(savedAt, 1, code.data(), static_cast<int>(code.size()), SQLITE_STATIC);
        sqlite3_bind_int(savedAt, 2, period);
        if (sqlite3_step(savedAt) == SQLITE_ROW) {
            stored.savedAt = sqlite3_column_int64(savedAt, 0);
            found = true;
        }
    }
    bool ok = true;
    if (found) {
        const Reset reset{select};
        sqlite3_bind_text(select, 1, code.data(), static_cast<int>(code.size()), SQLITE_STATIC);
        sqlite3_bind_int(select, 2, period);
        sqlite3_bind_int(select, 3, std::max(count, 0));
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
            BarRecord bar;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, 0));
            bar.time.assign(text ? text : "",
                            static_cast<std::size_t>(sqlite3_column_bytes(select, 0)));
            bar.open = sqlite3_column_double(select, 1);
            bar.close = sqlite3_column_double(select, 2);
            bar.high = sqlite3_column_double(select, 3);
            bar.low = sqlite3_column_double(select, 4);
            bar.volume = sqlite3_column_int(select, 5);
            stored.bars.push_back(std::move(bar));
        }
        ok = rc == SQLITE_DONE;
        if (!ok)
            setError();
    }
    exec("COMMIT");
    if (!ok || !found)
        return std::nullopt;
    std::reverse(stored.bars.begin(), stored.bars.end());
    return stored;
}

std::int64_t HistoryDb::barCount(std::string_view code, Period period)
{
    sqlite3_stmt* count =
        m_db ? prepare(m_count, "SELECT count(*) FROM bars WHERE code=?1 AND period=?2") : nullptr;
    if (!count)
        return 0;
    const Reset reset{count};
    sqlite3_bind_text(count, 1, code.data(), static_cast<int>(code.size()), SQLITE_STATIC);
    sqlite3_bind_int(count, 2, period);
    return sqlite3_step(count) == SQLITE_ROW ? sqlite3_column_int64(count, 0) : 0;
}

bool HistoryDb::clear()
{
    if (!m_db)
        return false;
    if (exec("BEGIN IMMEDIATE") && exec("DELETE FROM bars") && exec("DELETE FROM series") &&
        exec("COMMIT"))
        return true;
    const std::string error = m_error;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_error = error;
    return false;
}

bool HistoryDb::limitPages(int pages)
{
    return m_db && exec(("PRAGMA max_page_count=" + std::to_string(pages)).c_str());
}

std::string HistoryDb::integrityCheck()
{
    if (!m_db)
        return "not open";
    sqlite3_stmt* statement = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(m_db, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            if (!result.empty())
                result += '\n';
            result += text ? text : "";
        }
    }
    sqlite3_finalize(statement);
    return result.empty() ? std::string(sqlite3_errmsg(m_db)) : result;
}

} // namespace velmora
