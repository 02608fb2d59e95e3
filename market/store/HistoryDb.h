#pragma once

#include "market/BarStore.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// The local bar store: every bar the program has seen, per commodity code and period, keyed
// by its bar time, in one SQLite file. A series is always written in one transaction, so a
// reader (or a program killed half-way) sees either its old or its new bars.
class HistoryDb {
public:
    // How opening went.
    enum class OpenState {
        Ready,       // usable
        MovedAside,  // the file was damaged: renamed to `movedTo`, a fresh store made
        NewerFormat, // written by a newer program: left untouched, not used
        Failed,      // cannot be opened or made (folder missing, read-only, ...)
    };

    struct Stored {
        std::vector<BarRecord> bars; // oldest first
        std::int64_t savedAt = 0;    // when the series was last written (Unix seconds)
    };

    static constexpr int kFormatVersion = 1;
    static constexpr int kMaxStoredBars = 100000;

    // $XDG_DATA_HOME/velmora/history.db (else ~/.local/share/velmora/history.db); the
    // environment variable VELMORA_HISTORY_DB names another file. Empty without a home.
    static std::filesystem::path defaultPath();

    HistoryDb() = default;
    ~HistoryDb();
    HistoryDb(const HistoryDb&) = delete;
    HistoryDb& operator=(const HistoryDb&) = delete;

    // Opens (creating the folder and file owner-only) and checks the file.
    OpenState open(const std::filesystem::path& file);
    bool isOpen() const { return m_db != nullptr; }
    void close();

    const std::filesystem::path& path() const { return m_file; }
    const std::filesystem::path& movedTo() const { return m_movedTo; }
    // SQLite's text for the last failure.
    const std::string& lastError() const { return m_error; }

    // Merges `bars` (any order; bars without a readable time are skipped) into the series:
    // stored bars inside the delivery's time range are replaced by it, older ones stay, and
    // beyond kMaxStoredBars the oldest go. One transaction.
    bool writeSeries(std::string_view code, Period period, const std::vector<BarRecord>& bars,
                     std::int64_t savedAt);
    // The newest `count` bars of the series, oldest first; nullopt when it was never stored
    // (or on a read error).
    std::optional<Stored> readSeries(std::string_view code, Period period, int count);
    // How many bars the series holds.
    std::int64_t barCount(std::string_view code, Period period);
    // Empties every series.
    bool clear();
    // Caps the file at `pages` database pages, so that writes fail as on a full disk.
    bool limitPages(int pages);
    // "ok" when SQLite finds the file sound.
    std::string integrityCheck();

private:
    bool exec(const char* sql);
    sqlite3_stmt* prepare(sqlite3_stmt*& slot, const char* sql);
    OpenState openFile(bool mayMoveAside);
    OpenState moveAside();
    bool setError();

    sqlite3* m_db = nullptr;
    std::filesystem::path m_file;
    std::filesystem::path m_movedTo;
    std::string m_error;
    sqlite3_stmt* m_delete = nullptr;
    sqlite3_stmt* m_insert = nullptr;
    sqlite3_stmt* m_trim = nullptr;
    sqlite3_stmt* m_saved = nullptr;
    sqlite3_stmt* m_select = nullptr;
    sqlite3_stmt* m_savedAt = nullptr;
    sqlite3_stmt* m_count = nullptr;
};

// The bar time as a number that sorts as the time does (YYYYMMDDhhmmss), read from the digit
// positions a bar time keeps whatever its separators; nullopt when they are not digits.
std::optional<std::int64_t> BarTimeKey(std::string_view time);

} // namespace velmora
