#include "platform/TextCodec.h"
#include "services/AccountServer.h"
#include "services/AccountStore.h"
#include "services/GuardedServer.h"
#include "services/LoginGuard.h"
#include "services/SmsGateway.h"
#include "tests/support/TestSupport.h"

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

using namespace services;

const std::string kForm = "application/x-www-form-urlencoded";
const std::string kLogin = "/weborbalt/chklogin.asp?getcode=" + Endpoints{}.accountAccessCode;
const std::string kRegister = "/weborbalt/register.asp?action=add";
const std::string kModify = "/weborbalt/register.asp?action=mod";
const std::string kLogout = "/weborbalt/logout.asp";

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The bodies as the program builds them: raw GBK, nothing percent-encoded.
std::string Details(const std::string& name, const std::string& password, const std::string& alias,
                    const std::string& mail = "a@b.cn", const std::string& telphone = "13800000000")
{
    return Utf8ToGbk("username=" + name + "&password=" + password + "&alias=" + alias +
                     "&mail=" + mail + "&telphone=" + telphone + "&channel=ORBALT");
}

std::string Credentials(const std::string& name, const std::string& password)
{
    return Utf8ToGbk("username=" + name + "&password=" + password + "&channel=ORBALT");
}

class AccountServerTest : public ::testing::Test {
protected:
    void SetUp() override { start({}); }

    // (Re)starts the server on the test's database and clock.
    void start(AccountServerOptions options)
    {
        server.reset();
        options.db = dir / "accounts.db";
        options.hashCost = HashCost::Minimum;
        options.clock = [this] { return clock.load(); };
        server = std::make_unique<AccountServer>(options);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
        client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
        store = AccountStore::open(dir / "accounts.db", &error);
        ASSERT_TRUE(store) << error;
    }

    // The reply body in UTF-8; empty when the request failed.
    std::string post(const std::string& path, const std::string& body,
                     httplib::Headers headers = {})
    {
        auto result = client->Post(path.c_str(), headers, body, kForm.c_str());
        last.reset();
        if (result)
            last = *result;
        return last ? GbkToUtf8(last->body) : std::string();
    }

    void addActive(const std::string& name, const std::string& password)
    {
        ASSERT_TRUE(
            Has(post(kRegister, Details(name, password, name)), "[User registration success!]"));
        ASSERT_TRUE(store->activate(name));
    }

    test::TempDir dir;
    std::atomic<std::int64_t> clock{1000};
    std::unique_ptr<AccountServer> server;
    std::unique_ptr<httplib::Client> client;
    std::unique_ptr<AccountStore> store;
    std::optional<httplib::Response> last;
};

TEST_F(AccountServerTest, RegisterActivateLoginModifyLogout)
{
    std::string reply = post(kRegister, Details("张三", "pw1-long", "小张"));
    EXPECT_TRUE(Has(reply, "retcode") && Has(reply, "[User registration success!]")) << reply;
    // The name is taken whatever its letter case.
    reply = post(kRegister, Details("张三", "other-pw", "x"));
    EXPECT_TRUE(Has(reply, "retcode") && !Has(reply, "success") && Has(reply, "已被使用")) << reply;

    // Inactive until an operator switches it on; the password must still be right to learn so.
    reply = post(kLogin, Credentials("张三", "pw1-long"));
    EXPECT_FALSE(Has(reply, "login success"));
    EXPECT_TRUE(Has(reply, "激活")) << reply;
    EXPECT_FALSE(last->has_header("Set-Cookie"));
    ASSERT_TRUE(store->activate("张三"));

    reply = post(kLogin, Credentials("张三", "pw1-long"));
    ASSERT_TRUE(Has(reply, "login success")) << reply;
    EXPECT_TRUE(Has(reply, "alias=小张|mail=a@b.cn|telphone=13800000000|type=1|valid=20")) << reply;
    const std::string cookie = last->get_header_value("Set-Cookie");
    EXPECT_TRUE(cookie.starts_with("vsid=") && Has(cookie, "HttpOnly")) << cookie;
    const std::string session = cookie.substr(0, cookie.find(';'));

    reply = post(kModify, Details("张三", "wrong", "老张", "z@z.cn", "13900000000"));
    EXPECT_TRUE(Has(reply, "retcode") && Has(reply, "密码错误")) << reply;
    reply = post(kModify, Details("张三", "pw1-long", "老张", "z@z.cn", "13900000000"));
    EXPECT_TRUE(Has(reply, "retcode=0")) << reply;
    reply = post(kLogin, Credentials("张三", "pw1-long"));
    EXPECT_TRUE(Has(reply, "alias=老张|mail=z@z.cn|telphone=13900000000|")) << reply;

    EXPECT_EQ(post(kLogout, Utf8ToGbk("username=张三&channel=ORBALT"), {{"Cookie", session}}), "");
    ASSERT_TRUE(last && last->status == 200);
    EXPECT_TRUE(Has(last->get_header_value("Set-Cookie"), "Max-Age=0"));
    // The session is gone: the same cookie ends nothing any more.
    EXPECT_EQ(post(kLogout, "username=x&channel=ORBALT", {{"Cookie", session}}), "");
    EXPECT_FALSE(last->has_header("Set-Cookie"));
}

