#include "net/HttpClient.h"
#include "services/DataServer.h"
#include "services/WireFormat.h"
#include "tests/net/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using services::DataServer;
using services::DataServerOptions;
using services::Fault;
using test::RawHttpServer;

const std::string kLanguageTight = "Accept-Language:zh-CN,zh;q=0.8,en-US;q=0.5,en;q=0.3\r\n";
const std::string kAgent38 =
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:38.0) Gecko/20100101 Firefox/38.0\r\n";
const std::string kAccept =
    "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n";
const std::string kLanguage = "Accept-Language: zh-CN,zh;q=0.8,en-US;q=0.5,en;q=0.3\r\n";
const std::string kEncoding = "Accept-Encoding: gzip, deflate\r\n";

Endpoints OnLoopback(int dataPort, int webPort = 1, int smsPort = 1)
{
    Endpoints e;
    e.dataServer.port = dataPort;
    e.website.port = webPort;
    e.smsGateway.port = smsPort;
    return e;
}

std::string HostLine(int port) { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }

unsigned Mode(const fs::path& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Every test runs in a fresh directory, which also holds the cookie files.
class HttpClientTest : public ::testing::Test {
protected:
    HttpClientTest() : m_previousDir(fs::current_path()) { fs::current_path(m_dir.path()); }
    fs::path cookieFolder() const { return m_dir.path() / "velmora"; }
    ~HttpClientTest() override { fs::current_path(m_previousDir); }

    // A data server with its test pages, on an ephemeral port.
    DataServer& server()
    {
        if (!m_server) {
            DataServerOptions options;
            options.historyDays = 3;
            options.testRoutes = true;
            m_server = std::make_unique<DataServer>(options);
            std::string error;
            EXPECT_TRUE(m_server->start(&error)) << error;
        }
        return *m_server;
    }
    std::string serverUrl(const std::string& path) { return server().url() + path; }

    test::TempDir m_dir;
    test::ScopedEnv m_state{"XDG_STATE_HOME", m_dir.str()};
    fs::path m_previousDir;
    std::unique_ptr<DataServer> m_server;
};

TEST_F(HttpClientTest, DataServerRequestsSendTheFixedLinesInOrderOverHttp10)
{
    RawHttpServer raw;
    CHttpClient client(OnLoopback(raw.port()), cookieFolder());
    std::string body;
    ASSERT_EQ(client.FetchQuotes(body), 0) << client.lastError();
    EXPECT_EQ(body, "ok");
    ASSERT_EQ(client.FetchBars("&code=EURUSD&linetype=day&datetime=2016-08-10%2014:30:05&count=100",
                               body),
              0);

    // libcurl puts a Host line, even one of the list, right after the request line; the other
    // lines keep the list's order.
    const std::string lines = HostLine(raw.port()) + kLanguageTight + kAgent38 + kAccept +
                              kLanguage + kEncoding + "Connection: keep-alive\r\n\r\n";
    const std::string base = "/testone.php?user=vmds&pwd=6f1c2e9a4b7d30581e6a9c2f4d8b7e13";
    const std::vector<std::string> requests = raw.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], "GET " + base + " HTTP/1.0\r\n" + lines);
    EXPECT_EQ(requests[1], "GET " + base +
                               "&code=EURUSD&linetype=day&datetime=2016-08-10%2014:30:05"
                               "&count=100 HTTP/1.0\r\n" +
                               lines);
}

