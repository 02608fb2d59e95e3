#include "net/SelfUpdate.h"

#include "platform/Failure.h"
#include "platform/RegistryKey.h"
#include "platform/SettingsStore.h"
#include "platform/Spawn.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kDigestLabel = "velmora update v1";

bool VersionByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

template <std::size_t N> bool FromHex(std::string_view hex, std::array<unsigned char, N>& bytes)
{
    std::size_t length = 0;
    const char* end = nullptr;
    return sodium_hex2bin(bytes.data(), N, hex.data(), hex.size(), " \t\r\n", &length, &end) == 0 &&
           length == N && end == hex.data() + hex.size();
}

template <std::size_t N> std::string ToHex(const std::array<unsigned char, N>& bytes)
{
    std::string hex(2 * N + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), bytes.data(), N);
    hex.pop_back();
    return hex;
}

bool SodiumReady() { return sodium_init() >= 0; }

} // namespace

bool UpdateDue(std::string_view installed, std::string_view published)
{
    std::string probe(installed);
    probe += '-';
    probe += published;
    // std::string_view compares through memcmp: bytes as unsigned values, so a GBK double-byte
    // character orders as the unit it is.
    return published.compare(probe) > 0;
}

std::optional<std::string> CleanVersion(std::string_view published, std::string* error)
{
    std::string_view text = published;
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t'))
        text.remove_suffix(1);
    if (text.empty()) {
        Fail(error, "the published version is empty");
        return std::nullopt;
    }
    if (text.size() > kMaxVersionBytes) {
        Fail(error, "the published version is longer than 64 bytes");
        return std::nullopt;
    }
    if (!std::all_of(text.begin(), text.end(),
                     [](char c) { return VersionByte(static_cast<unsigned char>(c)); })) {
        Fail(error,
             "the published version holds bytes other than letters, digits, '.', '-' and '_'");
        return std::nullopt;
    }
    // "." and ".." are made of allowed bytes but are no name for a file's suffix either way;
    // after "velmoraupdate." they are harmless, so they pass like any other text.
    return std::string(text);
}

UpdateDecision DecideUpdate(std::string_view installed, std::string_view published)
{
    UpdateDecision decision;
    if (!UpdateDue(installed, published))
        return decision;
    std::optional<std::string> cleaned = CleanVersion(published, &decision.reason);
    if (!cleaned)
        return decision;
    decision.due = true;
    decision.version = std::move(*cleaned);
    return decision;
}

std::string UpdateFileName(std::string_view version)
{
    return "velmoraupdate." + std::string(version);
}

std::string ReadInstalledVersion()
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    std::string version;
    if (key.Open(kRegistry.subKey))
        (void)key.ReadString(kRegistry.version, version);
    return version;
}

std::optional<std::string> ReadInstalledVersionIfKnown(std::string* error)
{
    const fs::path file = SettingsStore::defaultPath();
    if (file.empty()) {
        Fail(error, "no home directory for the settings file");
        return std::nullopt;
    }
    const SettingsStore store(file);
    if (!store.readAll()) {
        Fail(error, file.string() + ": cannot be read or parsed");
        return std::nullopt;
    }
    return ReadInstalledVersion();
}

bool WriteInstalledVersion(std::string_view version)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    return key.Open(kRegistry.subKey) && key.WriteString(kRegistry.version, version);
}

fs::path RunningProgramFolder()
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

bool CanSelfUpdate(const fs::path& folder)
{
    if (folder.empty() || !folder.is_absolute())
        return false;
    const std::string text = folder.lexically_normal().string();
    if (text == "/usr" || text.starts_with("/usr/"))
        return false;
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool DigestUpdate(int fd, std::string_view version, UpdateDigest& digest)
{
    if (!SodiumReady())
        return false;
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, digest.size());
    // Label, then the version with its length, then the bytes: no two inputs give one stream.
    const auto feed = [&state](const void* data, std::size_t n) {
        crypto_generichash_update(&state, static_cast<const unsigned char*>(data), n);
    };
    feed(kDigestLabel.data(), kDigestLabel.size());
    const unsigned char length =
        static_cast<unsigned char>(std::min<std::size_t>(version.size(), 255));
    feed(&length, 1);
    feed(version.data(), length);
    std::vector<unsigned char> buffer(1 << 16);
    for (off_t offset = 0;;) {
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            break;
        feed(buffer.data(), static_cast<std::size_t>(got));
        offset += got;
    }
    crypto_generichash_final(&state, digest.data(), digest.size());
    return true;
}

std::string PublicKeyOfSeed(std::string_view seedHex)
{
    std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
    if (!SodiumReady() || !FromHex(seedHex, seed))
        return {};
    crypto_sign_seed_keypair(publicKey.data(), secretKey.data(), seed.data());
    sodium_memzero(secretKey.data(), secretKey.size());
    sodium_memzero(seed.data(), seed.size());
    return ToHex(publicKey);
}

std::string SignUpdate(int fd, std::string_view version, std::string_view seedHex)
{
    std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
    UpdateDigest digest{};
    if (!SodiumReady() || !FromHex(seedHex, seed) || !DigestUpdate(fd, version, digest))
        return {};
    crypto_sign_seed_keypair(publicKey.data(), secretKey.data(), seed.data());
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, digest.data(), digest.size(), secretKey.data());
    sodium_memzero(secretKey.data(), secretKey.size());
    sodium_memzero(seed.data(), seed.size());
    return ToHex(signature) + "\n";
}

bool VerifyUpdate(int fd, std::string_view version, std::string_view signatureText,
                  std::string_view publicKeyHex, std::string* error)
{
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    std::array<unsigned char, crypto_sign_PUBLICKEYBYTES> publicKey{};
    UpdateDigest digest{};
    if (!SodiumReady())
        return Fail(error, "the signature library cannot be initialised");
    if (!FromHex(publicKeyHex, publicKey))
        return Fail(error, "the configured public key is malformed");
    if (!FromHex(signatureText, signature))
        return Fail(error, "the signature is malformed");
    if (!DigestUpdate(fd, version, digest))
        return Fail(error, "the downloaded file cannot be read");
    if (crypto_sign_verify_detached(signature.data(), digest.data(), digest.size(),
                                    publicKey.data()) != 0)
        return Fail(error, "the signature does not fit the file and the version");
    return true;
}

bool StartUpdater(const fs::path& folder, std::string_view version, std::string* error)
{
    // In the program's folder, where the files are, and in a session of its own: it stops
    // the program that started it.
    return SpawnDetached(folder, folder / kUpdaterFile,
                         {std::string(kUpdaterFile), std::string(kProgramFile),
                          std::string(version), UpdateFileName(version)},
                         error);
}

} // namespace velmora