TEST_F(AccountServerTest, RefusesWrongPasswordsUnknownNamesAndAWrongAccessCode)
{
    addActive("li", "right-pw");
    EXPECT_TRUE(Has(post(kLogin, Credentials("li", "wrong")), "密码错误"));
    EXPECT_TRUE(Has(post(kLogin, Credentials("nobody", "right-pw")), "密码错误"));
    EXPECT_FALSE(Has(post(kLogin, Credentials("li", "")), "login success"));
    // The access code is the program's: without it nobody gets to try a password.
    EXPECT_FALSE(Has(post("/weborbalt/chklogin.asp?getcode=0000", Credentials("li", "right-pw")),
                     "login success"));
    EXPECT_FALSE(
        Has(post("/weborbalt/chklogin.asp", Credentials("li", "right-pw")), "login success"));
    EXPECT_TRUE(Has(post(kLogin, Credentials("li", "right-pw")), "login success"));
}

TEST_F(AccountServerTest, RepeatedWrongPasswordsMakeTheAccountAndTheAddressWait)
{
    addActive("wang", "right-pw");
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(Has(post(kLogin, Credentials("wang", "wrong")), "密码错误"));
    // Even the right password is not looked at while the account waits.
    std::string reply = post(kLogin, Credentials("wang", "wrong"));
    reply = post(kLogin, Credentials("wang", "right-pw"));
    EXPECT_TRUE(Has(reply, "尝试次数过多")) << reply;
    EXPECT_TRUE(Has(post(kModify, Details("wang", "right-pw", "w")), "尝试次数过多"));
    clock += 3;
    EXPECT_TRUE(Has(post(kLogin, Credentials("wang", "right-pw")), "login success"));

    // Guessing across many names counts against the address.
    addActive("zhao", "right-pw");
    for (int i = 0; i < 11; ++i)
        post(kLogin, Credentials("guess" + std::to_string(i), "x"));
    EXPECT_TRUE(Has(post(kLogin, Credentials("zhao", "right-pw")), "尝试次数过多"));
    clock += 600;
    EXPECT_TRUE(Has(post(kLogin, Credentials("zhao", "right-pw")), "login success"));
}

TEST_F(AccountServerTest, SimultaneousAndCaseVariantGuessesShareOneCount)
{
    addActive("wang", "right-pw");
    // Twelve guesses at once, under every letter case: each one counts before its answer, so
    // only the free three and the one that starts the wait are looked at.
    std::atomic<int> looked{0};
    std::vector<std::thread> guessers;
    for (const std::string name : {"wang", "WANG", "Wang", "wanG"}) {
        for (int i = 0; i < 3; ++i)
            guessers.emplace_back([this, name, &looked] {
                httplib::Client own("127.0.0.1", server->port());
                const auto reply =
                    own.Post(kLogin.c_str(), Credentials(name, "wrong-pw"), kForm.c_str());
                if (reply && Has(GbkToUtf8(reply->body), "密码错误"))
                    ++looked;
            });
    }
    for (std::thread& guesser : guessers)
        guesser.join();
    EXPECT_EQ(looked.load(), 4);
    EXPECT_TRUE(Has(post(kLogin, Credentials(" Wang ", "right-pw")), "尝试次数过多"));
    clock += 2;
    EXPECT_TRUE(Has(post(kLogin, Credentials(" Wang ", "right-pw")), "login success"));
}

