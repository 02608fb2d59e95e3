#include "market/Catalogue.h"
#include "platform/TextCodec.h"
#include "services/AccountServer.h"
#include "services/DataServer.h"
#include "services/FaultInjector.h"
#include "services/WireFormat.h"
#include "simulator/MarketSimulator.h"
#include "tests/net/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <httplib.h>
#include <iterator>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora {
namespace {

using namespace services;
namespace fs = std::filesystem;

// Wednesday 2026-12-02 10:15 UTC: the market is open.
const std::int64_t kNow = *ParseUtcDate("2026-12-02") + 10 * 3600 + 15 * 60;
const std::string kBase = "/testone.php?user=vmds&pwd=6f1c2e9a4b7d30581e6a9c2f4d8b7e13";

std::vector<std::string> Split(std::string_view text, std::string_view separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string_view::npos;) {
        parts.emplace_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    parts.emplace_back(text.substr(start));
    return parts;
}

// The records of a page, each checked for its terminator and split into fields.
std::vector<std::vector<std::string>> Records(const std::string& page)
{
    EXPECT_TRUE(page.starts_with(kPreamble));
    std::vector<std::string> records = Split(page.substr(kPreamble.size()), kSeparator);
    EXPECT_EQ(records.back(), ""); // every record, the last included, is followed by one
    records.pop_back();
    std::vector<std::vector<std::string>> out;
    for (const std::string& record : records) {
        EXPECT_TRUE(record.ends_with(kTerminator)) << record;
        out.push_back(Split(record.substr(0, record.size() - 1), ","));
    }
    return out;
}

// A simulated market on a clock the test moves; times in Beijing.
class DataServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DataServerOptions options;
        options.historyDays = 20;
        options.testRoutes = true;
        options.clock = [this] { return m_clock.load(); };
        m_server = std::make_unique<DataServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->start(&error)) << error;
        m_client = std::make_unique<httplib::Client>("127.0.0.1", m_server->port());
    }

    httplib::Result get(const std::string& path) { return m_client->Get(path.c_str()); }
    std::string page(const std::string& path)
    {
        const httplib::Result result = get(path);
        EXPECT_TRUE(result);
        EXPECT_EQ(result ? result->status : 0, 200) << path;
        return result ? result->body : std::string();
    }
    std::map<std::string, std::vector<std::string>, std::less<>> quotes()
    {
        std::map<std::string, std::vector<std::string>, std::less<>> byCode;
        for (std::vector<std::string>& record : Records(page(kBase)))
            byCode[record[0]] = std::move(record);
        return byCode;
    }

    test::ScopedTimeZone m_zone{"Asia/Shanghai"};
    std::atomic<std::int64_t> m_clock{kNow};
    std::unique_ptr<DataServer> m_server;
    std::unique_ptr<httplib::Client> m_client;
};

TEST_F(DataServerTest, QuotePageQuotesEveryCatalogueCodeInTheWireForm)
{
    const auto byCode = quotes();
    for (int c = 0; c < kCommodityCount; ++c)
        EXPECT_TRUE(byCode.contains(MarketSimulator::code(c))) << MarketSimulator::code(c);
    EXPECT_TRUE(byCode.contains("SGY50KG"));

    const std::vector<std::string>& eurusd = byCode.at("EURUSD");
    ASSERT_EQ(eurusd.size(), 10u);
    EXPECT_EQ(eurusd[1], Utf8ToGbk("欧罗美元"));
    const std::optional<std::int64_t> time = ParseLocalTime(eurusd[2]);
    ASSERT_TRUE(time) << eurusd[2];
    EXPECT_LE(*time, kNow);
    EXPECT_GT(*time, kNow - 3600);
    for (std::size_t i = 3; i < 10; ++i)
        EXPECT_EQ(eurusd[i].size() - eurusd[i].find('.'), 6u) << eurusd[i]; // 5 decimals
    const double last = std::stod(eurusd[3]), high = std::stod(eurusd[6]),
                 low = std::stod(eurusd[7]), bid = std::stod(eurusd[8]), ask = std::stod(eurusd[9]);
    EXPECT_LE(low, last);
    EXPECT_LE(last, high);
    EXPECT_EQ(bid, last);
    EXPECT_GT(ask, bid);
}

