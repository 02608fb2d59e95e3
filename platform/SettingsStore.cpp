#include "platform/SettingsStore.h"

#include "platform/AsciiText.h"
#include "platform/Failure.h"
#include "platform/PosixFile.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace velmora {

namespace fs = std::filesystem;

namespace {

// File format: UTF-8 text (a leading byte-order mark is skipped), one record per line,
// nothing trimmed.
//
//   # comment          blank lines and lines starting with '#' or ';' are ignored
//   [section]          starts a section; the name is everything between '[' and the final ']'
//   name=value         a value of the current section; the first '=' ends the name
//
// Section names, value names and values are escaped so that any byte string survives the
// round trip and every record stays on one line:
//
//   \\    backslash            \n    line feed
//   \r    carriage return      \t    tab
//   \xHH  the byte HH (two hex digits)
//
// \xHH is written for the remaining control bytes (0x00-0x1F, 0x7F) and, inside names only,
// for '=', '[', ']', '#' and ';', so that a name can never read as a header, a comment or
// the end of the name. Bytes 0x80 and above are written unchanged so Chinese text stays
// readable. Any other use of a backslash, a value outside a section, or a line that is
// neither header nor value makes the whole file corrupt: it is then neither used nor
// rewritten, since guessing could lose the saved login.

constexpr std::string_view kFileHeader =
    "# Velmora settings. Maintained by the program; values are backslash-escaped.\n";

// Far above anything the program stores; stops us slurping a device or some unrelated file
// that VELMORA_REGISTRY points at by mistake.
constexpr std::size_t kMaxFileSize = 1 << 20;

struct Entry {
    std::string name;
    std::string value;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

using Document = std::vector<Section>;

Section& FindOrAddSection(Document& doc, std::string_view name)
{
    for (Section& section : doc) {
        if (SameAsciiName(section.name, name))
            return section;
    }
    doc.push_back(Section{std::string(name), {}});
    return doc.back();
}

const Section* FindSection(const Document& doc, std::string_view name)
{
    for (const Section& section : doc) {
        if (SameAsciiName(section.name, name))
            return &section;
    }
    return nullptr;
}

void SetValue(Section& section, std::string_view name, std::string_view value)
{
    for (Entry& entry : section.entries) {
        if (SameAsciiName(entry.name, name)) {
            entry.value = value;
            return;
        }
    }
    section.entries.push_back(Entry{std::string(name), std::string(value)});
}

// Inside names, the bytes that would end the name or make the line a header or a comment.
void Escape(std::string_view text, bool isName, std::string& out)
{
    AppendControlEscaped(text, out, isName ? "=[]#;" : "");
}

bool Unescape(std::string_view text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::optional<Document> Parse(std::string_view text)
{
    // Editors on other systems start a UTF-8 file with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    Document doc;
    std::optional<std::size_t> current;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // Tolerate a file re-saved by an editor with CRLF line ends; real CRs are escaped.
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;

        if (line.front() == '[') {
            std::string name;
            if (line.size() < 2 || line.back() != ']' ||
                !Unescape(line.substr(1, line.size() - 2), name))
                return std::nullopt;
            current = static_cast<std::size_t>(&FindOrAddSection(doc, name) - doc.data());
            continue;
        }

        const std::size_t equals = line.find('=');
        std::string name;
        std::string value;
        if (!current || equals == std::string_view::npos ||
            !Unescape(line.substr(0, equals), name) || !Unescape(line.substr(equals + 1), value))
            return std::nullopt;
        SetValue(doc[*current], name, value);
    }
    return doc;
}

std::string Serialize(const Document& doc)
{
    std::string out(kFileHeader);
    for (const Section& section : doc) {
        out += "\n[";
        Escape(section.name, true, out);
        out += "]\n";
        for (const Entry& entry : section.entries) {
            Escape(entry.name, true, out);
            out += '=';
            Escape(entry.value, false, out);
            out += '\n';
        }
    }
    return out;
}

enum class LoadResult { Ok, Missing, Failed };

LoadResult LoadFile(const fs::path& file, std::string& text)
{
    const ReadableFile opened = OpenForReading(file);
    if (!opened.ok())
        return opened.error == ENOENT ? LoadResult::Missing : LoadResult::Failed;
    if (static_cast<std::size_t>(opened.info.st_size) > kMaxFileSize)
        return LoadResult::Failed;
    text.clear();
    return ReadToEnd(opened.fd.get(), text, kMaxFileSize) ? LoadResult::Ok : LoadResult::Failed;
}

// A missing file is an empty store; an unreadable or corrupt one is no store at all.
std::optional<Document> LoadDocument(const fs::path& file)
{
    std::string text;
    switch (LoadFile(file, text)) {
    case LoadResult::Missing:
        return Document{};
    case LoadResult::Ok:
        return Parse(text);
    case LoadResult::Failed:
        break;
    }
    return std::nullopt;
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Held for the whole read-modify-write. The lock lives on a separate file because the data
// file itself is replaced by rename, and a lock on a replaced inode protects nothing. A writer
// holds it for milliseconds; one that holds it longer (stopped, hung) makes the others give
// up after `patience` rather than wait for ever.
UniqueFd LockExclusive(const fs::path& lockFile, std::chrono::milliseconds patience)
{
    UniqueFd fd(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid())
        return fd;
    const auto until = std::chrono::steady_clock::now() + patience;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= until)
            return UniqueFd();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fd;
}

// Readers (in any process) see either the old file or the new one, never a partial write;
// after a crash at most a stray temporary file is left next to an intact store.
bool ReplaceFile(const fs::path& file, std::string_view contents)
{
    std::string temp = file.string() + ".tmp-XXXXXX";
    // mkostemp creates with O_EXCL and mode 0600.
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid())
        return false;
    bool ok =
        ::fchmod(fd.get(), 0600) == 0 && WriteAll(fd.get(), contents) && ::fsync(fd.get()) == 0;
    ok = ::close(fd.release()) == 0 && ok;
    if (ok)
        ok = ::rename(temp.c_str(), file.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Makes the rename itself durable. The new contents are already in place, so a
    // directory that cannot be synced (some filesystems refuse) does not fail the write.
    UniqueFd dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
    return true;
}

std::string HomeDirectory()
{
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr)
        return found->pw_dir;
    return {};
}

} // namespace