// The lockout attack: a burst of wrong passwords from ten addresses, then eight of them guessing
// every two seconds. The rightful user at another address is looked at within half a minute,
// and the guessers get few looks.
TEST(LoginGuardTest, TheRightfulUserGetsInWhileOthersGuess)
{
    test::TempDir dir;
    std::string error;
    const std::unique_ptr<AccountStore> store = AccountStore::open(dir / "accounts.db", &error);
    ASSERT_TRUE(store) << error;
    LoginGuard guard(*store);
    std::int64_t now = 1'800'000'000;
    auto address = [](int i) { return "10.0.0." + std::to_string(i); };
    int looked = 0;
    auto guess = [&](const std::string& name, int from) {
        const LoginGuard::Attempt attempt = guard.admit(name, address(from), now);
        if (attempt.wait == 0) {
            ++looked;
            guard.settle(attempt, false);
        }
    };
    for (int from = 0; from < 10; ++from) {
        for (int i = 0; i < 20; ++i)
            guess(i % 2 ? "Victim" : "victim", from);
    }
    std::optional<std::int64_t> in;
    const std::int64_t userStart = now + 60;
    looked = 0;
    for (; now < userStart + 600 && !in; now += 2) {
        for (int from = 0; from < 8; ++from)
            guess("VICTIM", from);
        if (now >= userStart) {
            const LoginGuard::Attempt attempt = guard.admit("victim", address(99), now);
            if (attempt.wait == 0) {
                guard.settle(attempt, true);
                in = now - userStart;
            }
        }
    }
    ASSERT_TRUE(in);
    EXPECT_LE(*in, 30);
    EXPECT_LE(looked, 8);

    // The operator sees the counts and clears those of the account, then of an address.
    EXPECT_GT(guard.admit("victim", address(0), now).wait, 0);
    EXPECT_GT(store->clearLoginFailures("VICTIM"), 0);
    for (const LoginFailures& entry : store->allLoginFailures())
        EXPECT_EQ(entry.kind, "address");
    EXPECT_EQ(guard.admit("victim", address(0), now).wait, 0);
    EXPECT_GT(store->clearLoginFailures(address(0)), 0);
    for (const LoginFailures& entry : store->allLoginFailures())
        EXPECT_NE(entry.address, address(0));
}

TEST_F(AccountServerTest, FormsAreCheckedBeforeAnythingIsStored)
{
    struct Case {
        std::string body;
        std::string reply;
    };
    const Case cases[] = {
        // Malformed GBK (a lead byte without its trail), which would read as some other name.
        {"username=%D5&password=password&alias=a&mail=a@b.cn&telphone=13800000000",
         "无效的GBK编码"},
        {"username=ab%81%20&password=password&alias=a&mail=a@b.cn&telphone=13800000000",
         "无效的GBK编码"},
        {Details("short", "1234567", "a"), "至少8个字符"},
        {Details("short", "一二三四五六七", "a"), "至少8个字符"},
        {Details("", "password", "x"), "用户名称不能为空"},
        {Details("a", "password", "x", "no-at-sign"), "邮箱不能为空或格式不对"},
        // Not a number, so refused, not run.
        {Details("a", "password", "x", "a@b.cn", "' OR 1=1 --"), "手机号码必须是5到20位数字"},
        // Fields that would break the login reply apart.
        {Details("a", "password", "x|mail=evil"), "不能含有“|”或控制字符"},
        {Details("a", "password", "x%0Ay"), "不能含有“|”或控制字符"},
        // The program would read the mail from inside the alias, the type from inside the mail.
        {Details("a", "password", "mailman"), "不能含有mail、telphone、type或valid字样"},
        {Details("a", "password", "x", "type@b.cn"), "不能含有mail、telphone、type或valid字样"},
    };
    for (const Case& c : cases) {
        const std::string reply = post(kRegister, c.body);
        EXPECT_TRUE(Has(reply, "retcode=2") && Has(reply, c.reply)) << c.body << ": " << reply;
    }
    EXPECT_TRUE(store->all().empty());
    EXPECT_TRUE(Has(post(kLogin, "username=%D5&password=password"), "无效的GBK编码"));
    // "mail" is only refused where the program would misread it.
    EXPECT_TRUE(Has(post(kRegister, Details("a", "password", "x", "x@mail.cn")),
                    "[User registration success!]"));

    // Blanks around a name are not part of it, whoever types them.
    ASSERT_TRUE(Has(post(kRegister, Details("  li　", "一二三四五六七八", "a")),
                    "[User registration success!]"));
    ASSERT_TRUE(store->find("li"));
    ASSERT_TRUE(store->activate("li"));
    EXPECT_TRUE(Has(post(kLogin, Credentials("li ", "一二三四五六七八")), "login success"));
    EXPECT_TRUE(Has(post(kRegister, Details("li", "password", "a")), "已被使用"));
}