TEST_F(DataServerTest, QuotesMoveAndTheNewestHalfHourGrowsWithTheClock)
{
    const std::string query = kBase + "&code=LLGUSD&linetype=half&count=1";
    const std::vector<std::string> before = quotes().at("LLGUSD");
    const std::vector<std::string> barBefore = Records(page(query)).at(0);

    m_clock += 12 * 60; // still within the 10:00 UTC half-hour
    const std::vector<std::string> after = quotes().at("LLGUSD");
    const std::vector<std::string> barAfter = Records(page(query)).at(0);
    EXPECT_GT(*ParseLocalTime(after[2]), *ParseLocalTime(before[2]));
    EXPECT_NE(after[3], before[3]);
    EXPECT_EQ(barAfter[0], barBefore[0]);
    EXPECT_NE(barAfter, barBefore); // close, high or low and the volume moved
    EXPECT_GT(std::stoi(barAfter[5]), std::stoi(barBefore[5]));
}

TEST_F(DataServerTest, SeriesIsNewestFirstAndEndsAtTheRequestedTime)
{
    // 12:40 in Beijing is 04:40 UTC, inside the 04:30 half-hour.
    const auto records =
        Records(page(kBase + "&code=EURUSD&linetype=half&datetime=2026-12-02%2012:40:00&count=5"));
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0][0], "2026-12-02 12:30:00");
    EXPECT_EQ(records[4][0], "2026-12-02 10:30:00");
    for (const auto& record : records) {
        ASSERT_EQ(record.size(), 6u);
        EXPECT_GE(std::stod(record[3]), std::max(std::stod(record[1]), std::stod(record[2])));
        EXPECT_LE(std::stod(record[4]), std::min(std::stod(record[1]), std::stod(record[2])));
    }

    EXPECT_EQ(Records(page(kBase + "&code=EURUSD&linetype=half&count=501")).size(), 501u);
    EXPECT_EQ(page(kBase + "&code=EURUSD&linetype=day&count=0"), kPreamble);
    // Twenty days hold fewer than 100 weeks: all of them are sent.
    const auto weeks = Records(page(kBase + "&code=SGY15KG&linetype=week"));
    EXPECT_GE(weeks.size(), 3u);
    EXPECT_LE(weeks.size(), 4u);
    EXPECT_FALSE(Records(page(kBase + "&code=CNH&linetype=month")).empty());
}

TEST_F(DataServerTest, WrongAccountAndMalformedQueriesGetErrorStatuses)
{
    const std::pair<std::string, int> cases[] = {
        {"/testone.php?user=vmds&pwd=0", 403},
        {"/testone.php?user=abcd&pwd=6f1c2e9a4b7d30581e6a9c2f4d8b7e13", 403},
        {kBase + "&code=EURUSD&linetype=minute", 400},
        {kBase + "&code=EURUSD&linetype=day&datetime=2026-02-30%2010:00:00", 400},
        {kBase + "&code=EURUSD&linetype=day&count=-1", 400},
        {kBase + "&code=SGY50KG&linetype=day", 404},
    };
    for (const auto& [path, status] : cases) {
        const httplib::Result result = get(path);
        ASSERT_TRUE(result) << path;
        EXPECT_EQ(result->status, status) << path;
        EXPECT_EQ(result->body.find(kSeparator), std::string::npos) << path;
    }
}