SettingsStore::SettingsStore(fs::path file)
{
    std::error_code error;
    m_file = file.empty() ? file : fs::absolute(file, error);
    if (error)
        m_file = std::move(file);
}

// Folders we create hold the saved password's file, so they are owner-only; folders that
// already exist are left as the user set them up.
bool MakeDirectories(const fs::path& dir)
{
    struct stat info {};
    if (::stat(dir.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    if (errno != ENOENT)
        return false;
    const fs::path parent = dir.parent_path();
    if (!parent.empty() && parent != dir && !MakeDirectories(parent))
        return false;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return ::stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

fs::path UserDirectory(const char* xdgVariable, std::string_view homeFallback)
{
    fs::path base;
    // Relative values are to be ignored, as the base-directory convention asks.
    if (const char* xdg = std::getenv(xdgVariable); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const std::string home = HomeDirectory();
        if (home.empty())
            return {};
        base = fs::path(home) / homeFallback;
    }
    return base / "velmora";
}

fs::path UserConfigFile(const char* overrideVariable, std::string_view fileName)
{
    if (const char* path = std::getenv(overrideVariable); path != nullptr && *path != '\0')
        return path;
    const fs::path dir = UserDirectory("XDG_CONFIG_HOME", ".config");
    return dir.empty() ? dir : dir / fileName;
}

fs::path SettingsStore::defaultPath() { return UserConfigFile("VELMORA_REGISTRY", "registry.ini"); }

bool SettingsStore::prepare() const
{
    if (m_file.empty() || !MakeDirectories(m_file.parent_path()))
        return false;
    return LoadDocument(m_file).has_value();
}

bool SettingsStore::read(std::string_view section, std::string_view name, std::string& value) const
{
    if (m_file.empty())
        return false;
    // No cache: the other process may have changed the file since our last look.
    const std::optional<Document> doc = LoadDocument(m_file);
    if (!doc)
        return false;
    const Section* found = FindSection(*doc, section);
    if (found == nullptr)
        return false;
    for (const Entry& entry : found->entries) {
        if (SameAsciiName(entry.name, name)) {
            value = entry.value;
            return true;
        }
    }
    return false;
}

std::optional<std::vector<SettingsValue>> SettingsStore::readAll() const
{
    if (m_file.empty())
        return std::nullopt;
    const std::optional<Document> doc = LoadDocument(m_file);
    if (!doc)
        return std::nullopt;
    std::vector<SettingsValue> values;
    for (const Section& section : *doc) {
        for (const Entry& entry : section.entries)
            values.push_back(SettingsValue{section.name, entry.name, entry.value});
    }
    return values;
}

bool SettingsStore::write(std::string_view section, std::string_view name,
                          std::string_view value) const
{
    if (m_file.empty() || !MakeDirectories(m_file.parent_path()))
        return false;
    const UniqueFd lock = LockExclusive(m_file.string() + ".lock", kLockPatience);
    if (!lock.valid())
        return false;
    std::optional<Document> doc = LoadDocument(m_file);
    if (!doc)
        return false;
    SetValue(FindOrAddSection(*doc, section), name, value);
    // Always through a fresh 0600 file, which also tightens a store left readable by others.
    return ReplaceFile(m_file, Serialize(*doc));
}

bool SettingsStore::renameSection(std::string_view from, std::string_view to,
                                  std::chrono::milliseconds patience) const
{
    if (m_file.empty())
        return false;
    // The usual case, a file without the section, costs one read and no lock.
    const std::optional<Document> seen = LoadDocument(m_file);
    if (!seen)
        return false;
    if (FindSection(*seen, from) == nullptr || SameAsciiName(from, to))
        return true;
    const UniqueFd lock = LockExclusive(m_file.string() + ".lock", patience);
    if (!lock.valid())
        return false;
    std::optional<Document> doc = LoadDocument(m_file);
    if (!doc)
        return false;
    const auto old = std::find_if(doc->begin(), doc->end(), [from](const Section& section) {
        return SameAsciiName(section.name, from);
    });
    if (old == doc->end())
        return true; // another process moved it meanwhile
    const auto target = std::find_if(doc->begin(), doc->end(), [to](const Section& section) {
        return SameAsciiName(section.name, to);
    });
    if (target == doc->end()) {
        old->name = std::string(to);
    } else {
        for (const Entry& entry : old->entries) {
            const bool held = std::any_of(
                target->entries.begin(), target->entries.end(),
                [&entry](const Entry& kept) { return SameAsciiName(kept.name, entry.name); });
            if (!held)
                target->entries.push_back(entry);
        }
        doc->erase(old);
    }
    return ReplaceFile(m_file, Serialize(*doc));
}

bool SettingsStore::checkWritable(std::string* error, std::chrono::milliseconds patience) const
{
    if (m_file.empty())
        return Fail(error, "no settings file (no home directory)");
    if (!MakeDirectories(m_file.parent_path()))
        return Fail(error, m_file.parent_path().string() + ": cannot be made");
    const UniqueFd lock = LockExclusive(m_file.string() + ".lock", patience);
    if (!lock.valid())
        return Fail(error, m_file.string() + ".lock: still held by another program after " +
                               std::to_string(patience.count()) + " ms");
    if (!LoadDocument(m_file))
        return Fail(error, m_file.string() + ": cannot be read or parsed");
    return true;
}

} // namespace velmora