TEST_F(AccountServerTest, OneAddressRegistersOnlySoManyAccounts)
{
    AccountServerOptions options;
    options.registrations = 2;
    options.registrationWindow = 60;
    ASSERT_NO_FATAL_FAILURE(start(options));
    for (const std::string name : {"a1", "a2"})
        EXPECT_TRUE(Has(post(kRegister, Details(name, "password", name)), "success")) << name;
    const std::string refused = post(kRegister, Details("a3", "password", "a3"));
    EXPECT_TRUE(Has(refused, "retcode=4") && Has(refused, "注册过于频繁")) << refused;
    clock += 60;
    EXPECT_TRUE(Has(post(kRegister, Details("a3", "password", "a3")), "success"));
}

TEST_F(AccountServerTest, QuotesInFieldsAreTakenLiterally)
{
    addActive("victim", "secret-pw");
    const std::string attack = "' OR 1=1 --";
    const std::string reply =
        post(kRegister, Details(attack, attack, attack, attack + "@x.cn", "13800000000"));
    EXPECT_TRUE(Has(reply, "[User registration success!]")) << reply;

    for (const std::string& name : {attack, std::string("victim' --"), std::string("victim")}) {
        EXPECT_FALSE(Has(post(kLogin, Credentials(name, attack)), "login success")) << name;
        EXPECT_FALSE(Has(post(kLogin, Credentials(name, "' OR '1'='1")), "login success"));
        clock += 1000;
    }
    EXPECT_TRUE(Has(post(kModify, Details("victim", attack, "x")), "密码错误"));
    clock += 1000;

    ASSERT_TRUE(store->activate(attack));
    EXPECT_TRUE(
        Has(post(kLogin, Credentials(attack, attack)), "alias=' OR 1=1 --|mail=' OR 1=1 --@x.cn|"));
    const std::vector<Account> accounts = store->all();
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(store->find("victim")->alias, "victim");
}

TEST_F(AccountServerTest, PercentEncodedAndChineseValuesArriveIntact)
{
    // "张三" in GBK, percent-encoded; '+' is a space, %2B a plus.
    const std::string body = "username=%D5%C5%C8%FD&password=p%26q%3Dr%2Bs%25t+u"
                             "&alias=a%26b%3Dc%2Bd%25e+f&mail=m%40n.cn&telphone=13800000000"
                             "&channel=ORBALT";
    ASSERT_TRUE(Has(post(kRegister, body), "[User registration success!]"));
    ASSERT_TRUE(store->find("张三"));
    ASSERT_TRUE(store->activate("张三"));
    const std::string reply = post(kLogin, "username=%D5%C5%C8%FD&password=p%26q%3Dr%2Bs%25t+u");
    EXPECT_TRUE(Has(reply, "alias=a&b=c+d%e f|mail=m@n.cn|")) << reply;
    // The same password typed raw, as the program sends it, with the space it decodes to.
    EXPECT_TRUE(Has(post(kLogin, Credentials("张三", "p%26q%3Dr%2Bs%25t u")), "login success"));
}

TEST_F(AccountServerTest, TheDatabaseHoldsNoPasswordInClear)
{
    ASSERT_TRUE(Has(post(kRegister, Details("zhou", "Plain-Pa55word-密码", "z")),
                    "[User registration success!]"));
    server->stop();
    store.reset();
    // The database with its write-ahead log.
    const std::string bytes = readAll(dir / "accounts.db") + readAll(dir / "accounts.db-wal");
    EXPECT_TRUE(Has(bytes, "$argon2id$"));
    EXPECT_FALSE(Has(bytes, "Plain-Pa55word"));
    EXPECT_FALSE(Has(bytes, Utf8ToGbk("Plain-Pa55word-密码")));
}

class SmsGatewayTest : public ::testing::Test {
protected:
    // Starts the gateway on the outbox in the test's folder and the test's clock.
    void start(SmsGatewayOptions options = {})
    {
        options.outbox = outbox;
        options.clock = [this] { return clock.load(); };
        gateway = std::make_unique<SmsGateway>(options);
        std::string error;
        ASSERT_TRUE(gateway->start(&error)) << error;
        client = std::make_unique<httplib::Client>("127.0.0.1", gateway->port());
    }

    httplib::Result get(const std::string& query)
    {
        return client->Get(("/GateWay/Services.asmx/DirectSend?" + query).c_str());
    }
    std::string send(const std::string& query)
    {
        const auto reply = get(query);
        return reply ? reply->body : "(no reply)";
    }
    std::string credentials(const std::string& password) const
    {
        return "UserID=" + defaults.smsUserId + "&Account=" + defaults.smsAccount +
               "&Password=" + password;
    }

    test::TempDir dir;
    const std::filesystem::path outbox = dir / "outbox.txt";
    std::atomic<std::int64_t> clock{1000};
    std::unique_ptr<SmsGateway> gateway;
    std::unique_ptr<httplib::Client> client;
    const Endpoints defaults;
    const std::string good = credentials(defaults.smsPassword);
};

