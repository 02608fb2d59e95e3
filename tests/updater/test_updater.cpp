// The updater: a replacement killed at every step still leaves a whole program; only the
// user's own program from the replaced file is stopped; the program run end to end.

#include "net/SelfUpdate.h"
#include "tests/support/RecordingMessageSink.h"
#include "tests/support/TestSupport.h"
#include "updater/Replace.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace velmora;
using velmora::test::TempDir;
namespace fs = std::filesystem;

namespace {

void Spit(const fs::path& path, const std::string& bytes, fs::perms mode)
{
    velmora::test::WriteWholeFile(path, bytes);
    fs::permissions(path, mode);
}

// What running the file prints, or "" when it cannot run.
std::string RunOutput(const fs::path& program)
{
    const std::string command = "'" + program.string() + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {};
    char buffer[64] = {};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, pipe);
    ::pclose(pipe);
    return std::string(buffer, got);
}

pid_t Spawn(const fs::path& program, const std::vector<std::string>& words, const fs::path& cwd,
            std::vector<std::string> environment = {})
{
    std::vector<std::string> argvText = words;
    std::vector<char*> argv;
    for (std::string& word : argvText)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    for (char** e = environ; *e != nullptr; ++e)
        environment.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool WaitFor(const std::function<bool()>& done)
{
    for (int i = 0; i < 1000; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

int LineCount(const fs::path& file)
{
    const std::string text = velmora::test::ReadWholeFile(file);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

const UpdaterWords kWords{"velmora", "3.0.2", "velmoraupdate.3.0.2"};
constexpr fs::perms kProgramMode =
    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;

class ReplaceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(folder);
        Spit(folder / "velmora", "#!/bin/sh\necho old\n", kProgramMode);
        // As downloaded: not yet executable.
        Spit(folder / "velmoraupdate.3.0.2", "#!/bin/sh\necho new\n",
             fs::perms::owner_read | fs::perms::owner_write);
    }

    TempDir dir;
    fs::path folder = dir / "program";
    test::ScopedEnv registry{"VELMORA_REGISTRY", (dir / "registry.ini").string()};
};

} // namespace

TEST_F(ReplaceTest, ReplacesInOneStepKeepingTheOldProgram)
{
    const ReplaceResult result = ReplaceProgram(folder, kWords);
    ASSERT_TRUE(result.ok()) << result.reason;
    EXPECT_EQ(RunOutput(folder / "velmora"), "new\n");
    EXPECT_EQ(fs::status(folder / "velmora").permissions(), kProgramMode);
    EXPECT_EQ(RunOutput(folder / "velmora.old"), "old\n");
    EXPECT_FALSE(fs::exists(folder / "velmoraupdate.3.0.2"));
    EXPECT_EQ(ReadInstalledVersion(), "3.0.2");

    // The next update keeps the program it replaces, not the one before.
    Spit(folder / "velmoraupdate.3.0.3", "#!/bin/sh\necho newer\n", fs::perms::owner_all);
    ASSERT_TRUE(ReplaceProgram(folder, {"velmora", "3.0.3", "velmoraupdate.3.0.3"}).ok());
    EXPECT_EQ(RunOutput(folder / "velmora"), "newer\n");
    EXPECT_EQ(RunOutput(folder / "velmora.old"), "new\n");
}

TEST_F(ReplaceTest, KilledAtAnyStepLeavesARunnableProgram)
{
    const ReplaceStep steps[] = {ReplaceStep::Prepared, ReplaceStep::OldKept, ReplaceStep::Replaced,
                                 ReplaceStep::FolderSynced, ReplaceStep::VersionWritten};
    for (int killAt = -1; killAt < static_cast<int>(std::size(steps)); ++killAt) {
        SetUp();
        fs::remove(folder / "velmora.old");
        fs::remove(dir / "registry.ini");
        Spit(folder / "velmora", "#!/bin/sh\necho old\n", kProgramMode);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (killAt < 0)
                ::raise(SIGKILL);
            (void)ReplaceProgram(folder, kWords, [&](ReplaceStep step) {
                if (step == steps[killAt])
                    ::raise(SIGKILL);
            });
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << killAt;
        const std::string output = RunOutput(folder / "velmora");
        const bool replaced = killAt >= 2;
        EXPECT_EQ(output, replaced ? "new\n" : "old\n") << "killed at step " << killAt;
        EXPECT_EQ(fs::status(folder / "velmora").permissions(), kProgramMode) << killAt;
        EXPECT_EQ(ReadInstalledVersion(), killAt == 4 ? "3.0.2" : "") << killAt;
        // Whatever is left over is whole: the new file or the kept old program.
        if (!replaced) {
            EXPECT_EQ(RunOutput(folder / "velmoraupdate.3.0.2"), killAt >= 0 ? "new\n" : "");
        }
    }
}

TEST_F(ReplaceTest, AFailedRenameKeepsTheOldProgramAndTheVersion)
{
    ASSERT_TRUE(WriteInstalledVersion("3.0.1"));
    // A folder in the program's place cannot be renamed over.
    fs::rename(folder / "velmora", dir / "saved");
    fs::create_directories(folder / "velmora" / "inside");
    const ReplaceResult result = ReplaceProgram(folder, kWords);
    EXPECT_FALSE(result.replaced);
    EXPECT_FALSE(result.reason.empty());
    EXPECT_TRUE(fs::is_directory(folder / "velmora" / "inside"));
    EXPECT_EQ(ReadInstalledVersion(), "3.0.1");
}

TEST_F(ReplaceTest, WordsThatLeadOutOfTheFolderChangeNothing)
{
    RecordingMessageSink sink;
    for (const UpdaterWords& words :
         {UpdaterWords{"velmora", "../x", "velmoraupdate.3.0.2"},
          UpdaterWords{"velmora", "3.0.2\n", "velmoraupdate.3.0.2"},
          UpdaterWords{"../velmora", "3.0.2", "velmoraupdate.3.0.2"},
          UpdaterWords{"velmora", "3.0.2", "/tmp/velmoraupdate.3.0.2"}}) {
        const ReplaceResult result = RunUpdate(folder, words, sink, {{}, {}});
        EXPECT_FALSE(result.replaced);
    }
    EXPECT_EQ(sink.messages.size(), 4u);
    EXPECT_EQ(RunOutput(folder / "velmora"), "old\n");
    EXPECT_EQ(ReadInstalledVersion(), "");
}

// The settings store cannot take the new version (another program holds its lock): nothing is
// replaced, the updater says so and the old program runs again.
TEST_F(ReplaceTest, ABlockedSettingsStoreLeavesAndRestartsTheOldProgram)
{
    Spit(folder / "velmora", "#!/bin/sh\necho old > started.log\n", kProgramMode);
    ASSERT_TRUE(WriteInstalledVersion("3.0.1"));
    const int lock = ::open((dir / "registry.ini.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    RecordingMessageSink sink;
    const ReplaceResult result = RunUpdate(folder, kWords, sink,
                                           {.grace = std::chrono::milliseconds(100),
                                            .pause = std::chrono::milliseconds(0),
                                            .settingsPatience = std::chrono::milliseconds(200)});
    ::close(lock);
    EXPECT_FALSE(result.replaced);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_NE(sink.messages[0].find("原程序保留不变"), std::string::npos) << sink.messages[0];
    EXPECT_TRUE(WaitFor([&] { return fs::exists(folder / "started.log"); }));
    EXPECT_EQ(velmora::test::ReadWholeFile(folder / "started.log"), "old\n");
    EXPECT_TRUE(fs::exists(folder / "velmoraupdate.3.0.2"));
    EXPECT_EQ(ReadInstalledVersion(), "3.0.1");
}

TEST(UpdaterWordsTest, FewerThanFourWordsAreNoCommand)
{
    EXPECT_FALSE(ParseUpdaterWords({"velmora-update", "velmora", "3.0.2"}));
    const auto words = ParseUpdaterWords({"velmora-update", "velmora", "3.0.2", "u", "extra"});
    ASSERT_TRUE(words);
    EXPECT_EQ(words->program, "velmora");
    EXPECT_EQ(words->version, "3.0.2");
    EXPECT_EQ(words->updateFile, "u");
}

TEST(ProcessRule, StopsOnlyTheUsersProgramFromTheReplacedFile)
{
    TempDir dir;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read |
                                    fs::perms::others_exec | fs::perms::group_read |
                                    fs::perms::group_exec);
    const fs::path folder = dir / "program";
    const fs::path other = dir / "elsewhere";
    fs::create_directories(folder);
    fs::create_directories(other);
    fs::copy_file(FAKE_VELMORA, folder / "velmora");
    fs::copy_file(FAKE_VELMORA, other / "velmora");
    const std::vector<std::string> wait{"FAKE_VELMORA_SECONDS=60"};
    const pid_t mine = Spawn(folder / "velmora", {"velmora"}, folder, wait);
    const pid_t namesake = Spawn(other / "velmora", {"velmora"}, other, wait);
    ASSERT_GT(mine, 0);
    ASSERT_GT(namesake, 0);
    // Another user's run of the very same file.
    pid_t stranger = -1;
    if (::geteuid() == 0) {
        fs::permissions(folder, fs::perms::all);
        stranger = ::fork();
        if (stranger == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(1);
            ::setenv("FAKE_VELMORA_SECONDS", "60", 1);
            const std::string path = (folder / "velmora").string();
            ::execl(path.c_str(), "velmora", nullptr);
            ::_exit(1);
        }
    }
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<pid_t> found = FindProgramProcesses(folder / "velmora");
        return std::find(found.begin(), found.end(), mine) != found.end();
    }));
    if (stranger > 0) {
        // Until its exec the child is still this test's program.
        ASSERT_TRUE(WaitFor([&] {
            std::error_code error;
            return fs::read_symlink("/proc/" + std::to_string(stranger) + "/exe", error)
                       .filename() == "velmora";
        }));
    }

    EXPECT_EQ(FindProgramProcesses(folder / "velmora"), std::vector<pid_t>{mine});
    StopProcesses(FindProgramProcesses(folder / "velmora"), std::chrono::seconds(2));
    int status = 0;
    ASSERT_EQ(::waitpid(mine, &status, 0), mine);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(::waitpid(namesake, &status, WNOHANG), 0) << "a namesake elsewhere was stopped";
    ::kill(namesake, SIGKILL);
    ::waitpid(namesake, &status, 0);
    if (stranger > 0) {
        EXPECT_EQ(::waitpid(stranger, &status, WNOHANG), 0) << "another user's run was stopped";
        ::kill(stranger, SIGKILL);
        ::waitpid(stranger, &status, 0);
    }
}

