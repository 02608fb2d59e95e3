#include "tests/support/TestSupport.h"

#include "market/HstFile.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora::test {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

const std::filesystem::path& CookieFolder()
{
    static const TempDir folder;
    return folder.path();
}

PrivateHome::PrivateHome()
{
    setenv("HOME", m_dir.str().c_str(), 1);
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
        const std::filesystem::path folder = m_dir / name;
        std::filesystem::create_directories(folder);
        setenv(name, folder.c_str(), 1);
    }
    unsetenv("VELMORA_CONFIG");
    unsetenv("VELMORA_REGISTRY");
    unsetenv("VELMORA_HISTORY_DB");
}

ScopedTimeZone::ScopedTimeZone(const char* zone)
{
    if (const char* previous = std::getenv("TZ")) {
        m_previous = previous;
        m_hadPrevious = true;
    }
    setenv("TZ", zone, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_hadPrevious)
        setenv("TZ", m_previous.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : m_name(name)
{
    if (const char* previous = std::getenv(name)) {
        m_previous = previous;
        m_hadPrevious = true;
    }
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (m_hadPrevious)
        setenv(m_name.c_str(), m_previous.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

std::filesystem::path TestDataDir() { return VELMORA_TESTDATA_DIR; }

std::filesystem::path SharedTestDataDir() { return VELMORA_SHARED_TESTDATA_DIR; }

bool WriteGoldHistory(const std::filesystem::path& dir)
{
    std::vector<hst::Bar> bars;
    for (int i = 0; i < 120; ++i) {
        hst::Bar bar;
        bar.time = 1700000000 + 86400LL * i;
        bar.open = 2000 + (i % 9);
        bar.close = bar.open + ((i % 3) ? -2.5 : 3.25);
        bar.high = std::max(bar.open, bar.close) + 4;
        bar.low = std::min(bar.open, bar.close) - 3;
        bar.tickVolume = i;
        bars.push_back(bar);
    }
    // The import stops a commodity at its first missing period: half-hours come first.
    return hst::WriteFile((dir / "LLGUSD30.hst").string(), {}, bars) &&
           hst::WriteFile((dir / "LLGUSD1440.hst").string(), {}, bars);
}

void CopyFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::filesystem::create_directories(to.parent_path());
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

bool ReturnsDespiteFifo(const std::filesystem::path& path, const std::function<void()>& call,
                        std::chrono::milliseconds limit)
{
    if (::mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("cannot make a FIFO at " + path.string());
    std::future<void> done = std::async(std::launch::async, call);
    if (done.wait_for(limit) == std::future_status::ready) {
        done.get();
        return true;
    }
    // A blocked open returns once a writer appears, and the read then sees the end at once.
    while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    }
    done.get();
    return false;
}

std::string FramedPage(const std::vector<std::string>& records)
{
    std::string body = "\xEF\xBB\xBF"; // three bytes of no meaning
    for (const std::string& record : records)
        body += record + ";<br/>";
    return body;
}

std::string ReadWholeFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace velmora::test
