#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The two programs and the files of an update, all in the folder of the running program.
inline constexpr std::string_view kProgramFile = "velmora";
inline constexpr std::string_view kUpdaterFile = "velmora-update";
inline constexpr std::string_view kVersionPath = "/velmora/version.html";
inline constexpr std::string_view kUpdatePath = "/velmora/velmoraupdate.rar";
inline constexpr std::string_view kSignaturePath = "/velmora/velmoraupdate.rar.sig";
inline constexpr std::size_t kMaxVersionBytes = 64;

// The published version is newer when it compares greater, byte by byte, than the installed
// one followed by "-" and the published one. So equal texts never update, an empty published
// text never does, and a published text that merely extends the installed one updates when its
// first extra byte sorts after "-" (a dot or a digit does, a line break does not).
bool UpdateDue(std::string_view installed, std::string_view published);

// The published text without trailing CR, LF, blanks and tabs, when what is left can name a
// file and go on a command line: 1 to 64 letters, digits, '.', '-' and '_'. Otherwise nullopt
// with the reason in `*error`.
std::optional<std::string> CleanVersion(std::string_view published, std::string* error);

struct UpdateDecision {
    bool due = false;
    std::string version; // the cleaned text: file name, command line and installed version
    std::string reason;  // why a due comparison still gives no update
};
// The comparison on the published text as it came, then the cleaning of a due one.
UpdateDecision DecideUpdate(std::string_view installed, std::string_view published);

// "velmoraupdate.VERSION".
std::string UpdateFileName(std::string_view version);

// The installed version, VELMORA_VERSION of the settings store; empty when it is missing.
std::string ReadInstalledVersion();
// The same, but nullopt when the settings file cannot be read or parsed (or there is no home
// for it), with the reason in `*error`: the installed version is then unknown, and no update
// may follow, or it would repeat at every start.
std::optional<std::string> ReadInstalledVersionIfKnown(std::string* error);
// Writes VELMORA_VERSION; false when the store could not be written.
bool WriteInstalledVersion(std::string_view version);

// The folder of the running program (from /proc/self/exe); empty when it cannot be found.
std::filesystem::path RunningProgramFolder();
// Whether a program in `folder` updates itself: the user can write the folder and it is no
// system folder (below /usr, where the package manager keeps the program up to date).
bool CanSelfUpdate(const std::filesystem::path& folder);

// Signatures of published updates: Ed25519 over a digest that binds the file's bytes to the
// version text, so that an older file cannot be passed off as a newer version. The signature
// file holds the 64 bytes as hexadecimal digits.
using UpdateDigest = std::array<unsigned char, 64>;
// BLAKE2b-512 of a fixed label, the version and the bytes of the file `fd` (read from its
// start); false when the file cannot be read.
bool DigestUpdate(int fd, std::string_view version, UpdateDigest& digest);
// The signature text for a file, with the 32-byte seed of the signing key given as 64
// hexadecimal digits; empty when the key or the file is unusable.
std::string SignUpdate(int fd, std::string_view version, std::string_view seedHex);
// The public key (64 hexadecimal digits) that belongs to a seed; empty for a malformed seed.
std::string PublicKeyOfSeed(std::string_view seedHex);
// Whether `signatureText` (hexadecimal, surrounding white space ignored) is the signature of
// the file's bytes and `version` under `publicKeyHex`; when not, the reason is in `*error`.
bool VerifyUpdate(int fd, std::string_view version, std::string_view signatureText,
                  std::string_view publicKeyHex, std::string* error);

// Starts `folder`/velmora-update with the words "velmora-update velmora VERSION
// velmoraupdate.VERSION", in `folder`, in a session of its own. False, with the reason in
// `*error`, when it cannot start.
bool StartUpdater(const std::filesystem::path& folder, std::string_view version,
                  std::string* error);

} // namespace velmora
