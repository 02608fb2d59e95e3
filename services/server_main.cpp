// velmora-server: the reference services on loopback (the data server, the website's account
// pages and the SMS gateway), for demonstrations, tests and any deployment that needs them;
// and the operator's commands on the account database.

#include "BuildVersion.h"
#include "market/TextNumbers.h"
#include "net/Endpoints.h"
#include "net/SelfUpdate.h"
#include "platform/PosixFile.h"
#include "platform/SettingsStore.h"
#include "platform/TextCodec.h"
#include "services/AccountServer.h"
#include "services/AccountStore.h"
#include "services/DataServer.h"
#include "services/SmsGateway.h"
#include "services/WebsitePages.h"

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using velmora::services::Account;
using velmora::services::AccountServer;
using velmora::services::AccountServerOptions;
using velmora::services::AccountStore;
using velmora::services::DataServer;
using velmora::services::DataServerOptions;
using velmora::services::SmsGateway;
using velmora::services::SmsGatewayOptions;

// The usage on standard error with exit status 2, or as the answer to --help.
int Usage(std::FILE* out = stderr, int status = 2)
{
    std::fputs("usage: velmora-server [--host ADDR] [--port N] [--website-port N] [--sms-port N]\n"
               "                      [--db FILE] [--outbox FILE] [--hst DIR] [--seed N]\n"
               "                      [--history-days N] [--config FILE]\n"
               "                      [--cert PEM --key PEM] [--test-routes] [--fast-hashing]\n"
               "                      [--publish DIR] [--help-dir DIR]\n"
               "       velmora-server accounts list [--db FILE]\n"
               "       velmora-server accounts activate NAME [--db FILE]\n"
               "       velmora-server accounts add NAME PASSWORD [--active] [--db FILE]\n"
               "       velmora-server accounts waits [--db FILE]\n"
               "       velmora-server accounts clear-waits [NAME|ADDRESS] [--db FILE]\n"
               "       velmora-server publish --version V --program FILE [--key FILE] "
               "[--publish DIR]\n"
               "       velmora-server --help | --version\n"
               "exit status: 0 stopped by SIGINT or SIGTERM, command done; 1 a service, file or\n"
               "account could not be used; 2 bad arguments\n",
               out);
    return status;
}

// The services' settings from the command line.
struct ServeOptions {
    DataServerOptions data;
    AccountServerOptions website;
    SmsGatewayOptions sms;
    std::string configFile;
    // The configured ports unless given.
    int port = -1;
    int websitePort = -1;
    int smsPort = -1;
};

// One of the operator's commands on the account database.
struct AccountsOptions {
    enum class Command { List, Activate, Add, Waits, ClearWaits };
    Command command = Command::List;
    std::filesystem::path db;
    std::string name; // of activate and add; clear-waits: a name or address, or empty for all
    std::string password;
    bool active = false;
};

struct PublishOptions {
    std::string version;
    std::filesystem::path program;
    std::filesystem::path keyFile;
    std::filesystem::path dir;
};

bool ParsePort(std::string_view text, int& port)
{
    return velmora::ParseExactNumber(text, port) && port >= 0 && port <= 65535;
}

// The words after "accounts"; nullopt when they make no command.
std::optional<AccountsOptions> ParseAccountsArguments(int argc, char** argv)
{
    using Command = AccountsOptions::Command;
    AccountsOptions options;
    options.db = velmora::services::DefaultDataFile("accounts.db");
    std::vector<std::string> words;
    for (int i = 0; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--db" && i + 1 < argc)
            options.db = argv[++i];
        else if (word == "--active")
            options.active = true;
        else if (word.starts_with("--"))
            return std::nullopt;
        else
            words.emplace_back(word);
    }
    // Not `? "" : words[0]`: that makes a temporary std::string the view would outlive.
    const std::string_view command = words.empty() ? std::string_view() : words[0];
    if (command == "list" && words.size() == 1) {
        options.command = Command::List;
    } else if (command == "activate" && words.size() == 2) {
        options.command = Command::Activate;
        options.name = words[1];
    } else if (command == "add" && words.size() == 3) {
        options.command = Command::Add;
        options.name = words[1];
        options.password = words[2];
    } else if (command == "waits" && words.size() == 1) {
        options.command = Command::Waits;
    } else if (command == "clear-waits" && (words.size() == 1 || words.size() == 2)) {
        options.command = Command::ClearWaits;
        options.name = words.size() == 2 ? words[1] : "";
    } else {
        return std::nullopt;
    }
    if (options.active && options.command != Command::Add)
        return std::nullopt;
    return options;
}

// The words after "publish": options with a value each.
std::optional<PublishOptions> ParsePublishArguments(int argc, char** argv)
{
    PublishOptions options;
    options.dir = velmora::services::DefaultPublishDir();
    bool haveVersion = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const char* value = argv[++i];
        if (option == "--version") {
            options.version = value;
            haveVersion = true;
        } else if (option == "--program") {
            options.program = value;
        } else if (option == "--key") {
            options.keyFile = value;
        } else if (option == "--publish") {
            options.dir = value;
        } else {
            return std::nullopt;
        }
    }
    if (!haveVersion || options.program.empty() || options.dir.empty())
        return std::nullopt;
    return options;
}