TEST_F(SmsGatewayTest, AcceptsOnlyTheConfiguredCredentialsAndStoresWhatItAccepts)
{
    ASSERT_NO_FATAL_FAILURE(start());
    const std::string message = "&Phones=13000000000;&Content=验证码：108123【Tessaly】"
                                "&SendTime=&SendType=1&PostFixNumber=";
    const std::string wrong[] = {
        credentials("WRONG1"),
        "UserID=000000&Account=" + defaults.smsAccount + "&Password=" + defaults.smsPassword, ""};
    for (const std::string& credentialsTried : wrong)
        EXPECT_FALSE(Has(send(credentialsTried + message), "Sucess")) << credentialsTried;
    EXPECT_EQ(readAll(outbox), "");

    EXPECT_EQ(send(good + message), "Sucess");
    EXPECT_FALSE(Has(send(good + "&Phones=12ab;&Content=x"), "Sucess"));
    EXPECT_FALSE(Has(send(good + "&Phones=13000000000;&Content="), "Sucess"));
    // Percent-encoded, with a line break that must not start a record of its own.
    EXPECT_EQ(send(good + "&Phones=13100000000;13200000000&Content=a%26b%3D%2B%25%0A<i>"),
              "Sucess");

    const std::string stored = readAll(outbox);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), '\n'), 2) << stored;
    EXPECT_TRUE(Has(stored, "\t13000000000;\t验证码：108123【Tessaly】\n")) << stored;
    EXPECT_TRUE(Has(stored, "\t13100000000;13200000000\ta&b=+%\\n<i>\n")) << stored;

    const auto page = client->Get("/outbox");
    ASSERT_TRUE(page);
    EXPECT_TRUE(Has(page->body, "验证码：108123【Tessaly】"));
    EXPECT_TRUE(Has(page->body, "a&amp;b=+%\\n&lt;i&gt;"));
    EXPECT_FALSE(Has(page->body, "<i>"));
    // Newest first.
    EXPECT_LT(page->body.find("13100000000"), page->body.find("13000000000"));
}

TEST_F(SmsGatewayTest, ThrottlesWrongCredentialsAndVolume)
{
    SmsGatewayOptions options;
    options.sendsPerAddress = 3;
    options.sendsPerPhone = 2;
    options.wrongCredentials = 2;
    options.sendWindow = 60;
    ASSERT_NO_FATAL_FAILURE(start(options));
    auto status = [this](const std::string& password, const std::string& phone) {
        const auto reply = get(credentials(password) + "&Phones=" + phone + ";&Content=code");
        return reply ? reply->status : 0;
    };
    const std::string& right = defaults.smsPassword;
    EXPECT_EQ(status("WRONG1", "13000000001"), 403);
    EXPECT_EQ(status("WRONG2", "13000000001"), 403);
    // Past the wrong ones allowed, the right credentials are not even looked at.
    EXPECT_EQ(status(right, "13000000001"), 429);
    clock += 60;
    EXPECT_EQ(status(right, "13000000001"), 200);
    EXPECT_EQ(status(right, "13000000001"), 200);
    EXPECT_EQ(status(right, "13000000001"), 429); // that number has had its two
    EXPECT_EQ(status(right, "13000000002"), 200);
    EXPECT_EQ(status(right, "13000000003"), 429); // that address has sent its three
    const std::string stored = readAll(outbox);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), '\n'), 3) << stored;
}

TEST_F(SmsGatewayTest, OutboxIsOwnerOnlyEscapedAndRotatedKeepingTheNewest)
{
    std::ofstream(outbox) << "2026-01-01 00:00:00\t13000000000;\told\n";
    std::filesystem::permissions(outbox, std::filesystem::perms(0644));
    SmsGatewayOptions options;
    options.sendsPerAddress = 1000;
    options.sendsPerPhone = 1000;
    options.maxOutbox = 2000;
    ASSERT_NO_FATAL_FAILURE(start(options));
    EXPECT_EQ(std::filesystem::status(outbox).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const std::string to = good + "&Phones=13000000000;&Content=";
    // C1 controls (NEL, CSI) as well as C0 and DEL.
    ASSERT_EQ(send(to + "a%C2%85b%C2%9Bc%7Fd%01e"), "Sucess");
    EXPECT_TRUE(Has(readAll(outbox), "\ta\\u0085b\\u009Bc\\x7Fd\\x01e\n")) << readAll(outbox);

    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(send(to + "message-" + std::to_string(i)), "Sucess") << i;
    const std::string stored = readAll(outbox);
    EXPECT_LE(stored.size(), 2000u);
    EXPECT_TRUE(Has(stored, "\tmessage-59\n"));
    EXPECT_FALSE(Has(stored, "\told\n"));
    // Whole lines only: time, phones, text.
    std::istringstream lines(stored);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 2) << line;
}

