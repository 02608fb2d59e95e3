#include "net/Endpoints.h"

#include "platform/AsciiText.h"
#include "platform/ExactNumber.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>

namespace velmora {

namespace fs = std::filesystem;

namespace {

int DefaultPort(std::string_view scheme) { return scheme == "https" ? 443 : 80; }

std::string BracketedHost(const std::string& host)
{
    return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

// Credentials and codes go into URLs verbatim, so anything that would need escaping there
// would silently change the request.
bool SetUrlText(std::string& field, const std::string& value)
{
    if (value.empty())
        return false;
    for (char c : value) {
        if (!IsUrlUnreserved(c))
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
        if (IsAsciiControl(c) || c == ' ' || c == '/' || c == '?' || c == '#' || c == '@' ||
            c == '[' || c == ']')
            return false;
    }
    field = host;
    return true;
}

bool SetPort(int& field, const std::string& value)
{
    const std::optional<int> port = ParseExactNumber<int>(value);
    if (!port || *port < 1 || *port > 65535)
        return false;
    field = *port;
    return true;
}

bool SetWebAddress(std::string& field, const std::string& value)
{
    if (!value.starts_with("http://") && !value.starts_with("https://"))
        return false;
    if (std::any_of(value.begin(), value.end(),
                    [](char c) { return IsAsciiControl(c) || c == ' '; }))
        return false;
    field = value;
    return true;
}

// Whole minutes, at least one and at most a week.
bool SetMinutes(int& field, const std::string& value)
{
    const std::optional<int> minutes = ParseExactNumber<int>(value);
    if (!minutes || *minutes < 1 || *minutes > 7 * 24 * 60)
        return false;
    field = *minutes;
    return true;
}

bool SetAnyText(std::string& field, const std::string& value)
{
    if (value.empty())
        return false;
    field = value;
    return true;
}

// An empty CA file is meaningful: back to the system store. A relative one is taken from the
// directory the program was started in, and made absolute at once: velmora-tool moves to a
// folder of its own before it connects.
bool SetPath(std::string& field, const std::string& value)
{
    std::error_code error;
    const fs::path path = value.empty() ? fs::path() : fs::absolute(value, error);
    if (error)
        return false;
    field = path.string();
    return true;
}

// 32 bytes as 64 hexadecimal digits, kept in lower case.
bool SetPublicKey(std::string& field, const std::string& value)
{
    if (value.size() != 64 || !std::all_of(value.begin(), value.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        }))
        return false;
    field = value;
    std::transform(field.begin(), field.end(), field.begin(),
                   [](char c) { return c >= 'A' && c <= 'F' ? static_cast<char>(c + 32) : c; });
    return true;
}

struct Key {
    std::string_view section;
    std::string_view name;
    bool (*apply)(Endpoints&, const std::string&);
    // The address this key is part of: a malformed part disables the whole service, since
    // the default in its place would send the configured credentials somewhere else.
    ServiceAddress Endpoints::*service = nullptr;
    bool secret = false; // its value is never repeated in a report
};

constexpr ServiceAddress Endpoints::*kDataServer = &Endpoints::dataServer;
constexpr ServiceAddress Endpoints::*kWebsite = &Endpoints::website;
constexpr ServiceAddress Endpoints::*kSmsGateway = &Endpoints::smsGateway;

// Every key of the configuration file; the defaults are the member initialisers of Endpoints.
const std::array<Key, 21> kKeys{{
    {"data_server", "scheme",
     [](Endpoints& e, const std::string& v) { return SetScheme(e.dataServer.scheme, v); },
     kDataServer},
    {"data_server", "host",
     [](Endpoints& e, const std::string& v) { return SetHost(e.dataServer.host, v); }, kDataServer},
    {"data_server", "port",
     [](Endpoints& e, const std::string& v) { return SetPort(e.dataServer.port, v); }, kDataServer},
    {"data_server", "account",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.dataAccount, v); }},
    {"data_server", "token",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.dataToken, v); }, nullptr, true},
    {"website", "scheme",
     [](Endpoints& e, const std::string& v) { return SetScheme(e.website.scheme, v); }, kWebsite},
    {"website", "host",
     [](Endpoints& e, const std::string& v) { return SetHost(e.website.host, v); }, kWebsite},
    {"website", "port",
     [](Endpoints& e, const std::string& v) { return SetPort(e.website.port, v); }, kWebsite},
    {"website", "access_code",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.accountAccessCode, v); }, nullptr,
     true},
    {"website", "address",
     [](Endpoints& e, const std::string& v) { return SetWebAddress(e.makerWebsite, v); }},
    {"sms_gateway", "scheme",
     [](Endpoints& e, const std::string& v) { return SetScheme(e.smsGateway.scheme, v); },
     kSmsGateway},
    {"sms_gateway", "host",
     [](Endpoints& e, const std::string& v) { return SetHost(e.smsGateway.host, v); }, kSmsGateway},
    {"sms_gateway", "port",
     [](Endpoints& e, const std::string& v) { return SetPort(e.smsGateway.port, v); }, kSmsGateway},
    {"sms_gateway", "user_id",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.smsUserId, v); }},
    {"sms_gateway", "account",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.smsAccount, v); }},
    {"sms_gateway", "password",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.smsPassword, v); }, nullptr,
     true},
    {"sms_gateway", "staff_mobile",
     [](Endpoints& e, const std::string& v) { return SetUrlText(e.staffMobile, v); }},
    {"program", "config_access_code",
     [](Endpoints& e, const std::string& v) { return SetAnyText(e.configAccessCode, v); }, nullptr,
     true},
    {"program", "stale_quote_minutes",
     [](Endpoints& e, const std::string& v) { return SetMinutes(e.staleQuoteMinutes, v); }},
    {"tls", "ca_file", [](Endpoints& e, const std::string& v) { return SetPath(e.caFile, v); }},
    {"update", "public_key",
     [](Endpoints& e, const std::string& v) { return SetPublicKey(e.updatePublicKey, v); }},
}};

