#pragma once

#include <filesystem>
#include <httplib.h>
#include <string>
#include <string_view>

namespace velmora::services {

// The seed (64 hexadecimal digits) of the reference website's demo signing key; the program's
// compiled-in public key belongs to it. A real deployment signs with a key of its own and
// configures its public key ([update] public_key).
inline constexpr std::string_view kDemoUpdateSeed =
    "6a048bed4486200a2c17dc6b3e02312472266778b7aae5f23592b37d40158cca";

// The website's published update and its help pages:
//   GET /velmora/version.html           the published version text
//   GET /velmora/velmoraupdate.rar      the published program
//   GET /velmora/velmoraupdate.rar.sig  its signature (hexadecimal)
//   GET /helponline/...                 the help pages, static files of `helpDir`
// A version that was never published answers 404.
void AddWebsitePages(httplib::Server& server, const std::filesystem::path& publishDir,
                     const std::filesystem::path& helpDir);

// Publishes `program` as `version` into `publishDir`: the program, its signature with the key
// of `seedHex`, then the version text, each file replaced in one step. The version must be
// 1 to 64 letters, digits, '.', '-' and '_'. False with the reason in `*error`.
bool PublishUpdate(const std::filesystem::path& publishDir, std::string_view version,
                   const std::filesystem::path& program, std::string_view seedHex,
                   std::string* error);

// The published files: $XDG_DATA_HOME/velmora/publish (default ~/.local/share/velmora/publish).
std::filesystem::path DefaultPublishDir();
// The help pages: share/velmora/helponline beside an installed server, else the repository's.
std::filesystem::path DefaultHelpDir();

} // namespace velmora::services