TEST_F(HttpClientTest, AccountPostsAndGatewayRequestsAddCacheControl)
{
    RawHttpServer web;
    RawHttpServer sms;
    CHttpClient client(OnLoopback(1, web.port(), sms.port()), cookieFolder());
    std::string reply;
    // The form goes out up to its first NUL, as a C string would.
    ASSERT_EQ(
        client.PostAccount(AccountRequestKind::Login, std::string("user=a&pwd=b\0x", 14), reply),
        0);
    std::string status;
    client.SendSms(SmsGatewayUrl(client.endpoints(), "/GateWay/Services.asmx/DirectSend?a=1"),
                   status);

    const std::string tail =
        kAccept + kLanguage + kEncoding + "Connection: keep-alive\r\nCache-Control: no-cache\r\n";
    EXPECT_EQ(web.requests().at(0),
              "POST /weborbalt/chklogin.asp?getcode=4827 HTTP/1.0\r\n" + HostLine(web.port()) +
                  kLanguageTight + kAgent38 + tail +
                  "Content-Length: 12\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n"
                  "user=a&pwd=b");
    EXPECT_EQ(sms.requests().at(0), "GET /GateWay/Services.asmx/DirectSend?a=1 HTTP/1.0\r\n" +
                                        HostLine(sms.port()) + kLanguageTight + kAgent38 + tail +
                                        "\r\n");
}

TEST_F(HttpClientTest, VersionRequestHasItsOwnLines)
{
    RawHttpServer web;
    web.setResponse(RawHttpServer::Response(200, "1.0.7"));
    CHttpClient client(OnLoopback(1, web.port()), cookieFolder());
    EXPECT_EQ(client.FetchVersion(), "1.0.7");
    EXPECT_EQ(web.requests().at(0),
              "GET /velmora/version.html HTTP/1.0\r\n" + HostLine(web.port()) +
                  "Accept-Language: zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3\r\n"
                  "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64; rv:35.0) Gecko/20100101 "
                  "Firefox/35.0\r\n" +
                  kAccept + kEncoding + "Connection: Keep-Alive\r\n\r\n");
}

TEST_F(HttpClientTest, AccountKindSelectsThePathAndALaterGetCarriesNoBody)
{
    RawHttpServer web;
    RawHttpServer data;
    CHttpClient client(OnLoopback(data.port(), web.port()), cookieFolder());
    std::string reply;
    for (int kind : {1, 2, 3, 4, 9})
        ASSERT_EQ(client.PostAccount(static_cast<AccountRequestKind>(kind), "f=1", reply), 0);
    std::string body;
    ASSERT_EQ(client.FetchQuotes(body), 0);

    const std::vector<std::string> posts = web.requests();
    ASSERT_EQ(posts.size(), 5u);
    const char* lines[] = {"POST /weborbalt/register.asp?action=add HTTP/1.0\r\n",
                           "POST /weborbalt/register.asp?action=mod HTTP/1.0\r\n",
                           "POST /weborbalt/chklogin.asp?getcode=4827 HTTP/1.0\r\n",
                           "POST /weborbalt/logout.asp HTTP/1.0\r\n", "POST / HTTP/1.0\r\n"};
    for (std::size_t i = 0; i < posts.size(); ++i)
        EXPECT_TRUE(posts[i].starts_with(lines[i])) << posts[i];

    const std::string get = data.requests().at(0);
    EXPECT_TRUE(get.starts_with("GET /testone.php?")) << get;
    EXPECT_TRUE(get.ends_with("Connection: keep-alive\r\n\r\n")) << get;
    EXPECT_EQ(get.find("Content-"), std::string::npos) << get;
}

