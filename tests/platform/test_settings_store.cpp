#include "platform/RegistryKey.h"
#include "platform/SettingsStore.h"
#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

constexpr std::string_view kOther = "SOFTWARE\\Velmora\\Other";

std::optional<std::string> Read(std::string_view subKey, std::string_view name)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    std::string text;
    if (!key.Open(subKey) || !key.ReadString(name, text))
        return std::nullopt;
    return text;
}

bool Write(std::string_view subKey, std::string_view name, std::string_view text)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    return key.Open(subKey) && key.WriteString(name, text);
}

unsigned Mode(const fs::path& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

// Every test points the store at its own temporary file, in a folder that does not exist yet.
class RegistryKeyTest : public ::testing::Test {
protected:
    TempDir m_dir;
    fs::path m_file = m_dir / "cfg" / "registry.ini";
    ScopedEnv m_env{"VELMORA_REGISTRY", m_file.string()};
};

TEST_F(RegistryKeyTest, ReadBufferHoldsAtMost199Bytes)
{
    std::string chinese; // the limit counts bytes, not characters
    for (int i = 0; i < 66; ++i)
        chinese += "银";
    chinese += "y";
    ASSERT_EQ(chinese.size(), 199u);
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.loginUser, chinese));
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.version, std::string(200, 'v')));
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.loginUser), chinese);

    CRegistryKey key(RegistryRoot::LocalMachine);
    ASSERT_TRUE(key.Open(kRegistry.subKey));
    std::string text = "unchanged";
    EXPECT_FALSE(key.ReadString(kRegistry.version, text));
    EXPECT_FALSE(key.ReadString(kRegistry.mt4Dir, text)); // never written
    EXPECT_EQ(text, "unchanged");
}

TEST_F(RegistryKeyTest, AwkwardValuesRoundTripExactly)
{
    const std::vector<std::string> values = {"line1\nline2\r\n",
                                             "a=b=c",
                                             "]",
                                             "x\n[Other]\nname=v",
                                             "C:\\MT4\\history\\",
                                             "\\x41\\n",
                                             "沈贵银 鉑金",
                                             "",
                                             "#;[",
                                             " padded \t",
                                             std::string("\x01\x7F\xFF", 3)};
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_TRUE(Write(kRegistry.subKey, "v" + std::to_string(i), values[i])) << i;
    ASSERT_TRUE(Write(kRegistry.subKey, "odd=[name]#", "n"));
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(Read(kRegistry.subKey, "v" + std::to_string(i)), values[i]) << i;
    EXPECT_EQ(Read(kRegistry.subKey, "odd=[name]#"), "n");
    EXPECT_EQ(Read("Other", "name"), std::nullopt); // embedded text never becomes structure
}

TEST_F(RegistryKeyTest, WriteStopsAtNulAndOverwritesPersist)
{
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.loginPassword, std::string_view("abc\0def", 7)));
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.loginPassword), "abc");
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.loginPassword, "second"));
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.loginPassword), "second");
}

TEST_F(RegistryKeyTest, SubKeysHoldSeparateValues)
{
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.version, "1.0"));
    ASSERT_TRUE(Write(kOther, kRegistry.version, "2.0"));
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.version), "1.0");
    EXPECT_EQ(Read(kOther, kRegistry.version), "2.0");
    // Registry names ignore case.
    EXPECT_EQ(Read("software\\velmora\\other", "velmora_version"), "2.0");

    // A second Open is relative to the first.
    CRegistryKey key(RegistryRoot::LocalMachine);
    ASSERT_TRUE(key.Open("SOFTWARE\\Velmora"));
    ASSERT_TRUE(key.Open("Other"));
    std::string text;
    EXPECT_TRUE(key.ReadString(kRegistry.version, text));
    EXPECT_EQ(text, "2.0");
}

TEST_F(RegistryKeyTest, RootAndClosedKeysRefuseEverything)
{
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.version, "1.0"));
    CRegistryKey key(RegistryRoot::LocalMachine);
    std::string text = "unchanged";
    EXPECT_FALSE(key.ReadString(kRegistry.version, text));
    EXPECT_FALSE(key.WriteString(kRegistry.version, "root"));
    EXPECT_FALSE(key.Open(""));

    ASSERT_TRUE(key.Open(kRegistry.subKey));
    key.Close();
    key.Close();
    EXPECT_FALSE(key.ReadString(kRegistry.version, text));
    EXPECT_FALSE(key.WriteString(kRegistry.version, "closed"));
    EXPECT_FALSE(key.Open(kRegistry.subKey));
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.version), "1.0");
}

