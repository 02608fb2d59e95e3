#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmora {

// Every value the program keeps in the settings store, all strings, in one section.
struct RegistryNames {
    std::string_view subKey;        // the section
    std::string_view version;       // installed version: written by the updater
    std::string_view loginUser;     // saved login user name
    std::string_view loginPassword; // saved login password
    std::string_view mt4Dir;        // MT4 history folder, set by the user outside the program
    std::string_view imageDir;      // folder a chart or board picture was last saved into
};

inline constexpr RegistryNames kRegistry{
    "velmora", "VELMORA_VERSION", "VELMORA_LOGINU", "VELMORA_LOGINP", "MT4DIR", "VELMORA_IMAGEDIR",
};

// The section earlier versions kept the values in. The first key opened on such a file moves
// them to `kRegistry.subKey`; until that rewrite succeeds the key reads and writes them where
// they are, so a program or updater of either version understands the file.
inline constexpr std::string_view kFormerSubKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// Reads one value of the program's section straight from the settings file at `store`, of
// any length; where a file of an earlier version could not be rewritten yet, from the former
// section.
bool ReadProgramSetting(const std::filesystem::path& store, std::string_view name,
                        std::string& value);

enum class RegistryRoot { LocalMachine };

// Registry-style access to the settings store, keeping the behaviour callers were written
// against: the wrapper starts on a root that holds no values, Open moves it to a sub-key
// (relative to wherever it is now), and a failed Open leaves it where it was, so the
// following reads and writes fail instead of touching some other location.
class CRegistryKey {
public:
    explicit CRegistryKey(RegistryRoot root);
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // An empty path is refused.
    bool Open(std::string_view subKeyPath);

    // Values of 200 bytes or more do not fit the read buffer and are refused. On failure
    // `text` is unchanged.
    bool ReadString(std::string_view name, std::string& text);

    // Stores `text` up to its first NUL byte.
    bool WriteString(std::string_view name, std::string_view text);

    // After Close nothing can be read, written or opened through this object.
    void Close();

    // Size of the read buffer, terminating zero included.
    static constexpr std::size_t kReadBufferSize = 200;

private:
    enum class State { Root, SubKey, Closed };

    RegistryRoot m_root;
    State m_state = State::Root;
    std::string m_subKey;
    std::filesystem::path m_store; // chosen when the first sub-key is opened
};

} // namespace velmora
