#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Where one remote service answers.
struct ServiceAddress {
    std::string scheme; // "http" or "https"
    std::string host;   // name or IP literal (an IPv6 literal without brackets)
    int port = 0;

    // False when the configuration gave this service a malformed address: it is then not
    // used at all, and its origin, host line and URLs are empty.
    bool usable() const;
    // "scheme://host[:port]", the port left out when it is the scheme's default.
    std::string origin() const;
    // The value of a Host request line: the host, with ":port" unless the port is the scheme's
    // default or `alwaysPort` asks for it.
    std::string hostLine(bool alwaysPort = false) const;
};

// Every value the program needs to reach the remote services, and the two fixed access texts
// of the program itself. Compiled-in defaults point at the reference services on loopback; a
// configuration file overrides any of them (see LoadEndpoints).
struct Endpoints {
    ServiceAddress dataServer{"http", "127.0.0.1", 18080};
    std::string dataAccount = "vmds";                           // sent after "user="
    std::string dataToken = "6f1c2e9a4b7d30581e6a9c2f4d8b7e13"; // sent after "&pwd="

    // The maker's website; it also serves the account pages.
    ServiceAddress website{"http", "127.0.0.1", 18081};
    std::string accountAccessCode = "4827"; // sent after "getcode="

    ServiceAddress smsGateway{"http", "127.0.0.1", 18082};
    std::string smsUserId = "602318";
    std::string smsAccount = "vlmsg";
    std::string smsPassword = "K7Q2ZD";
    std::string staffMobile = "13000000000";

    // Opened in the user's browser by the website command.
    std::string makerWebsite = "http://127.0.0.1:18081/";
    // Typed into the access-code prompt to reach the core configuration dialog.
    std::string configAccessCode = "7305914";
    // A quote that has not changed for this many minutes while others have is shown as stale.
    int staleQuoteMinutes = 10;

    // The Ed25519 key (64 hexadecimal digits) that published updates are signed with; the
    // reference website's demo key unless configured.
    std::string updatePublicKey =
        "5436127bbfdf6160033c252a076ff22ffec457ab2ba5ac7d74b740bd667a3f6c";

    // Trust anchors for TLS: a PEM file for private deployments; empty means the system store.
    std::string caFile;
};

// "/testone.php?user=ACCOUNT&pwd=TOKEN" on the data server, as an absolute URL. The quote page
// is this URL alone; a series query is appended to it verbatim. This and the two below are
// empty for a service that is not usable.
std::string DataServerBaseUrl(const Endpoints& endpoints);

// An absolute URL on the maker's website; `path` starts with '/'.
std::string WebsiteUrl(const Endpoints& endpoints, std::string_view path);

// An absolute URL on the SMS gateway; `pathAndQuery` starts with '/'.
std::string SmsGatewayUrl(const Endpoints& endpoints, std::string_view pathAndQuery);

// $VELMORA_CONFIG when set, else $XDG_CONFIG_HOME/velmora/velmora.ini, else
// ~/.config/velmora/velmora.ini; empty when no home directory can be found.
std::filesystem::path DefaultEndpointsPath();

// The defaults overridden by the values of `file` (INI, as the settings store writes it). A
// missing file gives the defaults. A value that is malformed (a port outside 1..65535, a
// scheme other than http/https, text that cannot go into a URL unescaped) is ignored and the
// default stays, except in a service's scheme, host or port: that service is then not usable.
// Each malformed value, each unknown key, and a file that exists but cannot be read or parsed
// adds a line to `problems` when given. A relative CA file is made absolute against the
// current directory.
Endpoints LoadEndpoints(const std::filesystem::path& file,
                        std::vector<std::string>* problems = nullptr);

// The process's endpoints, loaded from DefaultEndpointsPath() on first use and kept for the
// run. The first use also prints the problems of the file on standard error.
const Endpoints& CurrentEndpoints();
// The problems found when CurrentEndpoints loaded the file (loading it if need be).
const std::vector<std::string>& CurrentEndpointsProblems();

} // namespace velmora