TEST_F(RegistryKeyTest, OpenFailsWhenStoreCannotBeUsed)
{
    WriteText(m_dir / "plain", "not a folder");
    {
        ScopedEnv env("VELMORA_REGISTRY", (m_dir / "plain" / "sub" / "registry.ini").string());
        CRegistryKey key(RegistryRoot::LocalMachine);
        EXPECT_FALSE(key.Open(kRegistry.subKey));
        std::string text = "unchanged";
        EXPECT_FALSE(key.WriteString(kRegistry.version, "x"));
        EXPECT_FALSE(key.ReadString(kRegistry.version, text));
        EXPECT_EQ(text, "unchanged");
    }
    {
        ScopedEnv env("VELMORA_REGISTRY", m_dir.str()); // a folder, not a file
        EXPECT_FALSE(Write(kRegistry.subKey, kRegistry.version, "x"));
    }
    // A file we cannot parse is neither used nor replaced.
    fs::create_directories(m_file.parent_path());
    for (const std::string corrupt : {"garbage\n", "name=before any section\n", "[A]\nv=\\q\n"}) {
        WriteText(m_file, corrupt);
        EXPECT_FALSE(Write("A", "v", "x")) << corrupt;
        EXPECT_FALSE(SettingsStore(m_file).write("A", "v", "x")) << corrupt;
        std::ifstream in(m_file);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), corrupt);
    }
}

// A FIFO named as the store reads like a corrupt file, and opening it must not wait for a
// writer that never comes.
TEST_F(RegistryKeyTest, FifoAsTheStoreFailsAtOnce)
{
    fs::create_directories(m_file.parent_path());
    const SettingsStore store(m_file);
    bool prepared = true;
    bool read = true;
    bool written = true;
    std::string text = "unchanged";
    EXPECT_TRUE(test::ReturnsDespiteFifo(m_file, [&] {
        prepared = store.prepare();
        read = store.read("A", "v", text);
        written = store.write("A", "v", "x");
    }));
    EXPECT_FALSE(prepared);
    EXPECT_FALSE(read);
    EXPECT_FALSE(written);
    EXPECT_EQ(text, "unchanged");
    EXPECT_TRUE(fs::is_fifo(m_file));
}

TEST_F(RegistryKeyTest, ReadsHandEditedFile)
{
    fs::create_directories(m_file.parent_path());
    WriteText(m_file, "; set by hand\r\n[velmora]\r\n"
                      "MT4DIR=D:\\\\MT4\\\\history\\x41\r\n\r\n");
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.mt4Dir), "D:\\MT4\\historyA");
    // As saved by an editor that starts UTF-8 with a byte-order mark.
    WriteText(m_file, "\xEF\xBB\xBF[Velmora]\nVELMORA_VERSION=3.0.2\n");
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.version), "3.0.2");
}

// A file of an earlier version keeps its values in a registry-path section: the first key opened
// on it moves them to [velmora] and keeps everything else; a file in the new form is not
// rewritten.
TEST_F(RegistryKeyTest, FormerSectionIsMovedOnceAndNothingIsLost)
{
    const std::string header(
        "# Velmora settings. Maintained by the program; values are backslash-escaped.\n");
    struct Case {
        const char* what;
        std::string before;
        std::string version; // VELMORA_VERSION as read
        std::string after;
    };
    const Case cases[] = {
        {"former only",
         "[SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion]\nVELMORA_VERSION=3.0.1\n"
         "MT4DIR=D:\\\\MT4\n[Other]\nx=1\n",
         "3.0.1",
         header + "\n[velmora]\nVELMORA_VERSION=3.0.1\nMT4DIR=D:\\\\MT4\n\n[Other]\nx=1\n"},
        // As left by an updater that wrote the new form into a file of the former one.
        {"both",
         "[software\\\\microsoft\\\\windows\\\\currentversion]\nVELMORA_VERSION=3.0.1\n"
         "VELMORA_LOGINU=zhang\n[Other]\nx=1\n[velmora]\nVELMORA_VERSION=3.0.2\n",
         "3.0.2",
         header + "\n[Other]\nx=1\n\n[velmora]\nVELMORA_VERSION=3.0.2\nVELMORA_LOGINU=zhang\n"},
        {"new form", "; by hand\n[velmora]\nVELMORA_VERSION=3.0.3\n", "3.0.3",
         "; by hand\n[velmora]\nVELMORA_VERSION=3.0.3\n"},
    };
    fs::create_directories(m_file.parent_path());
    for (const Case& c : cases) {
        WriteText(m_file, c.before);
        EXPECT_EQ(Read(kRegistry.subKey, kRegistry.version), c.version) << c.what;
        EXPECT_EQ(test::ReadWholeFile(m_file), c.after) << c.what;
        EXPECT_EQ(Read(kRegistry.subKey, kRegistry.version), c.version) << c.what;
    }

    // While another writer holds the lock the file is used as it is, and moved later.
    WriteText(m_file, cases[0].before);
    const int lock = ::open((m_file.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.version), "3.0.1");
    EXPECT_EQ(test::ReadWholeFile(m_file), cases[0].before);
    // The settings read straight from the file find it there too.
    std::string folder;
    EXPECT_TRUE(ReadProgramSetting(m_file, kRegistry.mt4Dir, folder));
    EXPECT_EQ(folder, "D:\\MT4");
    ::close(lock);
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.version), "3.0.1");
    EXPECT_EQ(test::ReadWholeFile(m_file), cases[0].after);
}

