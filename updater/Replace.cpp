#include "updater/Replace.h"

#include "net/SelfUpdate.h"
#include "platform/SettingsStore.h"
#include "platform/Spawn.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;

namespace {

std::string Failed(const std::string& what) { return what + ": " + std::strerror(errno); }

// A name in the working directory, not a path that leads elsewhere.
bool PlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Gone, or a zombie that only waits for its parent.
bool Ended(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text))
        return true;
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos || close + 2 >= text.size())
        return true;
    const char state = text[close + 2];
    return state == 'Z' || state == 'X';
}

bool WaitEnded(const std::vector<pid_t>& pids, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        bool all = true;
        for (pid_t pid : pids)
            all = all && Ended(pid);
        if (all)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

std::optional<UpdaterWords> ParseUpdaterWords(const std::vector<std::string>& words)
{
    if (words.size() < 4)
        return std::nullopt;
    return UpdaterWords{words[1], words[2], words[3]};
}

std::string CheckWords(const UpdaterWords& words)
{
    const std::optional<std::string> version = CleanVersion(words.version, nullptr);
    if (!version || *version != words.version)
        return "bad version \"" + words.version + "\"";
    if (!PlainName(words.program) || !PlainName(words.updateFile) ||
        words.program == words.updateFile)
        return "the program and the update must be two names in the folder";
    return {};
}

std::vector<pid_t> FindProgramProcesses(const fs::path& program)
{
    std::vector<pid_t> found;
    struct stat target {};
    if (::stat(program.c_str(), &target) != 0)
        return found;
    const uid_t user = ::getuid();
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == ::getpid())
            continue;
        struct stat process {};
        struct stat executable {};
        // /proc/PID belongs to the process's user; its exe leads to the very file.
        if (::stat(entry.path().c_str(), &process) != 0 || process.st_uid != user)
            continue;
        if (::stat((entry.path() / "exe").c_str(), &executable) != 0)
            continue;
        if (executable.st_dev == target.st_dev && executable.st_ino == target.st_ino && !Ended(pid))
            found.push_back(pid);
    }
    return found;
}

void StopProcesses(const std::vector<pid_t>& pids, std::chrono::milliseconds grace)
{
    if (pids.empty())
        return;
    for (pid_t pid : pids)
        (void)::kill(pid, SIGTERM);
    if (WaitEnded(pids, grace))
        return;
    for (pid_t pid : pids) {
        if (!Ended(pid))
            (void)::kill(pid, SIGKILL);
    }
    (void)WaitEnded(pids, std::chrono::seconds(5));
}

ReplaceResult ReplaceProgram(const fs::path& folder, const UpdaterWords& words,
                             const std::function<void(ReplaceStep)>& observe)
{
    ReplaceResult result;
    const auto note = [&observe](ReplaceStep step) {
        if (observe)
            observe(step);
    };
    result.reason = CheckWords(words);
    if (!result.reason.empty())
        return result;
    const fs::path program = folder / words.program;
    const fs::path update = folder / words.updateFile;
    const fs::path old = folder / (words.program + ".old");

    const int fd = ::open(update.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        result.reason = Failed(update.string());
        return result;
    }
    struct stat updateInfo {};
    struct stat programInfo {};
    const bool haveProgram = ::stat(program.c_str(), &programInfo) == 0;
    const mode_t mode = haveProgram ? (programInfo.st_mode & 07777) : 0755;
    const bool prepared = ::fstat(fd, &updateInfo) == 0 && S_ISREG(updateInfo.st_mode) &&
                          ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (!prepared)
        result.reason = Failed(update.string());
    ::close(fd);
    if (!prepared)
        return result;
    note(ReplaceStep::Prepared);

    // The old program, kept under a second name; the program's own name never goes away.
    if (haveProgram) {
        if ((::unlink(old.c_str()) != 0 && errno != ENOENT) ||
            ::link(program.c_str(), old.c_str()) != 0)
            std::fprintf(stderr, "velmora-update: %s not kept: %s\n", old.c_str(),
                         std::strerror(errno));
        else
            note(ReplaceStep::OldKept);
    }

    if (::rename(update.c_str(), program.c_str()) != 0) {
        result.reason = Failed(program.string());
        return result;
    }
    result.replaced = true;
    note(ReplaceStep::Replaced);

    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    note(ReplaceStep::FolderSynced);

    if (!WriteInstalledVersion(words.version)) {
        result.reason = "VELMORA_VERSION cannot be written";
        return result;
    }
    result.versionWritten = true;
    note(ReplaceStep::VersionWritten);
    return result;
}

bool StartProgram(const fs::path& folder, const std::string& program, std::string* error)
{
    return SpawnDetached(folder, folder / program, {"./" + program}, error);
}

ReplaceResult RunUpdate(const fs::path& folder, const UpdaterWords& words, MessageSink& sink,
                        UpdaterTimes times)
{
    ReplaceResult result;
    result.reason = CheckWords(words);
    if (result.reason.empty()) {
        StopProcesses(FindProgramProcesses(folder / words.program), times.grace);
        std::this_thread::sleep_for(times.pause);
        // The version must be recordable before the program changes: a new program without
        // its version would be updated again at every start.
        std::string error;
        if (!SettingsStore(SettingsStore::defaultPath())
                 .checkWritable(&error, times.settingsPatience)) {
            std::fprintf(stderr, "velmora-update: %s\n", error.c_str());
            sink.showMessage("升级失败，原程序保留不变：设置文件无法写入（" + error + "）");
            std::string startError;
            if (!StartProgram(folder, words.program, &startError))
                std::fprintf(stderr, "velmora-update: %s\n", startError.c_str());
            result.reason = error;
            return result;
        }
        result = ReplaceProgram(folder, words);
    }
    if (!result.ok()) {
        std::fprintf(stderr, "velmora-update: %s\n", result.reason.c_str());
        sink.showMessage(std::string(result.replaced ? "新版本已安装，但版本记录未能写入："
                                                     : "升级失败，原程序保留不变：") +
                         result.reason);
        return result;
    }
    std::string error;
    if (!StartProgram(folder, words.program, &error))
        std::fprintf(stderr, "velmora-update: %s\n", error.c_str());
    return result;
}

} // namespace velmora
