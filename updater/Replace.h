#pragma once

#include "platform/MessageSink.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace velmora {

inline constexpr std::string_view kUpdaterUsage =
    "用法:velmora-update 程序名 版本 版本文件\n"
    "velmora-update velmora 3.0.20150702 velmoraupdate.3.0.20150702";

// The updater's words after its own name: the program to replace, the new version and the
// downloaded file, all in the working directory.
struct UpdaterWords {
    std::string program;
    std::string version;
    std::string updateFile;
};

// Words 1 to 3 of the argument list; nullopt with fewer than four words.
std::optional<UpdaterWords> ParseUpdaterWords(const std::vector<std::string>& words);

// Empty when the words can be used; otherwise why not: the version must be a clean version
// text, the program and the update two plain names in the working directory.
std::string CheckWords(const UpdaterWords& words);

// The processes of this user whose executable is the file `program` (compared by device and
// inode, so a program of the same name elsewhere is left alone); never this process.
std::vector<pid_t> FindProgramProcesses(const std::filesystem::path& program);
// SIGTERM, then SIGKILL to those still there after `grace`; waits (a while) until they ended.
void StopProcesses(const std::vector<pid_t>& pids, std::chrono::milliseconds grace);

// The moments of the replacement, for observers.
enum class ReplaceStep {
    Prepared,     // the new file has the old one's mode and is on disk
    OldKept,      // the old program is linked as PROGRAM.old
    Replaced,     // the new file has the program's name
    FolderSynced, // the rename is on disk
    VersionWritten,
};

struct ReplaceResult {
    bool replaced = false;       // the program is the new one
    bool versionWritten = false; // VELMORA_VERSION holds the new version
    std::string reason;          // what failed
    bool ok() const { return replaced && versionWritten; }
};

// Replaces `folder`/program by `folder`/updateFile in one rename, keeping the old program as
// PROGRAM.old; the new file gets the old one's mode and is made durable first, so whenever
// the process dies the folder holds a whole program, old or new. When the rename fails the old
// program stays and the version is not written. `observe` hears each step that succeeded.
ReplaceResult ReplaceProgram(const std::filesystem::path& folder, const UpdaterWords& words,
                             const std::function<void(ReplaceStep)>& observe = {});

// Starts `folder`/program in `folder`, in a session of its own. False, with the reason in
// `*error`, when it cannot start.
bool StartProgram(const std::filesystem::path& folder, const std::string& program,
                  std::string* error);

struct UpdaterTimes {
    std::chrono::milliseconds grace{2000}; // between SIGTERM and SIGKILL
    std::chrono::milliseconds pause{1000}; // after the program stopped
    // The longest wait for the settings store's lock before anything is replaced.
    std::chrono::milliseconds settingsPatience{5000};
};

// The whole work of the updater in `folder`: stops the program, waits, replaces it, writes the
// version and starts the program again. A failure is reported to `sink` and the program is
// not started, so that a failing update does not repeat itself at once; but when the settings
// store cannot take the version (its lock stays held, the file is unreadable), nothing is
// replaced and the old program starts again unchanged. Answers the result.
ReplaceResult RunUpdate(const std::filesystem::path& folder, const UpdaterWords& words,
                        MessageSink& sink, UpdaterTimes times = {});

} // namespace velmora