TEST(UpdaterProgram, StopsReplacesRecordsAndRestarts)
{
    TempDir dir;
    const fs::path folder = dir / "program";
    fs::create_directories(folder);
    const test::ScopedEnv registry("VELMORA_REGISTRY", (dir / "registry.ini").string());
    const test::ScopedEnv platform("QT_QPA_PLATFORM", "offscreen");
    fs::copy_file(FAKE_VELMORA, folder / "velmora");
    const std::string oldBytes = velmora::test::ReadWholeFile(folder / "velmora");
    // Still a runnable program with bytes of its own.
    const std::string newBytes = oldBytes + "\nnew version 3.0.2\n";
    Spit(folder / "velmoraupdate.3.0.2", newBytes, fs::perms::owner_read | fs::perms::owner_write);

    const pid_t running =
        Spawn(folder / "velmora", {"velmora"}, folder, {"FAKE_VELMORA_SECONDS=60"});
    ASSERT_GT(running, 0);
    ASSERT_TRUE(WaitFor([&] { return LineCount(folder / "started.log") == 1; }));

    const pid_t updater =
        Spawn(VELMORA_UPDATER, {"velmora-update", "velmora", "3.0.2", "velmoraupdate.3.0.2"},
              folder, {"FAKE_VELMORA_SECONDS=0"});
    ASSERT_GT(updater, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(updater, &status, 0), updater);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(::waitpid(running, &status, 0), running);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    EXPECT_EQ(velmora::test::ReadWholeFile(folder / "velmora"), newBytes);
    EXPECT_EQ(velmora::test::ReadWholeFile(folder / "velmora.old"), oldBytes);
    EXPECT_EQ(ReadInstalledVersion(), "3.0.2");
    // The new program started in its folder.
    ASSERT_TRUE(WaitFor([&] { return LineCount(folder / "started.log") == 2; }));
    const std::string log = velmora::test::ReadWholeFile(folder / "started.log");
    EXPECT_NE(log.find(" " + folder.string() + "\n", log.find('\n')), std::string::npos) << log;
}
