#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A per-user configuration file of the program: the file named by the environment variable
// `overrideVariable` when it is set, else `fileName` in $XDG_CONFIG_HOME/velmora (default
// ~/.config/velmora); empty when there is no home directory.
std::filesystem::path UserConfigFile(const char* overrideVariable, std::string_view fileName);

// The program's folder in one of the user's base directories: $`xdgVariable`/velmora, or
// ~/`homeFallback`/velmora when the variable is unset or relative; empty without a home.
std::filesystem::path UserDirectory(const char* xdgVariable, std::string_view homeFallback);

// Creates `dir` and its missing parents owner-only; folders that exist are left as they are.
// Answers whether `dir` is a folder afterwards.
bool MakeDirectories(const std::filesystem::path& dir);

// One named value of a SettingsStore section.
struct SettingsValue {
    std::string section;
    std::string name;
    std::string value;
};

// A per-user file of named string values grouped in sections: the program's settings (one
// section, `velmora`), its service addresses and the reference servers' configuration. The main
// program and the updater both use it, so every read goes to the file on disk and every change is a
// locked read-modify-write followed by an atomic replace of the whole file.
//
// Section and value names compare ASCII case-insensitively, as registry names do; the case of
// the first write is the one kept in the file.
class SettingsStore {
public:
    explicit SettingsStore(std::filesystem::path file);

    // $VELMORA_REGISTRY when set, else $XDG_CONFIG_HOME/velmora/registry.ini, else
    // ~/.config/velmora/registry.ini; empty when no home directory can be found.
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return m_file; }

    // Creates the folder (owner-only) if needed and checks that an existing file can be read
    // and parsed. The file itself is only created by the first Write.
    bool prepare() const;

    // False when the file is missing, unreadable or corrupt, or holds no such value; `value`
    // is then left alone.
    bool read(std::string_view section, std::string_view name, std::string& value) const;

    // Every value in the file, section by section; empty for a missing file, nullopt when it
    // is unreadable or corrupt. One read, so the values are of one version of the file.
    std::optional<std::vector<SettingsValue>> readAll() const;

    // Sets one value, creating the section if needed. Refuses (false) to rewrite a file it
    // cannot parse, so a damaged store is never silently emptied.
    bool write(std::string_view section, std::string_view name, std::string_view value) const;

    // Moves the values of section `from` into section `to` (a value `to` already holds is kept)
    // and drops `from`, in one locked rewrite that leaves every other section and value as it
    // was. A file without `from` is not touched. False when the file cannot be read, parsed or
    // rewritten (the lock not free within `patience`); it then stays as it was.
    bool renameSection(std::string_view from, std::string_view to,
                       std::chrono::milliseconds patience = kLockPatience) const;

    // Whether a Write could go through now: the lock is free within `patience` and the file
    // (if any) reads and parses. False with the reason in `*error`.
    bool checkWritable(std::string* error,
                       std::chrono::milliseconds patience = kLockPatience) const;

    // How long a writer waits for another one to finish.
    static constexpr std::chrono::milliseconds kLockPatience{5000};

private:
    std::filesystem::path m_file;
};

} // namespace velmora
