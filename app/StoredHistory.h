#pragma once

#include "market/store/LocalHistory.h"

#include <filesystem>
#include <string>

namespace velmora {

class COrbaltApp;
class UserPrompts;

// The program's local bar store: at start-up, before the synchronisation, it fills the bar
// store from the file; from then on every change of a series is written through on the
// store's worker. Its problems are shown once each, as message boxes from the event loop.
class StoredHistory {
public:
    StoredHistory(COrbaltApp& app, UserPrompts& prompts,
                  std::filesystem::path file = HistoryDb::defaultPath());
    // Writes what is still queued.
    ~StoredHistory();
    StoredHistory(const StoredHistory&) = delete;
    StoredHistory& operator=(const StoredHistory&) = delete;

    LocalHistory& local() { return m_local; }

private:
    COrbaltApp& m_app;
    std::filesystem::path m_file;
    LocalHistory m_local;
};

// What the user is told of a series that came from the local store and not from this run's
// delivery: "本地数据，保存于12-08 13:20（3小时前）"; empty for a series of this run.
std::string StoredDataNote(std::int64_t savedAt, std::int64_t now);

} // namespace velmora