TEST_F(DataServerTest, AnswersHttp10ClientsAndGzipsForThoseThatAcceptIt)
{
    const std::string plain = test::Exchange(
        m_server->port(), "GET " + kBase + " HTTP/1.0\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_TRUE(plain.starts_with("HTTP/1.1 200")) << plain;
    EXPECT_NE(plain.find("Connection: close\r\n"), std::string::npos);
    EXPECT_NE(plain.find("\r\n\r\n" + std::string(kPreamble) + "SGY15KG,"), std::string::npos);

    const std::string zipped = test::Exchange(
        m_server->port(), "GET " + kBase + " HTTP/1.0\r\nAccept-Encoding: gzip, deflate\r\n\r\n");
    EXPECT_NE(zipped.find("Content-Encoding: gzip\r\n"), std::string::npos) << zipped;
    EXPECT_EQ(zipped.find("chunked"), std::string::npos);
}

TEST_F(DataServerTest, FaultsApplyToTheNextRequestsUntilUsedOrCleared)
{
    EXPECT_EQ(get("/_fault?status=503&times=2")->status, 200);
    EXPECT_EQ(get(kBase)->status, 503);
    EXPECT_EQ(get("/_status/200")->status, 503);
    EXPECT_EQ(get(kBase)->status, 200);

    EXPECT_EQ(get("/_fault?body=error&times=0")->status, 200);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(get(kBase)->body, "error");
    EXPECT_EQ(get("/_fault")->status, 200); // clears
    EXPECT_TRUE(get(kBase)->body.starts_with(kPreamble));

    EXPECT_EQ(get("/_fault?truncate=7")->status, 200);
    EXPECT_EQ(get(kBase)->body, std::string(kPreamble) + "SGY1");
    EXPECT_EQ(get("/_fault?close_after=10")->status, 200);
    EXPECT_FALSE(get(kBase)); // the connection broke off mid-body

    for (const char* bad : {"status=99", "delay_ms=soon", "truncate=-1", "times=1x"})
        EXPECT_EQ(get(std::string("/_fault?") + bad)->status, 400) << bad;
}

TEST(DataServerHistoryTest, ServesTheBarsOfMt4Files)
{
    test::ScopedTimeZone zone("UTC");
    test::TempDir dir;
    hst::Header header;
    header.symbol = "EURUSD";
    header.period = 30;
    header.digits = 4;
    const std::int64_t start = *ParseUtcDate("2016-08-10") + 13 * 3600;
    const std::vector<hst::Bar> bars{{start, 1.1, 1.12, 1.09, 1.11, 90, 0, 0},
                                     {start + 1800, 1.11, 1.13, 1.10, 1.12, 120, 0, 0}};
    ASSERT_TRUE(hst::WriteFile((dir / "EURUSD30.hst").string(), header, bars));

    DataServerOptions options;
    options.historyDir = dir.path();
    DataServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(&error)) << error;
    httplib::Client client("127.0.0.1", server.port());
    EXPECT_EQ(client.Get((kBase + "&code=EURUSD&linetype=half").c_str())->body,
              std::string(kPreamble) + "2016-08-10 13:30:00,1.1100,1.1200,1.1300,1.1000,120;<br/>"
                                       "2016-08-10 13:00:00,1.1000,1.1100,1.1200,1.0900,90;<br/>");
    const auto quotes = Records(client.Get(kBase.c_str())->body);
    ASSERT_EQ(quotes.size(), 1u); // no other commodity has a file
    EXPECT_EQ(quotes[0][2], "2016-08-10 13:30:00");
    EXPECT_EQ(quotes[0][3], "1.1200");

    DataServerOptions empty;
    empty.historyDir = dir / "none";
    EXPECT_FALSE(DataServer(empty).start(&error));
    EXPECT_NE(error.find("none"), std::string::npos) << error;
}

// Starts velmora-server with `arguments`, its output and errors going where `actions` say.
pid_t Spawn(std::vector<std::string> arguments, const posix_spawn_file_actions_t& actions)
{
    std::vector<char*> argv{const_cast<char*>(VELMORA_SERVER)};
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, VELMORA_SERVER, &actions, nullptr, argv.data(), environ), 0);
    return pid;
}