TEST_F(HttpClientTest, CookiesComeBackOnLaterRequestsAndAreSavedOwnerOnly)
{
    const mode_t previousMask = ::umask(0); // libcurl alone would create a world-readable file
    fs::path cookieFile;
    {
        CHttpClient client(OnLoopback(server().port()), cookieFolder());
        cookieFile = client.cookieFile();
        std::string status;
        client.SendSms(serverUrl("/_cookie/set?session=s3cr3t"), status);
        EXPECT_EQ(status, "Error") << client.lastError(); // delivered, just no "Sucess"
        client.SendSms(serverUrl("/_cookie/echo"), status);
        EXPECT_EQ(client.bodyText(), "session=s3cr3t");
    }
    ::umask(previousMask);

    EXPECT_EQ(Mode(cookieFile), 0600u);
    EXPECT_EQ(fs::path(cookieFile).parent_path(), cookieFolder()); // not the working directory
    EXPECT_EQ(Mode(cookieFolder()), 0700u);
    std::ifstream in(cookieFile);
    const std::string saved{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(saved.find("session\ts3cr3t"), std::string::npos) << saved;
}

TEST_F(HttpClientTest, EachClientStartsWithoutCookiesOfAnEarlierRun)
{
    // A file of the client's name, left over from an earlier run.
    const std::string next = (cookieFolder() / "Cookie0.txt").string();
    std::ofstream(next) << "127.0.0.1\tFALSE\t/\tFALSE\t0\tstale\tyes\n";

    CHttpClient second(OnLoopback(server().port()), cookieFolder());
    EXPECT_EQ(second.cookieFile(), next);
    std::string status;
    second.SendSms(serverUrl("/_cookie/echo"), status);
    EXPECT_EQ(second.bodyText(), "");
}

// Ten redirects are followed and an eleventh fails; only http and https are reachable, even by
// a redirect.
TEST_F(HttpClientTest, RedirectsStopAtTenAndNeverLeaveHttp)
{
    CHttpClient client(OnLoopback(server().port()), cookieFolder());
    std::string status;
    client.SendSms(serverUrl("/_redirect/10"), status);
    EXPECT_EQ(client.bodyText(), "redirected\n");
    const std::pair<std::string, std::string> cases[] = {
        {serverUrl("/_redirect/11"), "open trade error=47"},
        {"file:///etc/hostname", "open trade error=1"},
        {serverUrl("/_redirect_to?url=file:///etc/hostname"), "open trade error=1"},
        {serverUrl("/_redirect_to?url=ftp://127.0.0.1/x"), "open trade error=1"},
    };
    for (const auto& [url, error] : cases) {
        EXPECT_EQ(client.SendSms(url, status), -1) << url;
        EXPECT_EQ(client.lastError(), error) << url;
        EXPECT_EQ(status, error) << url;
    }
}

TEST_F(HttpClientTest, ErrorStatusFailsDataAndVersionRequestsOnly)
{
    // The website's pages live elsewhere, so version.html is a 404 here.
    CHttpClient client(OnLoopback(server().port(), server().port()), cookieFolder());
    std::string body = "previous";
    server().injectFault(Fault{.status = 500, .times = 2});
    EXPECT_EQ(client.FetchQuotes(body), -1);
    EXPECT_EQ(client.FetchBars("&code=EURUSD&linetype=day", body), -1);
    EXPECT_EQ(body, "previous");
    EXPECT_EQ(client.lastError(), "open trade error=22");
    EXPECT_EQ(client.FetchVersion(), "");
    EXPECT_EQ(client.FetchQuotes(body), 0); // the fault is used up

    RawHttpServer raw;
    raw.setResponse(RawHttpServer::Response(500, "retcode=-1 Sucess"));
    CHttpClient relaxed(OnLoopback(1, raw.port(), raw.port()), cookieFolder());
    std::string reply;
    EXPECT_EQ(relaxed.PostAccount(AccountRequestKind::Modify, "m=1", reply), 0);
    EXPECT_EQ(reply, "retcode=-1 Sucess");
    EXPECT_EQ(relaxed.SendSms(SmsGatewayUrl(relaxed.endpoints(), "/"), reply), 0);
    EXPECT_EQ(reply, "Sucess");
}

TEST_F(HttpClientTest, GatewayReplyCountsOnlyWithTheExactSucessSpelling)
{
    RawHttpServer sms;
    CHttpClient client(OnLoopback(1, 1, sms.port()), cookieFolder());
    const std::string url = SmsGatewayUrl(client.endpoints(), "/GateWay/Services.asmx/DirectSend");
    const std::pair<const char*, int> cases[] = {
        {"<string>1Sucess2</string>", 0}, {"Success", -1}, {"sucess", -1}, {"", -1}};
    for (const auto& [reply, result] : cases) {
        sms.setResponse(RawHttpServer::Response(200, reply));
        std::string status;
        EXPECT_EQ(client.SendSms(url, status), result) << reply;
        EXPECT_EQ(status, result == 0 ? "Sucess" : "Error") << reply;
    }
}

TEST_F(HttpClientTest, UnreachableServerLeavesTheOutputAlone)
{
    const int port = test::UnusedPort();
    CHttpClient client(OnLoopback(port, port, port), cookieFolder());
    std::string body = "previous";
    EXPECT_EQ(client.FetchQuotes(body), -1);
    EXPECT_EQ(body, "previous");
    EXPECT_EQ(client.lastError(), "open trade error=7");
    EXPECT_EQ(client.FetchVersion(), "");
    std::string status;
    EXPECT_EQ(client.SendSms(SmsGatewayUrl(client.endpoints(), "/"), status), -1);
    EXPECT_EQ(status, "open trade error=7");
}

TEST_F(HttpClientTest, GzipPageArrivesDecodedAndCutBodiesAreTold)
{
    CHttpClient client(OnLoopback(server().port()), cookieFolder());
    std::string body;
    ASSERT_EQ(client.FetchQuotes(body), 0) << client.lastError();
    EXPECT_TRUE(body.starts_with(services::kPreamble));
    EXPECT_NE(body.find("EURUSD,"), std::string::npos);
    EXPECT_NE(client.headerText().find("Content-Encoding: gzip"), std::string::npos);

    // An empty page is a successful transfer; the callers decide what it means.
    server().injectFault(Fault{.truncate = 0});
    body = "previous";
    EXPECT_EQ(client.FetchQuotes(body), 0);
    EXPECT_EQ(body, "");

    server().injectFault(Fault{.closeAfter = 100});
    EXPECT_EQ(client.FetchQuotes(body), -1);
    EXPECT_EQ(client.lastError(), "open trade error=18");
}

TEST_F(HttpClientTest, SlowAnswersEndAtTheTransferTimeOut)
{
    CHttpClient client(OnLoopback(server().port()), cookieFolder());
    client.setTimeouts(2s, 400ms);
    std::string body;
    for (const Fault& fault : {Fault{.delay = 5s}, Fault{.bytesPerSecond = 100}}) {
        server().injectFault(fault);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.FetchQuotes(body), -1);
        EXPECT_EQ(client.lastError(), "open trade error=28");
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    }
}

