#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <ctime>
#include <stdexcept>

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

void CopyFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::filesystem::create_directories(to.parent_path());
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

} // namespace velmora::test