// A disk that fills up in the middle of a message: the message is answered 500 and leaves
// nothing behind for the next one to join.
TEST_F(SmsGatewayTest, AMessageThatCannotBeStoredWholeLeavesNoTrace)
{
    std::ofstream(outbox) << "2026-01-01 00:00:00\t13000000000;\tfirst\n";
    ASSERT_NO_FATAL_FAILURE(start());

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(std::filesystem::file_size(outbox) + 20);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto failed = get(good + "&Phones=13100000000;&Content=code-for-the-first-number");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 500);
    EXPECT_FALSE(Has(failed->body, "Sucess"));

    ASSERT_EQ(send(good + "&Phones=13200000000;&Content=654321"), "Sucess");
    const std::string stored = readAll(outbox);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), '\n'), 2) << stored;
    EXPECT_FALSE(Has(stored, "13100000000")) << stored;
    EXPECT_TRUE(Has(stored, "\t13200000000;\t654321\n")) << stored;
}

// A raw connection to 127.0.0.1:port from `from` (any loopback address); -1 when it cannot be
// made.
int Connect(int port, const char* from = nullptr)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (from) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        ::inet_pton(AF_INET, from, &source.sin_addr);
        if (::bind(sock, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) {
            ::close(sock);
            return -1;
        }
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(sock);
        return -1;
    }
    return sock;
}

// Whether the server closed the connection within `wait`.
bool ClosedByServer(int sock, int waitMs)
{
    pollfd entry{sock, POLLIN, 0};
    char buffer[256];
    while (::poll(&entry, 1, waitMs) > 0) {
        const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
        if (n <= 0)
            return true;
    }
    return false;
}