// The words of a run of the services, after the program's name.
std::optional<ServeOptions> ParseServeArguments(int argc, char** argv)
{
    ServeOptions options;
    options.website.db = velmora::services::DefaultDataFile("accounts.db");
    options.website.publishDir = velmora::services::DefaultPublishDir();
    options.website.helpDir = velmora::services::DefaultHelpDir();
    options.sms.outbox = velmora::services::DefaultDataFile("sms-outbox.txt");
    DataServerOptions& data = options.data;
    for (int i = 0; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--test-routes") {
            data.testRoutes = true;
            continue;
        }
        if (option == "--fast-hashing") {
            options.website.hashCost = velmora::services::HashCost::Minimum;
            continue;
        }
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string_view value = argv[++i];
        if (option == "--host")
            data.host = value;
        else if (option == "--port" && ParsePort(value, options.port))
            continue;
        else if (option == "--website-port" && ParsePort(value, options.websitePort))
            continue;
        else if (option == "--sms-port" && ParsePort(value, options.smsPort))
            continue;
        else if (option == "--db")
            options.website.db = value;
        else if (option == "--publish")
            options.website.publishDir = value;
        else if (option == "--help-dir")
            options.website.helpDir = value;
        else if (option == "--outbox")
            options.sms.outbox = value;
        else if (option == "--hst")
            data.historyDir = value;
        else if (option == "--seed" && velmora::ParseExactNumber(value, data.seed))
            continue;
        else if (option == "--history-days" && velmora::ParseExactNumber(value, data.historyDays) &&
                 data.historyDays > 0 && data.historyDays <= 20000)
            continue;
        else if (option == "--config")
            options.configFile = value;
        else if (option == "--cert")
            data.certFile = value;
        else if (option == "--key")
            data.keyFile = value;
        else
            return std::nullopt;
    }
    if (data.certFile.empty() != data.keyFile.empty())
        return std::nullopt;
    return options;
}

// Kind, account, address, failures, seconds still to wait, latest failure (UTC).
int ListWaits(AccountStore& store)
{
    const std::int64_t now = std::time(nullptr);
    for (const velmora::services::LoginFailures& entry : store.allLoginFailures()) {
        const std::time_t last = entry.last;
        char when[32] = "";
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::gmtime(&last));
        std::printf("%s\t%s\t%s\t%d\t%lld\t%s\n", entry.kind.c_str(),
                    velmora::EscapeControlBytes(entry.name).c_str(),
                    velmora::EscapeControlBytes(entry.address).c_str(), entry.failures,
                    static_cast<long long>(std::max<std::int64_t>(entry.until - now, 0)), when);
    }
    return 0;
}

int ClearWaits(AccountStore& store, const std::string& who)
{
    const int cleared = store.clearLoginFailures(who);
    std::printf("cleared %d\n", cleared);
    return 0;
}

int ListAccounts(AccountStore& store)
{
    for (const Account& account : store.all()) {
        std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", velmora::EscapeControlBytes(account.name).c_str(),
                    account.active ? "active" : "inactive",
                    velmora::EscapeControlBytes(account.alias).c_str(),
                    velmora::EscapeControlBytes(account.mail).c_str(),
                    velmora::EscapeControlBytes(account.telphone).c_str(), account.created.c_str());
    }
    return 0;
}

int ActivateAccount(AccountStore& store, const std::string& name)
{
    if (!store.activate(name)) {
        std::fprintf(stderr, "velmora-server: no account %s\n",
                     velmora::EscapeControlBytes(name).c_str());
        return 1;
    }
    std::printf("activated %s\n", velmora::EscapeControlBytes(name).c_str());
    return 0;
}

int AddAccount(AccountStore& store, const AccountsOptions& options)
{
    Account account;
    account.name = options.name;
    account.alias = options.name;
    account.active = options.active;
    account.passwordHash =
        velmora::services::HashPassword(options.password, velmora::services::HashCost::Interactive);
    const AccountStore::Added added =
        account.passwordHash.empty() ? AccountStore::Added::Failed : store.add(account);
    const std::string name = velmora::EscapeControlBytes(options.name);
    if (added != AccountStore::Added::Ok) {
        std::fprintf(stderr, "velmora-server: %s: %s\n", name.c_str(),
                     added == AccountStore::Added::NameTaken ? "the name is taken"
                                                             : "the account cannot be stored");
        return 1;
    }
    std::printf("added %s (%s)\n", name.c_str(), options.active ? "active" : "inactive");
    return 0;
}

// The operator's commands: names and passwords are UTF-8 here, as typed in a terminal.
int RunAccountCommand(const AccountsOptions& options)
{
    using Command = AccountsOptions::Command;
    std::string error;
    const std::unique_ptr<AccountStore> store = AccountStore::open(options.db, &error);
    if (!store) {
        std::fprintf(stderr, "velmora-server: %s\n", error.c_str());
        return 1;
    }
    switch (options.command) {
    case Command::List:
        return ListAccounts(*store);
    case Command::Activate:
        return ActivateAccount(*store, options.name);
    case Command::Add:
        return AddAccount(*store, options);
    case Command::Waits:
        return ListWaits(*store);
    case Command::ClearWaits:
        return ClearWaits(*store, options.name);
    }
    return 2;
}