// Another program holding the store's lock (stopped, hung) makes a writer give up in time.
TEST_F(RegistryKeyTest, AHeldLockIsWaitedForOnlySoLong)
{
    const SettingsStore store(m_file);
    std::string error;
    ASSERT_TRUE(store.checkWritable(&error)) << error;
    const int lock = ::open((m_file.string() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    EXPECT_FALSE(store.checkWritable(&error, std::chrono::milliseconds(100)));
    EXPECT_NE(error.find("lock"), std::string::npos) << error;
    ::close(lock);
    EXPECT_TRUE(store.checkWritable(&error, std::chrono::milliseconds(100))) << error;
    WriteText(m_file, "not a settings file\n");
    EXPECT_FALSE(store.checkWritable(&error, std::chrono::milliseconds(100)));
}

TEST_F(RegistryKeyTest, WritesAreOwnerOnlyAndLeaveNoTemporaries)
{
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.loginPassword, "secret"));
    EXPECT_EQ(Mode(m_file.parent_path()), 0700u);
    EXPECT_EQ(Mode(m_file), 0600u);

    ASSERT_EQ(::chmod(m_file.c_str(), 0644), 0);
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.loginUser, "user"));
    EXPECT_EQ(Mode(m_file), 0600u);
    EXPECT_EQ(Read(kRegistry.subKey, kRegistry.loginPassword), "secret");

    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_file.parent_path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"registry.ini", "registry.ini.lock"}));
}

TEST_F(RegistryKeyTest, OpenKeySeesLaterChangesOnDisk)
{
    CRegistryKey reader(RegistryRoot::LocalMachine);
    ASSERT_TRUE(reader.Open(kRegistry.subKey));
    std::string text;
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.version, "1.0"));
    ASSERT_TRUE(reader.ReadString(kRegistry.version, text));
    EXPECT_EQ(text, "1.0");
    ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.version, "1.1")); // the updater's write
    ASSERT_TRUE(reader.ReadString(kRegistry.version, text));
    EXPECT_EQ(text, "1.1");
}

TEST_F(RegistryKeyTest, ConcurrentProcessesKeepEachOthersValues)
{
    constexpr int kWrites = 40;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    const std::string prefix = child == 0 ? "child" : "parent";
    int failures = 0;
    for (int i = 0; i < kWrites; ++i)
        failures += Write(kRegistry.subKey, prefix + std::to_string(i), std::to_string(i)) ? 0 : 1;
    if (child == 0)
        ::_exit(failures);

    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(failures, 0);
    for (int i = 0; i < kWrites; ++i) {
        EXPECT_EQ(Read(kRegistry.subKey, "child" + std::to_string(i)), std::to_string(i));
        EXPECT_EQ(Read(kRegistry.subKey, "parent" + std::to_string(i)), std::to_string(i));
    }
}

TEST(SettingsStoreDefaultPath, FollowsXdgConfigHomeThenHome)
{
    TempDir dir;
    ScopedEnv home("HOME", (dir / "home").string());
    ScopedEnv registry("VELMORA_REGISTRY", "");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "xdg").string());
        EXPECT_EQ(SettingsStore::defaultPath(), dir / "xdg" / "velmora" / "registry.ini");
        ASSERT_TRUE(Write(kRegistry.subKey, kRegistry.version, "1.0"));
        EXPECT_TRUE(fs::exists(dir / "xdg" / "velmora" / "registry.ini"));
    }
    for (const char* ignored : {"", "relative/xdg"}) {
        ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(SettingsStore::defaultPath(),
                  dir / "home" / ".config" / "velmora" / "registry.ini");
    }
}

} // namespace
} // namespace velmora
