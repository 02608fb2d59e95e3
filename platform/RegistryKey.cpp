#include "platform/RegistryKey.h"

#include "platform/AsciiText.h"
#include "platform/SettingsStore.h"

#include <algorithm>
#include <chrono>

namespace velmora {

namespace {

constexpr std::chrono::milliseconds kMovePatience{200};

} // namespace

CRegistryKey::CRegistryKey(RegistryRoot root) : m_root(root) {}

CRegistryKey::~CRegistryKey() { Close(); }

bool CRegistryKey::Open(std::string_view subKeyPath)
{
    if (m_state == State::Closed || subKeyPath.empty())
        return false;
    // A nested Open stays in the store the outer key came from, even if the environment
    // has changed in between.
    const std::filesystem::path store =
        m_state == State::SubKey ? m_store : SettingsStore::defaultPath();
    if (store.empty() || !SettingsStore(store).prepare())
        return false;

    // A file of an earlier version has its values moved to their section the first time a key
    // is opened on it; one that cannot be rewritten yet (a held lock, a read-only folder) is
    // used as it is, and moved by a later key. The move does not wait long for the lock, so
    // that a stuck writer never holds up every read.
    const bool former =
        m_state == State::Root &&
        !SettingsStore(store).renameSection(kFormerSubKey, kRegistry.subKey, kMovePatience) &&
        SameAsciiName(subKeyPath, kRegistry.subKey);
    std::string path;
    if (m_state == State::SubKey) {
        path = m_subKey;
        path += '\\';
    }
    path += former ? kFormerSubKey : subKeyPath;
    m_subKey = std::move(path);
    m_store = store;
    m_state = State::SubKey;
    return true;
}

bool CRegistryKey::ReadString(std::string_view name, std::string& text)
{
    if (m_state != State::SubKey)
        return false;
    std::string value;
    if (!SettingsStore(m_store).read(m_subKey, name, value))
        return false;
    // The stored bytes plus the terminating zero must fit the buffer.
    if (value.size() >= kReadBufferSize)
        return false;
    // A hand-edited \x00 ends the string, as it would for a C-string reader.
    value.resize(std::min(value.size(), value.find('\0')));
    text = std::move(value);
    return true;
}

bool CRegistryKey::WriteString(std::string_view name, std::string_view text)
{
    if (m_state != State::SubKey)
        return false;
    return SettingsStore(m_store).write(m_subKey, name, text.substr(0, text.find('\0')));
}

void CRegistryKey::Close()
{
    m_state = State::Closed;
    m_subKey.clear();
    m_store.clear();
}

bool ReadProgramSetting(const std::filesystem::path& store, std::string_view name,
                        std::string& value)
{
    const SettingsStore settings(store);
    return settings.read(kRegistry.subKey, name, value) ||
           settings.read(kFormerSubKey, name, value);
}

} // namespace velmora