TEST_F(HttpClientTest, PeerThatSendsNothingIsGivenUpAfterTheStallLimit)
{
    CHttpClient client(OnLoopback(server().port()), cookieFolder());
    client.setStallTimeout(1s); // 20 s by default; the whole-transfer limit stays long
    server().injectFault(Fault{.delay = 30s});
    std::string body;
    EXPECT_EQ(client.FetchQuotes(body), -1);
    EXPECT_EQ(client.lastError(), "open trade error=28");
    server().clearFault();
}

// Started transfers run side by side on one cookie store; an abort or the end of the client
// answers each one that is still waiting.
TEST_F(HttpClientTest, StartedTransfersShareCookiesAndAbortedOnesAreAnswered)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<HttpReply> replies;
    auto collect = [&](HttpReply&& reply) {
        const std::lock_guard<std::mutex> lock(mutex);
        replies.push_back(std::move(reply));
        changed.notify_all();
    };
    auto waitFor = [&](std::size_t n) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return replies.size() >= n; });
    };
    {
        CHttpClient client(OnLoopback(server().port()), cookieFolder());
        std::string status;
        client.SendSms(serverUrl("/_cookie/set?session=s3cr3t"), status);
        for (int i = 0; i < 6; ++i)
            client.startSms(serverUrl("/_cookie/echo"), collect);
        ASSERT_TRUE(waitFor(6));
        for (const HttpReply& reply : replies) {
            EXPECT_TRUE(reply.ok()) << reply.code;
            EXPECT_EQ(reply.body.view(), "session=s3cr3t");
        }

        server().injectFault(Fault{.delay = 30s, .times = 0});
        const TransferId slow = client.startQuotes(collect);
        client.startBars("&code=EURUSD&linetype=day", collect);
        client.abort(slow);
        ASSERT_TRUE(waitFor(7));
        EXPECT_EQ(replies[6].code, CURLE_ABORTED_BY_CALLBACK);
    } // the client ends with the bars request still waiting
    ASSERT_TRUE(waitFor(8));
    EXPECT_EQ(replies[7].code, CURLE_ABORTED_BY_CALLBACK);
    server().clearFault();
}

