#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velmora::test {

// A fresh directory under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// A home of the test program's own for the life of the object: HOME and the XDG folders
// (config, data, state, cache) in a fresh temporary folder, and none of VELMORA_CONFIG,
// VELMORA_REGISTRY or VELMORA_HISTORY_DB from the shell, so that nothing a test does reaches
// the user's files.
class PrivateHome {
public:
    PrivateHome();
    const std::filesystem::path& path() const { return m_dir.path(); }

private:
    TempDir m_dir;
};

// A folder for the cookie files of a test program's HTTP clients, made once and removed when
// the program ends.
const std::filesystem::path& CookieFolder();

// Sets TZ for the life of the object and restores the previous zone afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();

private:
    std::string m_previous;
    bool m_hadPrevious = false;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();

private:
    std::string m_name;
    std::string m_previous;
    bool m_hadPrevious = false;
};

// A reply page of the data server: a byte order mark, then each record followed by ";<br/>".
std::string FramedPage(const std::vector<std::string>& records);

// Fixtures committed with the tests.
std::filesystem::path TestDataDir();
// Real MT4 files kept outside the repository; empty when they are not on this machine.
std::filesystem::path SharedTestDataDir();

// Writes LLGUSD30.hst and LLGUSD1440.hst into `dir`, both holding the same 120 daily gold
// bars from November 2023 (every third one an up bar, tick volume = index); answers false when
// a file cannot be written.
bool WriteGoldHistory(const std::filesystem::path& dir);

// A file's bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);
// Replaces a file's bytes.
void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes);

// Copies `from` to `to`, creating folders as needed.
void CopyFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes a FIFO at `path` and runs `call` while nothing ever writes to it. Answers whether the
// call returned within `limit`; one that is still blocked on the FIFO by then is set free
// (a writer comes and goes) so that the test fails instead of hanging.
bool ReturnsDespiteFifo(const std::filesystem::path& path, const std::function<void()>& call,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace velmora::test
