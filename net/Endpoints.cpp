#include "net/Endpoints.h"

#include "platform/SettingsStore.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace velmora {

namespace fs = std::filesystem;

namespace {

int DefaultPort(std::string_view scheme) { return scheme == "https" ? 443 : 80; }

std::string BracketedHost(const std::string& host)
{
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

bool IsUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

// Credentials and codes go into URLs verbatim, so anything that would need escaping there
// would silently change the request.
bool SetUrlText(std::string& field, const std::string& value)
{
    if (value.empty())
        return false;
    for (char c : value) {
        if (!IsUnreserved(c))
            return false;
    }
    field = value;
    return true;
}

bool SetScheme(std::string& field, const std::string& value)
{
    if (value != "http" && value != "https")
        return false;
    field = value;
    return true;
}

bool SetHost(std::string& field, const std::string& value)
{
    std::string host = value;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    if (host.empty())
        return false;
    for (char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' ||
            c == '[' || c == ']')
            return false;
    }
    field = host;
    return true;
}

bool SetPort(int& field, const std::string& value)
{
    int port = 0;
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, port);
    if (error != std::errc() || stop != end || port < 1 || port > 65535)
        return false;
    field = port;
    return true;
}

bool SetWebAddress(std::string& field, const std::string& value)
{
    if (!value.starts_with("http://") && !value.starts_with("https://"))
        return false;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F)
            return false;
    }
    field = value;
    return true;
}

bool SetAnyText(std::string& field, const std::string& value)
{
    if (value.empty())
        return false;
    field = value;
    return true;
}

// An empty CA file is meaningful: back to the system store.
bool SetPath(std::string& field, const std::string& value)
{
    field = value;
    return true;
}

struct Key {
    std::string_view section;
    std::string_view name;
    bool (*apply)(Endpoints&, const std::string&);
};

// Every key of the configuration file; the defaults are the member initialisers of Endpoints.
const std::array<Key, 19> kKeys{{
    {"data_server", "scheme",
     [](Endpoints& e, const std::string& v) { return SetScheme(e.dataServer.scheme, v); }},
    {"data_server", "host",
     [](Endpoints& e, const std::string& v) { return SetHost(e.dataServer.host, v); }},
    {"data_server", "port",
     [](Endpoints& e, const std::string& v) { return SetPort(e.dataServer.port, v); }},
    {"data_server", "account",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.dataAccount, v); }},
    {"data_server", "token",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.dataToken, v); }},
    {"website", "scheme",
     [](Endpoints& e, const std::string& v) { return SetScheme(e.website.scheme, v); }},
    {"website", "host",
     [](Endpoints& e, const std::string& v) { return SetHost(e.website.host, v); }},
    {"website", "port",
     [](Endpoints& e, const std::string& v) { return SetPort(e.website.port, v); }},
    {"website", "access_code",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.accountAccessCode, v); }},
    {"website", "address",
     [](Endpoints& e, const std::string& v) { return SetWebAddress(e.makerWebsite, v); }},
    {"sms_gateway", "scheme",
     [](Endpoints& e, const std::string& v) { return SetScheme(e.smsGateway.scheme, v); }},
    {"sms_gateway", "host",
     [](Endpoints& e, const std::string& v) { return SetHost(e.smsGateway.host, v); }},
    {"sms_gateway", "port",
     [](Endpoints& e, const std::string& v) { return SetPort(e.smsGateway.port, v); }},
    {"sms_gateway", "user_id",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.smsUserId, v); }},
    {"sms_gateway", "account",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.smsAccount, v); }},
    {"sms_gateway", "password",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.smsPassword, v); }},
    {"sms_gateway", "staff_mobile",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.staffMobile, v); }},
    {"program", "config_access_code",
     [](Endpoints& e, const std::string& v) { return SetAnyText(e.configAccessCode, v); }},
    {"tls", "ca_file", [](Endpoints& e, const std::string& v) { return SetPath(e.caFile, v); }},
}};

void ApplyKey(const SettingsStore& store, const Key& key, Endpoints& endpoints,
              std::vector<std::string>* problems)
{
    std::string value;
    if (!store.Read(key.section, key.name, value))
        return;
    if (!key.apply(endpoints, value) && problems != nullptr) {
        problems->push_back(store.path().string() + ": [" + std::string(key.section) + "] " +
                            std::string(key.name) + "=" + value +
                            " is not a valid value; the default is kept");
    }
}

} // namespace

std::string ServiceAddress::origin() const
{
    std::string url = scheme + "://" + BracketedHost(host);
    if (port != DefaultPort(scheme))
        url += ":" + std::to_string(port);
    return url;
}

std::string ServiceAddress::hostLine(bool alwaysPort) const
{
    std::string line = BracketedHost(host);
    if (alwaysPort || port != DefaultPort(scheme))
        line += ":" + std::to_string(port);
    return line;
}

std::string DataServerBaseUrl(const Endpoints& endpoints)
{
    return endpoints.dataServer.origin() + "/testone.php?user=" + endpoints.dataAccount +
           "&pwd=" + endpoints.dataToken;
}

std::string WebsiteUrl(const Endpoints& endpoints, std::string_view path)
{
    return endpoints.website.origin() + std::string(path);
}

std::string SmsGatewayUrl(const Endpoints& endpoints, std::string_view pathAndQuery)
{
    return endpoints.smsGateway.origin() + std::string(pathAndQuery);
}

fs::path DefaultEndpointsPath() { return UserConfigFile("VELMORA_CONFIG", "velmora.ini"); }

Endpoints LoadEndpoints(const fs::path& file, std::vector<std::string>* problems)
{
    Endpoints endpoints;
    std::error_code error;
    if (file.empty() || !fs::exists(file, error))
        return endpoints;

    const SettingsStore store(file);
    // The file exists, so Prepare creates nothing; it only tells a corrupt file from one that
    // merely lacks a key.
    if (!store.Prepare()) {
        if (problems != nullptr)
            problems->push_back(file.string() +
                                ": cannot be read or parsed; the defaults are used");
        return endpoints;
    }
    for (const Key& key : kKeys)
        ApplyKey(store, key, endpoints, problems);
    return endpoints;
}

const Endpoints& CurrentEndpoints()
{
    static const Endpoints endpoints = LoadEndpoints(DefaultEndpointsPath());
    return endpoints;
}

} // namespace velmora