// The program itself: prints where each service listens, takes the accounts from its
// configuration and stops cleanly on either signal.
TEST(DataServerProgramTest, PrintsWhereItListensAndStopsOnSignals)
{
    test::TempDir dir;
    const std::string config = (dir / "velmora.ini").string();
    std::ofstream(config) << "[data_server]\naccount=abcd\n"
                             "token=0123456789abcdef0123456789abcdef\n";

    for (int signal : {SIGTERM, SIGINT}) {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const pid_t pid =
            Spawn({"--port", "0", "--website-port", "0", "--sms-port", "0", "--db",
                   (dir / "accounts.db").string(), "--outbox", (dir / "outbox.txt").string(),
                   "--history-days", "2", "--fast-hashing", "--config", config},
                  actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ASSERT_GT(pid, 0);

        std::string lines;
        pollfd entry{out[0], POLLIN, 0};
        char c = 0;
        while (std::count(lines.begin(), lines.end(), '\n') < 3 && ::poll(&entry, 1, 30000) > 0 &&
               ::read(out[0], &c, 1) == 1)
            lines += c;
        ::close(out[0]);
        int port = 0;
        int websitePort = 0;
        int smsPort = 0;
        EXPECT_EQ(std::sscanf(lines.c_str(),
                              "data listening on http://127.0.0.1:%d\n"
                              "website listening on http://127.0.0.1:%d\n"
                              "sms listening on http://127.0.0.1:%d\n",
                              &port, &websitePort, &smsPort),
                  3)
            << lines;

        httplib::Client client("127.0.0.1", port);
        const auto accepted =
            client.Get("/testone.php?user=abcd&pwd=0123456789abcdef0123456789abcdef");
        EXPECT_TRUE(accepted && accepted->status == 200);
        const auto refused = client.Get(kBase.c_str());
        EXPECT_TRUE(refused && refused->status == 403);

        httplib::Client website("127.0.0.1", websitePort);
        const auto registered =
            website.Post("/weborbalt/register.asp?action=add",
                         "username=u" + std::to_string(signal) +
                             "&password=password&alias=a&mail=a@b.cn&telphone=13800000000",
                         "application/x-www-form-urlencoded");
        EXPECT_TRUE(registered &&
                    registered->body.find("[User registration success!]") != std::string::npos);

        httplib::Client sms("127.0.0.1", smsPort);
        const auto sent = sms.Get("/GateWay/Services.asmx/DirectSend?UserID=602318&Account=vlmsg"
                                  "&Password=K7Q2ZD&Phones=13000000000;&Content=hi");
        EXPECT_TRUE(sent && sent->body == "Sucess");

        ::kill(pid, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
}

struct Exit {
    int status = -1; // -1: killed after the time limit
    std::string err;
    std::string out;
};

// Runs velmora-server with `arguments`, for at most 20 seconds.
Exit RunServer(std::vector<std::string> arguments)
{
    int err[2];
    EXPECT_EQ(::pipe(err), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    test::TempDir outDir;
    const std::string outFile = (outDir / "out.txt").string();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = Spawn(std::move(arguments), actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(err[1]);

    Exit result;
    pollfd entry{err[0], POLLIN, 0};
    char buffer[512];
    ssize_t n = 1;
    while (n > 0 && ::poll(&entry, 1, 20000) > 0) {
        n = ::read(err[0], buffer, sizeof buffer);
        if (n > 0)
            result.err.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(err[0]);
    const bool ended = n == 0; // stderr closed: the server is on its way out
    if (!ended)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (ended && WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    std::ifstream out(outFile);
    result.out.assign(std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>());
    return result;
}

// The operator's commands work on the file the servers use, and say when they cannot.
TEST(DataServerProgramTest, AccountCommandsAddListAndActivate)
{
    test::TempDir dir;
    const std::string db = (dir / "accounts.db").string();
    Exit exit = RunServer({"accounts", "add", "bob", "s3cret", "--active", "--db", db});
    EXPECT_EQ(exit.status, 0) << exit.err;
    exit = RunServer({"accounts", "add", "carol", "pw", "--db", db});
    EXPECT_EQ(exit.status, 0) << exit.err;
    exit = RunServer({"accounts", "add", "BOB", "other", "--db", db});
    EXPECT_EQ(exit.status, 1);
    EXPECT_NE(exit.err.find("taken"), std::string::npos) << exit.err;

    exit = RunServer({"accounts", "list", "--db", db});
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_NE(exit.out.find("bob\tactive\t"), std::string::npos) << exit.out;
    EXPECT_NE(exit.out.find("carol\tinactive\t"), std::string::npos) << exit.out;

    EXPECT_EQ(RunServer({"accounts", "activate", "carol", "--db", db}).status, 0);
    exit = RunServer({"accounts", "list", "--db", db});
    EXPECT_NE(exit.out.find("carol\tactive\t"), std::string::npos) << exit.out;
    EXPECT_EQ(RunServer({"accounts", "activate", "nobody", "--db", db}).status, 1);
    EXPECT_EQ(RunServer({"accounts", "remove", "bob", "--db", db}).status, 2);

    // The password of an added account works against the website.
    AccountServerOptions options;
    options.db = db;
    AccountServer website(options);
    std::string error;
    ASSERT_TRUE(website.start(&error)) << error;
    httplib::Client client("127.0.0.1", website.port());
    const auto login =
        client.Post("/weborbalt/chklogin.asp?getcode=4827", "username=bob&password=s3cret",
                    "application/x-www-form-urlencoded");
    ASSERT_TRUE(login);
    EXPECT_NE(login->body.find("login success"), std::string::npos) << login->body;

    // The operator sees the running server's count of a wrong password and clears it.
    ASSERT_TRUE(client.Post("/weborbalt/chklogin.asp?getcode=4827", "username=Carol&password=x",
                            "application/x-www-form-urlencoded"));
    exit = RunServer({"accounts", "waits", "--db", db});
    EXPECT_EQ(exit.status, 0) << exit.err;
    EXPECT_NE(exit.out.find("pair\tcarol\t127.0.0.1\t1\t0\t"), std::string::npos) << exit.out;
    exit = RunServer({"accounts", "clear-waits", "CAROL", "--db", db});
    EXPECT_EQ(exit.out, "cleared 2\n") << exit.err; // the pair and the account
    exit = RunServer({"accounts", "waits", "--db", db});
    EXPECT_EQ(exit.out.find("carol"), std::string::npos) << exit.out;
}

// A FIFO would block the server's open until some writer came; it must refuse it and stop.
TEST(DataServerProgramTest, RefusesAFifoAsConfigurationOrHistoryFile)
{
    test::TempDir dir;
    const fs::path config = dir / "velmora.ini";
    ASSERT_EQ(::mkfifo(config.c_str(), 0600), 0);
    Exit exit = RunServer({"--port", "0", "--history-days", "2", "--config", config.string()});
    EXPECT_EQ(exit.status, 1) << exit.err;
    EXPECT_NE(exit.err.find(config.string() + ": cannot be used (not a regular file)"),
              std::string::npos)
        << exit.err;

    // Beside a good file too: serving the rest would answer this series with nothing.
    test::TempDir history;
    ASSERT_TRUE(test::WriteGoldHistory(history.path()));
    const fs::path fifo = history / "EURUSD30.hst";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    exit = RunServer({"--port", "0", "--hst", history.str()});
    EXPECT_EQ(exit.status, 1) << exit.err;
    EXPECT_NE(exit.err.find(fifo.string() + ": cannot be read (not a regular file)"),
              std::string::npos)
        << exit.err;
}

} // namespace
} // namespace velmora