// Signs and publishes a new version. The key file holds the signing key's 32-byte seed as 64
// hexadecimal digits; without one the demo key signs.
int RunPublishCommand(const PublishOptions& options)
{
    std::string seed(velmora::services::kDemoUpdateSeed);
    if (!options.keyFile.empty()) {
        const velmora::ReadableFile key = velmora::OpenForReading(options.keyFile);
        seed.clear();
        if (!key.ok() || !velmora::ReadToEnd(key.fd.get(), seed, 4096)) {
            std::fprintf(stderr, "velmora-server: %s: cannot be read\n", options.keyFile.c_str());
            return 1;
        }
        while (!seed.empty() && (seed.back() == '\n' || seed.back() == '\r' || seed.back() == ' '))
            seed.pop_back();
    }
    std::string error;
    if (!velmora::services::PublishUpdate(options.dir, options.version, options.program, seed,
                                          &error)) {
        std::fprintf(stderr, "velmora-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("published %s in %s (public key %s)\n", options.version.c_str(),
                options.dir.c_str(), velmora::PublicKeyOfSeed(seed).c_str());
    return 0;
}

// The endpoints of the configuration named on the command line, or of the default one. A
// configuration named must be the one used: falling back to the built-in account would let
// in clients this server was not set up for.
std::optional<velmora::Endpoints> LoadConfiguration(const std::string& configFile)
{
    if (!configFile.empty()) {
        const velmora::ReadableFile config = velmora::OpenForReading(configFile);
        std::string reason = config.ok() ? "" : config.reason();
        if (config.ok() && !velmora::SettingsStore(configFile).readAll())
            reason = "not a settings file";
        if (!reason.empty()) {
            std::fprintf(stderr, "velmora-server: %s: cannot be used (%s)\n", configFile.c_str(),
                         reason.c_str());
            return std::nullopt;
        }
    }
    std::vector<std::string> problems;
    velmora::Endpoints endpoints = velmora::LoadEndpoints(
        configFile.empty() ? velmora::DefaultEndpointsPath() : std::filesystem::path(configFile),
        &problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "velmora-server: %s\n", problem.c_str());
    return endpoints;
}

// Serves until SIGINT or SIGTERM.
int RunServices(ServeOptions options)
{
    const std::optional<velmora::Endpoints> endpoints = LoadConfiguration(options.configFile);
    if (!endpoints)
        return 1;
    DataServerOptions& data = options.data;
    data.account = endpoints->dataAccount;
    data.token = endpoints->dataToken;
    data.port = options.port >= 0 ? options.port : endpoints->dataServer.port;
    AccountServerOptions& website = options.website;
    website.host = data.host;
    website.port = options.websitePort >= 0 ? options.websitePort : endpoints->website.port;
    website.accessCode = endpoints->accountAccessCode;
    SmsGatewayOptions& sms = options.sms;
    sms.host = data.host;
    sms.port = options.smsPort >= 0 ? options.smsPort : endpoints->smsGateway.port;
    sms.userId = endpoints->smsUserId;
    sms.account = endpoints->smsAccount;
    sms.password = endpoints->smsPassword;

    // The serving threads inherit this mask, so the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DataServer server(data);
    AccountServer accounts(website);
    SmsGateway gateway(sms);
    std::string error;
    if (!server.start(&error) || !accounts.start(&error) || !gateway.start(&error)) {
        std::fprintf(stderr, "velmora-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("data listening on %s\nwebsite listening on %s\nsms listening on %s\n",
                server.url().c_str(), accounts.url().c_str(), gateway.url().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    // Every service breaks off its connections at once; this only guards against one that
    // does not (a TLS connection, whose reads the guard does not see).
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        std::fputs("velmora-server: connections still open; leaving them\n", stderr);
        ::_exit(0);
    }).detach();
    gateway.stop();
    accounts.stop();
    server.stop();
    std::fprintf(stderr, "velmora-server: stopped by signal %d\n", signal);
    return 0;
}

int PrintVersion()
{
    std::printf("velmora-server %s\n", velmora::kProgramVersion);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string_view first = argc >= 2 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "-h"))
        return Usage(stdout, 0);
    if (argc == 2 && first == "--version")
        return PrintVersion();
    if (first == "accounts") {
        const std::optional<AccountsOptions> options = ParseAccountsArguments(argc - 2, argv + 2);
        return options ? RunAccountCommand(*options) : Usage();
    }
    if (first == "publish") {
        const std::optional<PublishOptions> options = ParsePublishArguments(argc - 2, argv + 2);
        return options ? RunPublishCommand(*options) : Usage();
    }
    const std::optional<ServeOptions> options = ParseServeArguments(argc - 1, argv + 1);
    return options ? RunServices(*options) : Usage();
}
