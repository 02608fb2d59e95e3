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
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The usage on standard error with exit status 2, or as the answer to --help.
int usage(std::FILE* out = stderr, int status = 2)
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

bool ParsePort(std::string_view text, int& port)
{
    return velmora::ParseExactNumber(text, port) && port >= 0 && port <= 65535;
}

// The operator's commands: names and passwords are UTF-8 here, as typed in a terminal.
int RunAccountCommand(int argc, char** argv)
{
    using velmora::services::Account;
    using velmora::services::AccountStore;
    std::vector<std::string> words;
    std::filesystem::path db = velmora::services::DefaultDataFile("accounts.db");
    bool active = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--db" && i + 1 < argc)
            db = argv[++i];
        else if (word == "--active")
            active = true;
        else if (word.starts_with("--"))
            return usage();
        else
            words.emplace_back(word);
    }
    const bool list = words.size() == 1 && words[0] == "list";
    const bool activate = words.size() == 2 && words[0] == "activate";
    const bool add = words.size() == 3 && words[0] == "add";
    const bool waits = words.size() == 1 && words[0] == "waits";
    const bool clearWaits = (words.size() == 1 || words.size() == 2) && words[0] == "clear-waits";
    if (!list && !activate && !add && !waits && !clearWaits)
        return usage();
    if (active && !add)
        return usage();

    std::string error;
    const std::unique_ptr<AccountStore> store = AccountStore::Open(db, error);
    if (!store) {
        std::fprintf(stderr, "velmora-server: %s\n", error.c_str());
        return 1;
    }
    if (waits) {
        // Kind, account, address, failures, seconds still to wait, latest failure (UTC).
        const std::int64_t now = std::time(nullptr);
        for (const velmora::services::LoginFailures& entry : store->allLoginFailures()) {
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
    if (clearWaits) {
        const int cleared = store->clearLoginFailures(words.size() == 2 ? words[1] : "");
        std::printf("cleared %d\n", cleared);
        return 0;
    }
    if (list) {
        for (const Account& account : store->all()) {
            std::printf(
                "%s\t%s\t%s\t%s\t%s\t%s\n", velmora::EscapeControlBytes(account.name).c_str(),
                account.active ? "active" : "inactive",
                velmora::EscapeControlBytes(account.alias).c_str(),
                velmora::EscapeControlBytes(account.mail).c_str(),
                velmora::EscapeControlBytes(account.telphone).c_str(), account.created.c_str());
        }
        return 0;
    }
    const std::string& name = words[1];
    if (activate) {
        if (!store->activate(name)) {
            std::fprintf(stderr, "velmora-server: no account %s\n",
                         velmora::EscapeControlBytes(name).c_str());
            return 1;
        }
        std::printf("activated %s\n", velmora::EscapeControlBytes(name).c_str());
        return 0;
    }
    Account account;
    account.name = name;
    account.alias = name;
    account.active = active;
    account.passwordHash =
        velmora::services::HashPassword(words[2], velmora::services::HashCost::Interactive);
    const AccountStore::Added added =
        account.passwordHash.empty() ? AccountStore::Added::Failed : store->add(account);
    if (added != AccountStore::Added::Ok) {
        std::fprintf(stderr, "velmora-server: %s: %s\n", velmora::EscapeControlBytes(name).c_str(),
                     added == AccountStore::Added::NameTaken ? "the name is taken"
                                                             : "the account cannot be stored");
        return 1;
    }
    std::printf("added %s (%s)\n", velmora::EscapeControlBytes(name).c_str(),
                active ? "active" : "inactive");
    return 0;
}

// Signs and publishes a new version. The key file holds the signing key's 32-byte seed as 64
// hexadecimal digits; without one the demo key signs.
int RunPublishCommand(int argc, char** argv)
{
    std::string version;
    std::filesystem::path program;
    std::filesystem::path keyFile;
    std::filesystem::path dir = velmora::services::DefaultPublishDir();
    bool haveVersion = false;
    for (int i = 0; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (i + 1 >= argc)
            return usage();
        const char* value = argv[++i];
        if (option == "--version") {
            version = value;
            haveVersion = true;
        } else if (option == "--program") {
            program = value;
        } else if (option == "--key") {
            keyFile = value;
        } else if (option == "--publish") {
            dir = value;
        } else {
            return usage();
        }
    }
    if (!haveVersion || program.empty() || dir.empty())
        return usage();
    std::string seed(velmora::services::kDemoUpdateSeed);
    if (!keyFile.empty()) {
        const velmora::ReadableFile key = velmora::OpenForReading(keyFile);
        seed.clear();
        if (!key.ok() || !velmora::ReadToEnd(key.fd.get(), seed, 4096)) {
            std::fprintf(stderr, "velmora-server: %s: cannot be read\n", keyFile.c_str());
            return 1;
        }
        while (!seed.empty() && (seed.back() == '\n' || seed.back() == '\r' || seed.back() == ' '))
            seed.pop_back();
    }
    std::string error;
    if (!velmora::services::PublishUpdate(dir, version, program, seed, error)) {
        std::fprintf(stderr, "velmora-server: %s\n", error.c_str());
        return 1;
    }
    std::printf("published %s in %s (public key %s)\n", version.c_str(), dir.c_str(),
                velmora::PublicKeyOfSeed(seed).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    using velmora::services::DataServer;
    using velmora::services::DataServerOptions;

    using velmora::services::AccountServer;
    using velmora::services::AccountServerOptions;
    using velmora::services::SmsGateway;
    using velmora::services::SmsGatewayOptions;

    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h"))
        return usage(stdout, 0);
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("velmora-server %s\n", velmora::kProgramVersion);
        return 0;
    }
    if (argc >= 2 && std::string_view(argv[1]) == "accounts")
        return RunAccountCommand(argc - 2, argv + 2);
    if (argc >= 2 && std::string_view(argv[1]) == "publish")
        return RunPublishCommand(argc - 2, argv + 2);

    DataServerOptions options;
    AccountServerOptions website;
    SmsGatewayOptions sms;
    website.db = velmora::services::DefaultDataFile("accounts.db");
    website.publishDir = velmora::services::DefaultPublishDir();
    website.helpDir = velmora::services::DefaultHelpDir();
    sms.outbox = velmora::services::DefaultDataFile("sms-outbox.txt");
    std::string configFile;
    // The configured ports unless given.
    int port = -1;
    int websitePort = -1;
    int smsPort = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--test-routes") {
            options.testRoutes = true;
            continue;
        }
        if (option == "--fast-hashing") {
            website.hashCost = velmora::services::HashCost::Minimum;
            continue;
        }
        if (i + 1 >= argc)
            return usage();
        const std::string_view value = argv[++i];
        if (option == "--host")
            options.host = value;
        else if (option == "--port" && ParsePort(value, port))
            continue;
        else if (option == "--website-port" && ParsePort(value, websitePort))
            continue;
        else if (option == "--sms-port" && ParsePort(value, smsPort))
            continue;
        else if (option == "--db")
            website.db = value;
        else if (option == "--publish")
            website.publishDir = value;
        else if (option == "--help-dir")
            website.helpDir = value;
        else if (option == "--outbox")
            sms.outbox = value;
        else if (option == "--hst")
            options.historyDir = value;
        else if (option == "--seed" && velmora::ParseExactNumber(value, options.seed))
            continue;
        else if (option == "--history-days" &&
                 velmora::ParseExactNumber(value, options.historyDays) && options.historyDays > 0 &&
                 options.historyDays <= 20000)
            continue;
        else if (option == "--config")
            configFile = value;
        else if (option == "--cert")
            options.certFile = value;
        else if (option == "--key")
            options.keyFile = value;
        else
            return usage();
    }
    if (options.certFile.empty() != options.keyFile.empty())
        return usage();

    // A configuration named on the command line must be the one used: falling back to the
    // built-in account would let in clients this server was not set up for.
    if (!configFile.empty()) {
        const velmora::ReadableFile config = velmora::OpenForReading(configFile);
        std::string reason = config.ok() ? "" : config.reason();
        if (config.ok() && !velmora::SettingsStore(configFile).ReadAll())
            reason = "not a settings file";
        if (!reason.empty()) {
            std::fprintf(stderr, "velmora-server: %s: cannot be used (%s)\n", configFile.c_str(),
                         reason.c_str());
            return 1;
        }
    }
    std::vector<std::string> problems;
    const velmora::Endpoints endpoints = velmora::LoadEndpoints(
        configFile.empty() ? velmora::DefaultEndpointsPath() : std::filesystem::path(configFile),
        &problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "velmora-server: %s\n", problem.c_str());
    options.account = endpoints.dataAccount;
    options.token = endpoints.dataToken;
    options.port = port >= 0 ? port : endpoints.dataServer.port;
    website.host = options.host;
    website.port = websitePort >= 0 ? websitePort : endpoints.website.port;
    website.accessCode = endpoints.accountAccessCode;
    sms.host = options.host;
    sms.port = smsPort >= 0 ? smsPort : endpoints.smsGateway.port;
    sms.userId = endpoints.smsUserId;
    sms.account = endpoints.smsAccount;
    sms.password = endpoints.smsPassword;

    // The serving threads inherit this mask, so the signals reach only sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    DataServer server(options);
    AccountServer accounts(website);
    SmsGateway gateway(sms);
    std::string error;
    if (!server.start(error) || !accounts.start(error) || !gateway.start(error)) {
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