const Key* FindKey(std::string_view section, std::string_view name)
{
    for (const Key& key : kKeys) {
        if (SameAsciiName(key.section, section) && SameAsciiName(key.name, name))
            return &key;
    }
    return nullptr;
}

// Reports go to a terminal and a message box; a control byte must not break their lines.
std::string Printable(std::string_view text) { return EscapeControlBytes(text); }

std::string_view ServiceName(ServiceAddress Endpoints::*service)
{
    if (service == kDataServer)
        return "the data server";
    if (service == kWebsite)
        return "the website";
    return "the SMS gateway";
}

} // namespace

bool ServiceAddress::usable() const { return !host.empty(); }

std::string ServiceAddress::origin() const
{
    if (!usable())
        return {};
    std::string url = scheme + "://" + BracketedHost(host);
    if (port != DefaultPort(scheme))
        url += ":" + std::to_string(port);
    return url;
}

std::string ServiceAddress::hostLine(bool alwaysPort) const
{
    if (!usable())
        return {};
    std::string line = BracketedHost(host);
    if (alwaysPort || port != DefaultPort(scheme))
        line += ":" + std::to_string(port);
    return line;
}

std::string DataServerBaseUrl(const Endpoints& endpoints)
{
    if (!endpoints.dataServer.usable())
        return {};
    return endpoints.dataServer.origin() + "/testone.php?user=" + endpoints.dataAccount +
           "&pwd=" + endpoints.dataToken;
}

std::string WebsiteUrl(const Endpoints& endpoints, std::string_view path)
{
    if (!endpoints.website.usable())
        return {};
    return endpoints.website.origin() + std::string(path);
}

std::string SmsGatewayUrl(const Endpoints& endpoints, std::string_view pathAndQuery)
{
    if (!endpoints.smsGateway.usable())
        return {};
    return endpoints.smsGateway.origin() + std::string(pathAndQuery);
}

fs::path DefaultEndpointsPath() { return UserConfigFile("VELMORA_CONFIG", "velmora.ini"); }

Endpoints LoadEndpoints(const fs::path& file, std::vector<std::string>* problems)
{
    Endpoints endpoints;
    auto report = [&](const std::string& text) {
        if (problems != nullptr)
            problems->push_back(file.string() + ": " + text);
    };
    if (file.empty())
        return endpoints;

    // A missing file reads as an empty one: nothing configured, nothing to report.
    const std::optional<std::vector<SettingsValue>> values = SettingsStore(file).readAll();
    if (!values) {
        report("cannot be read or parsed; the defaults are used");
        return endpoints;
    }
    std::vector<ServiceAddress Endpoints::*> disabled;
    for (const SettingsValue& entry : *values) {
        const std::string setting = "[" + Printable(entry.section) + "] " + Printable(entry.name);
        const Key* key = FindKey(entry.section, entry.name);
        if (key == nullptr) {
            report(setting + " is not a setting of the program; it is ignored");
            continue;
        }
        if (key->apply(endpoints, entry.value))
            continue;
        const std::string shown = key->secret ? setting : setting + "=" + Printable(entry.value);
        if (key->service != nullptr) {
            disabled.push_back(key->service);
            report(shown + " is not a valid value; nothing is sent to " +
                   std::string(ServiceName(key->service)));
        } else {
            report(shown + " is not a valid value; the default is kept");
        }
    }
    for (ServiceAddress Endpoints::*service : disabled)
        (endpoints.*service).host.clear();
    return endpoints;
}

namespace {

struct LoadedEndpoints {
    Endpoints endpoints;
    std::vector<std::string> problems;
};

const LoadedEndpoints& Loaded()
{
    static const LoadedEndpoints loaded = [] {
        LoadedEndpoints result;
        result.endpoints = LoadEndpoints(DefaultEndpointsPath(), &result.problems);
        for (const std::string& problem : result.problems)
            std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, problem.c_str());
        return result;
    }();
    return loaded;
}

} // namespace

const Endpoints& CurrentEndpoints() { return Loaded().endpoints; }

const std::vector<std::string>& CurrentEndpointsProblems() { return Loaded().problems; }

} // namespace velmora