// Everything the server sends on `sock` until it closes the connection or is silent for five
// seconds.
std::string ReceiveAll(int sock)
{
    std::string received;
    char buffer[512];
    pollfd entry{sock, POLLIN, 0};
    for (ssize_t n = 1; n > 0 && ::poll(&entry, 1, 5000) > 0;) {
        n = ::recv(sock, buffer, sizeof buffer, 0);
        if (n > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    }
    return received;
}

// Answers "ok" to GET and POST on /x.
void ServeOk(GuardedServer& server)
{
    const auto ok = [](const httplib::Request&, httplib::Response& r) { r.body = "ok"; };
    server.Get("/x", ok);
    server.Post("/x", ok);
}

// Sends `request` on a new connection and gives the status of the answer, 0 when there is none.
int StatusOf(int port, const std::string& request)
{
    const int sock = Connect(port);
    if (sock < 0)
        return 0;
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(sock, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::string answer;
    char buffer[512];
    pollfd entry{sock, POLLIN, 0};
    while (answer.find("\r\n") == std::string::npos && ::poll(&entry, 1, 5000) > 0) {
        const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(sock);
    int status = 0;
    return std::sscanf(answer.c_str(), "HTTP/1.%*d %d", &status) == 1 ? status : 0;
}

TEST(GuardedServerTest, RequestsAreBoundedInEveryPart)
{
    GuardedServer server({.maxBody = 16});
    ServeOk(server);
    std::string error;
    ASSERT_TRUE(server.startServing("127.0.0.1", 0, &error)) << error;
    std::string manyLines;
    for (int i = 0; i < 65; ++i)
        manyLines += "a" + std::to_string(i) + ": b\r\n";
    struct Case {
        std::string request;
        int status;
    };
    const Case cases[] = {
        {"GET /x HTTP/1.1\r\nHost: h\r\n\r\n", 200},
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n", 414},
        {"GET /" + std::string(20000, 'a'), 414},
        {"GET /x HTTP/1.1\r\n" + manyLines + "\r\n", 431},
        {"GET /x HTTP/1.1\r\nBig: " + std::string(17000, 'b') + "\r\n\r\n", 431},
        {"GET /x HTTP/1.1\r\n" + std::string(17000, 'b'), 431},
        {"POST /x HTTP/1.1\r\nContent-Length: 16\r\n\r\n" + std::string(16, 'c'), 200},
        {"POST /x HTTP/1.1\r\ncontent-length: 17\r\n\r\n" + std::string(17, 'c'), 413},
        {"POST /x HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", 400},
        {"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", 411},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StatusOf(server.boundPort(), c.request), c.status) << c.request.substr(0, 60);
    server.stopServing();

    // A service that takes no body refuses any.
    GuardedServer bodiless({.maxBody = 0});
    ServeOk(bodiless);
    ASSERT_TRUE(bodiless.startServing("127.0.0.1", 0, &error)) << error;
    EXPECT_EQ(StatusOf(bodiless.boundPort(), "GET /x HTTP/1.1\r\nContent-Length: 1\r\n\r\nx"), 413);
    EXPECT_EQ(StatusOf(bodiless.boundPort(), "GET /x HTTP/1.1\r\nContent-Length: 0\r\n\r\n"), 200);
}

// The guard hands each request to the library's request handling, reads its keep-alive
// settings and keeps its listening socket, by which a streamed answer sees whether the server
// stops; a library that changed any of that shows here.
TEST(GuardedServerTest, TheLibrarysOwnPartStillWorks)
{
    GuardedServer server({.maxBody = 16});
    server.set_payload_max_length(8);
    server.set_keep_alive_max_count(2);
    ServeOk(server);
    constexpr std::size_t kStreamed = 3 * 4096;
    server.Get("/streamed", [](const httplib::Request&, httplib::Response& r) {
        r.set_content_provider(
            kStreamed, "text/plain", [](std::size_t, std::size_t length, httplib::DataSink& sink) {
                const std::string piece(std::min<std::size_t>(length, 4096), 's');
                return sink.write(piece.data(), piece.size());
            });
    });
    std::string error;
    ASSERT_TRUE(server.startServing("127.0.0.1", 0, &error)) << error;

    httplib::Client client("127.0.0.1", server.boundPort());
    const auto streamed = client.Get("/streamed");
    EXPECT_TRUE(streamed && streamed->body == std::string(kStreamed, 's'));

    // Within the guard's bound, above the library's.
    EXPECT_EQ(StatusOf(server.boundPort(),
                       "POST /x HTTP/1.1\r\nContent-Length: 9\r\n\r\n" + std::string(9, 'c')),
              413);

    // Three requests at once on one connection: two are answered, the second closing it.
    const int sock = Connect(server.boundPort());
    ASSERT_GE(sock, 0);
    std::string requests;
    for (int i = 0; i < 3; ++i)
        requests += "GET /x HTTP/1.1\r\nHost: h\r\n\r\n";
    ASSERT_EQ(::send(sock, requests.data(), requests.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(requests.size()));
    const std::string answers = ReceiveAll(sock);
    ::close(sock);
    const auto count = [&answers](std::string_view what) {
        std::size_t found = 0;
        for (std::size_t at = answers.find(what); at != std::string::npos;
             at = answers.find(what, at + 1))
            ++found;
        return found;
    };
    EXPECT_EQ(count("HTTP/1.1 200"), 2u) << answers;
    EXPECT_EQ(count("Connection: close"), 1u) << answers;
}

// Slow clients from several addresses fill every place: the ones that do not send their
// request head in time go, so a normal client gets in long before their request time is up.
TEST(GuardedServerTest, SlowConnectionsDoNotStarveANormalClient)
{
    GuardedServer server({.requestTime = std::chrono::seconds(60),
                          .perRead = std::chrono::seconds(60),
                          .perAddress = 2,
                          .total = 4,
                          // Far past the head time: the slow ones are cut before anyone
                          // waiting is turned away, however loaded the machine.
                          .admitWait = std::chrono::seconds(2),
                          .headTime = std::chrono::milliseconds(300)});
    ServeOk(server);
    std::string error;
    ASSERT_TRUE(server.startServing("127.0.0.1", 0, &error)) << error;
    std::vector<int> slow;
    for (const char* from : {"127.0.0.2", "127.0.0.2", "127.0.0.2", "127.0.0.3", "127.0.0.3",
                             "127.0.0.4", "127.0.0.4"}) {
        const int sock = Connect(server.boundPort(), from);
        ASSERT_GE(sock, 0);
        (void)::send(sock, "GET /x HTTP/1.1\r\n", 17, MSG_NOSIGNAL);
        slow.push_back(sock);
    }
    // The third of one address is closed as it comes.
    EXPECT_TRUE(ClosedByServer(slow[2], 2000));

    httplib::Client normal("127.0.0.1", server.boundPort());
    normal.set_connection_timeout(5);
    normal.set_read_timeout(5);
    const auto page = normal.Get("/x");
    EXPECT_TRUE(page && page->body == "ok");
    for (const int sock : slow) {
        EXPECT_TRUE(ClosedByServer(sock, 5000));
        ::close(sock);
    }
    // A connection's thread counts itself out just after closing the socket.
    for (int i = 0; i < 500 && server.openConnections() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server.openConnections(), 0u);
}

// The connection limits as a service built on the guard gets them.
using GuardedGatewayTest = SmsGatewayTest;

TEST_F(GuardedGatewayTest, ATricklingClientIsCutOffAndDoesNotHoldUpOthers)
{
    SmsGatewayOptions options;
    options.limits = {.requestTime = std::chrono::milliseconds(800), .perAddress = 2};
    ASSERT_NO_FATAL_FAILURE(start(options));

    // A byte at a time, always well inside the per-read timeout: only the whole-request
    // deadline ends it.
    const int slow = Connect(gateway->port());
    ASSERT_GE(slow, 0);
    const std::string request = "GET /outbox HTTP/1.1\r\nHost: x\r\nX-Filler: ";
    bool cut = false;
    for (std::size_t i = 0; i < 200 && !cut; ++i) {
        const char byte = i < request.size() ? request[i] : 'a';
        cut = ::send(slow, &byte, 1, MSG_NOSIGNAL) != 1 || ClosedByServer(slow, 50);
        if (i == 3) {
            // Meanwhile another client is served.
            const auto page = client->Get("/outbox");
            EXPECT_TRUE(page && page->status == 200);
        }
    }
    EXPECT_TRUE(cut);
    ::close(slow);
}

// Over TLS the handshake is part of the request's time: a client that starts one and never
// finishes it is cut off like a trickling request, and HTTPS clients are served meanwhile.
TEST(GuardedServerTest, AStalledTlsHandshakeIsCutOffAtTheRequestDeadline)
{
    GuardedServer server({.requestTime = std::chrono::milliseconds(800)});
    std::string error;
    const std::filesystem::path tls(VELMORA_TLS_DIR);
    ASSERT_FALSE(server.useTls(tls / "missing.pem", tls / "server-key.pem", &error));
    ASSERT_TRUE(server.useTls(tls / "server-cert.pem", tls / "server-key.pem", &error)) << error;
    ServeOk(server);
    ASSERT_TRUE(server.startServing("127.0.0.1", 0, &error)) << error;
    EXPECT_EQ(server.url("127.0.0.1").rfind("https://", 0), 0u);

    const int stalled = Connect(server.boundPort());
    ASSERT_GE(stalled, 0);
    bool cut = false;
    for (int i = 0; i < 40 && !cut; ++i) {
        const char byte = i == 0 ? '\x16' : '\x03'; // a handshake record that never completes
        cut = ::send(stalled, &byte, 1, MSG_NOSIGNAL) != 1 || ClosedByServer(stalled, 50);
        if (i == 2) {
            httplib::SSLClient other("127.0.0.1", server.boundPort());
            other.enable_server_certificate_verification(false);
            const auto page = other.Get("/x");
            EXPECT_TRUE(page && page->body == "ok");
        }
    }
    EXPECT_TRUE(cut);
    ::close(stalled);
}

TEST_F(GuardedGatewayTest, OneAddressGetsItsShareAndStopBreaksOffWhatItHolds)
{
    SmsGatewayOptions options;
    // Long enough that only stopping can end the connections below.
    options.limits = {.requestTime = std::chrono::seconds(60),
                      .perRead = std::chrono::seconds(60),
                      .perAddress = 2};
    ASSERT_NO_FATAL_FAILURE(start(options));

    // Two connections of one address are all it gets; the third is closed unanswered.
    const int first = Connect(gateway->port());
    const int second = Connect(gateway->port());
    ASSERT_TRUE(first >= 0 && second >= 0);
    ASSERT_EQ(::send(first, "GET", 3, MSG_NOSIGNAL), 3);
    ASSERT_EQ(::send(second, "GET", 3, MSG_NOSIGNAL), 3);
    ASSERT_FALSE(ClosedByServer(first, 100)); // both are being read
    const int third = Connect(gateway->port());
    ASSERT_GE(third, 0);
    ASSERT_EQ(::send(third, "GET /outbox HTTP/1.0\r\n\r\n", 24, MSG_NOSIGNAL), 24);
    EXPECT_EQ(ReceiveAll(third), "");
    ::close(third);

    // Stopping breaks off the two that are still sending, long before their own time is up.
    std::thread stopping([this] { gateway->stop(); });
    EXPECT_TRUE(ClosedByServer(first, 5000));
    EXPECT_TRUE(ClosedByServer(second, 5000));
    stopping.join();
    ::close(first);
    ::close(second);
}

} // namespace
} // namespace velmora