TEST_F(HttpClientTest, ConnectionThatCannotBeSetUpEndsAtTheConnectTimeOut)
{
    test::StalledListener stalled;
    CHttpClient client(OnLoopback(stalled.port()), cookieFolder());
    EXPECT_EQ(client.connectTimeout(), 15s);
    EXPECT_EQ(client.transferTimeout(), 120s);
    client.setTimeouts(300ms, 20s);
    std::string body;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.FetchQuotes(body), -1);
    EXPECT_EQ(client.lastError(), "open trade error=28");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST_F(HttpClientTest, BodyIsCappedAfterDecoding)
{
    CHttpClient client(OnLoopback(server().port()), cookieFolder());
    const std::size_t cap = CHttpClient::kMaxBodyBytes;
    std::string status;
    client.SendSms(serverUrl("/_bytes?gzip=1&n=" + std::to_string(cap)), status);
    EXPECT_EQ(status, "Error"); // delivered, no "Sucess" in it
    EXPECT_EQ(client.bodyText().size(), cap);
    // A few kilobytes on the wire that decode to one byte more.
    client.SendSms(serverUrl("/_bytes?gzip=1&n=" + std::to_string(cap + 1)), status);
    EXPECT_EQ(status, "open trade error=23");
}

// Certificate checks: the reference server with a self-signed certificate.
class HttpClientTlsTest : public HttpClientTest {
protected:
    int startTls(const std::string& name)
    {
        DataServerOptions options;
        options.historyDays = 1;
        options.certFile = fs::path(VELMORA_TLS_DIR) / (name + "-cert.pem");
        options.keyFile = fs::path(VELMORA_TLS_DIR) / (name + "-key.pem");
        m_server = std::make_unique<DataServer>(options);
        std::string error;
        EXPECT_TRUE(m_server->start(&error)) << error;
        return m_server->port();
    }
    static Endpoints Https(int port, const std::string& caName)
    {
        Endpoints e = OnLoopback(port);
        e.dataServer.scheme = "https";
        if (!caName.empty())
            e.caFile = (fs::path(VELMORA_TLS_DIR) / (caName + "-cert.pem")).string();
        return e;
    }
};

// A self-signed server is refused unless its certificate is the configured CA, and a trusted
// certificate of another host is refused too.
TEST_F(HttpClientTlsTest, OnlyTheConfiguredCaForTheRightHostIsTrusted)
{
    const struct {
        std::string certificate;
        std::string ca;
        int result;
    } cases[] = {{"server", "", -1}, {"server", "server", 0}, {"other", "other", -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.certificate + " trusting '" + c.ca + "'");
        CHttpClient client(Https(startTls(c.certificate), c.ca), velmora::test::CookieFolder());
        std::string body;
        EXPECT_EQ(client.FetchQuotes(body), c.result);
        if (c.result == 0)
            EXPECT_TRUE(body.starts_with(services::kPreamble)) << client.lastError();
        else
            EXPECT_EQ(client.lastError(), "open trade error=60");
    }
}

TEST(ReplyBody, KeepsEveryByteAcrossTheMoveToReservedPagesAndRefusesPastItsLimit)
{
    const std::size_t limit = 3 * ReplyBody::kMappedFrom;
    ReplyBody body;
    std::string expected;
    std::string chunk(4093, '\0');
    for (std::size_t i = 0; expected.size() + chunk.size() <= limit; ++i) {
        for (std::size_t j = 0; j < chunk.size(); ++j)
            chunk[j] = static_cast<char>('a' + (i + j) % 26);
        ASSERT_TRUE(body.append(chunk.data(), chunk.size(), limit));
        expected += chunk;
    }
    EXPECT_GT(body.size(), ReplyBody::kMappedFrom);
    EXPECT_FALSE(body.append(chunk.data(), chunk.size(), limit)); // nothing of it is kept
    ReplyBody moved = std::move(body);
    EXPECT_TRUE(body.empty());
    EXPECT_TRUE(moved.view() == expected);
}

} // namespace
} // namespace velmora
