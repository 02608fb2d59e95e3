// velmora-tool tested as a binary: arguments, exit status and the shape of its output.

#include "market/HstFile.h"
#include "services/DataServer.h"
#include "services/WireFormat.h"
#include "tests/net/support/RawHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <sys/wait.h>

using velmora::test::TempDir;
namespace hst = velmora::hst;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

QJsonValue At(const QJsonObject& object, const char* key)
{
    return object.value(QLatin1StringView(key));
}

velmora::services::DataServerOptions TestRoutes()
{
    velmora::services::DataServerOptions options;
    options.testRoutes = true;
    return options;
}

// The output's lines, without their line breaks.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Each of `keys` appears in `json` as a key, in this order.
void ExpectKeysInOrder(const std::string& json, std::initializer_list<const char*> keys)
{
    std::size_t at = 0;
    for (const char* key : keys) {
        at = json.find(std::string("\"") + key + "\":", at);
        ASSERT_NE(at, std::string::npos) << key;
    }
}

class VelmoraToolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(velmora::test::WriteGoldHistory(dir.path())); }

    Result run(const std::string& arguments, const std::string& environment = {})
    {
        const std::string command = environment + "TZ=UTC '" + VELMORA_TOOL + "' " + arguments +
                                    " >'" + (dir / "out").string() + "' 2>'" +
                                    (dir / "err").string() + "'";
        const int raw = std::system(command.c_str());
        Result result;
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = velmora::test::ReadWholeFile(dir / "out");
        result.err = velmora::test::ReadWholeFile(dir / "err");
        return result;
    }

    QJsonObject chart(const std::string& extra, int expectedStatus)
    {
        const Result result =
            run("chart --hst '" + dir.str() + "' --code LLGUSD --period 1 " + extra);
        EXPECT_EQ(result.status, expectedStatus) << result.err;
        lastOutput = result.out;
        QJsonParseError error{};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromStdString(result.out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << result.out;
        return document.object();
    }

    // A reference data server on an ephemeral port, running until the test ends.
    velmora::services::DataServer& startServer(const velmora::services::DataServerOptions& options)
    {
        m_server = std::make_unique<velmora::services::DataServer>(options);
        std::string error;
        EXPECT_TRUE(m_server->start(&error)) << error;
        return *m_server;
    }

    // The environment that points the tool at `server`.
    std::string configFor(const velmora::services::DataServer& server)
    {
        std::ofstream(dir / "velmora.ini")
            << "[data_server]\nhost=127.0.0.1\nport=" << server.port() << "\n";
        return "VELMORA_CONFIG='" + (dir / "velmora.ini").string() + "' ";
    }

    TempDir dir;
    std::string lastOutput;
    std::unique_ptr<velmora::services::DataServer> m_server;
};

} // namespace

TEST_F(VelmoraToolTest, BadArgumentsExitWithUsage)
{
    const std::string hst = "--hst '" + dir.str() + "'";
    for (const std::string& arguments :
         {std::string(), std::string("draw"), "chart " + hst + " --code XAUUSD --period 1",
          "chart " + hst + " --code LLGUSD --period 7", "chart " + hst + " --code LLGUSD",
          "chart " + hst + " --code LLGUSD --period 1 --cursor 1x",
          "chart " + hst + " --code LLGUSD --period 1 --format xml",
          "bars " + hst + " --code LLGUSD --period 1 --cursor 5",
          "chart " + hst + " --code LLGUSD --period 1 --tpo"}) {
        const Result result = run(arguments);
        EXPECT_EQ(result.status, 2) << arguments;
        EXPECT_NE(result.err.find("usage:"), std::string::npos) << arguments;
        EXPECT_TRUE(result.out.empty()) << arguments;
    }
}

TEST_F(VelmoraToolTest, DrawnChartAsJson)
{
    const QJsonObject json = chart("--tpo 20 --long 30 --short 5", 0);
    ExpectKeysInOrder(lastOutput, {"outcome", "message", "title", "passes", "yunit", "ymax", "ymin",
                                   "retMax", "retMin", "rows", "widest", "u", "d", "longZ",
                                   "shortZ", "labels", "cells", "profile"});
    EXPECT_EQ(json.size(), 18);
    EXPECT_EQ(At(json, "outcome").toString(), QStringLiteral("drawn"));
    EXPECT_EQ(At(json, "passes").toInt(), 1);
    EXPECT_EQ(At(json, "yunit").toDouble(), 1.0);
    EXPECT_TRUE(At(json, "longZ").isDouble());
    EXPECT_TRUE(At(json, "shortZ").isDouble());
    const int rows = At(json, "rows").toInt();
    EXPECT_EQ(At(json, "labels").toArray().size(), rows - 1);
    EXPECT_TRUE(At(json, "title").toString().startsWith(QStringLiteral("LLGUSD-现货黄金-日线 ")));

    const QJsonArray cells = At(json, "cells").toArray();
    int up = 0;
    int previous = -1;
    for (const QJsonValue& value : cells) {
        const QJsonObject cell = value.toObject();
        const int order = At(cell, "row").toInt() * 100 + At(cell, "col").toInt();
        EXPECT_GT(order, previous); // row, then column order
        previous = order;
        up += At(cell, "text").toString().mid(4, 1) == QStringLiteral("U");
        EXPECT_EQ(At(cell, "label").toString().size(), 2);
        EXPECT_TRUE(At(cell, "bold").isBool());
    }
    EXPECT_EQ(up, At(json, "u").toInt());
    EXPECT_EQ(cells.size(), At(json, "u").toInt() + At(json, "d").toInt());

    // The raw extremes print so that they read back exactly.
    EXPECT_EQ(At(json, "retMin").toDouble(), 1995.5);

    // The profile: a count per row that adds up to the marks, the point of control on a row
    // with the most of them, inside the value area, prices on the rows' levels.
    const QJsonObject profile = At(json, "profile").toObject();
    ExpectKeysInOrder(lastOutput, {"profile", "counts", "poc", "pocPrice", "vaTop", "vaBottom",
                                   "vah", "val", "singlePrints"});
    std::vector<int> counts;
    for (const QJsonValue& count : At(profile, "counts").toArray())
        counts.push_back(count.toInt());
    ASSERT_EQ(static_cast<int>(counts.size()), rows);
    int total = 0;
    for (const int count : counts)
        total += count;
    EXPECT_EQ(total, cells.size());
    const int poc = At(profile, "poc").toInt();
    EXPECT_EQ(counts[static_cast<std::size_t>(poc)],
              *std::max_element(counts.begin(), counts.end()));
    EXPECT_LE(At(profile, "vaTop").toInt(), poc);
    EXPECT_GE(At(profile, "vaBottom").toInt(), poc);
    const double ymax = At(json, "ymax").toDouble();
    EXPECT_EQ(At(profile, "pocPrice").toDouble(), ymax - poc);
    EXPECT_EQ(At(profile, "vah").toDouble(), ymax - At(profile, "vaTop").toInt());
    EXPECT_EQ(At(profile, "val").toDouble(), ymax - At(profile, "vaBottom").toInt());
    for (const QJsonValue& row : At(profile, "singlePrints").toArray())
        EXPECT_EQ(counts[static_cast<std::size_t>(row.toInt())], 1);

    // As text, after the grid.
    const Result text =
        run("chart --hst '" + dir.str() +
            "' --code LLGUSD --period 1 --tpo 20 --long 30 --short 5 --format text");
    const std::string pocLine = "\nPOC " + QString::number(ymax - poc, 'f', 2).toStdString();
    EXPECT_NE(text.out.find(pocLine), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\nVAH "), std::string::npos);
}

TEST_F(VelmoraToolTest, MessagesAndSuggestions)
{
    QJsonObject json = chart("--cursor 10", 1); // below the 49-bar window
    EXPECT_EQ(At(json, "outcome").toString(), QStringLiteral("message"));
    EXPECT_EQ(At(json, "message").toString(),
              QStringLiteral("数据无法达到分析要求,请在数据管理中同步!"));
    EXPECT_EQ(At(json, "title").toString(), QStringLiteral("LLGUSD-现货黄金-日线 价值图"));
    EXPECT_TRUE(At(json, "longZ").isNull());
    EXPECT_TRUE(At(json, "cells").toArray().isEmpty());
    EXPECT_TRUE(At(json, "profile").isNull());

    json = chart("--yunit ''", 1);
    EXPECT_EQ(At(json, "message").toString(), QStringLiteral("商品单位价格参数非法!"));

    // A tiny unit first suggests a larger one, then draws with it.
    json = chart("--yunit 0.001", 0);
    EXPECT_EQ(At(json, "passes").toInt(), 2);
    EXPECT_EQ(At(json, "outcome").toString(), QStringLiteral("drawn"));
    EXPECT_GT(At(json, "yunit").toDouble(), 0.001);
    EXPECT_FALSE(At(json, "title").toString().contains(QStringLiteral("参数非法")));

    // A window that is never drawn keeps suggesting, once in the title.
    json = chart("--tpo 100 --history 120", 1);
    EXPECT_EQ(At(json, "outcome").toString(), QStringLiteral("suggestion"));
    EXPECT_EQ(At(json, "passes").toInt(), 3);
    EXPECT_EQ(At(json, "title").toString().count(QStringLiteral("参数非法")), 1);
}

TEST_F(VelmoraToolTest, BarsAsCsvAndImportMessagesOnStderr)
{
    const Result result =
        run("bars --hst '" + dir.str() + "' --code LLGUSD --period day --history 50");
    ASSERT_EQ(result.status, 0);
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 3u + 50u);
    // Bar 70 of the file: open 2007, down bar closing 2.5 lower.
    EXPECT_EQ(
        std::vector(lines.begin(), lines.begin() + 4),
        (std::vector<std::string>{"count,50", "cursor,49", "slot,time,open,close,high,low,volume",
                                  "0,2024.01.23 22:13:20,2007,2004.5,2011,2001.5,70"}));
    // LLGUSD has no week file; every other commodity has nothing at all.
    EXPECT_NE(result.err.find("LLGUSD10080.hst"), std::string::npos);
    EXPECT_NE(result.err.find("完成数据同步\n"), std::string::npos);
}

// Against the reference data server, through the configured endpoints.
TEST_F(VelmoraToolTest, QuotesAndBarsFromTheDataServer)
{
    const std::string config = configFor(startServer({}));

    Result result = run("quotes", config);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 1u + 13u);
    EXPECT_EQ(lines[0], "code,name,time,last,open,prevClose,high,low,bid,ask");
    for (const std::string& line : lines)
        EXPECT_EQ(std::count(line.begin(), line.end(), ','), 9) << line;
    EXPECT_NE(result.out.find("EURUSD,欧罗美元,"), std::string::npos);

    result = run("bars --server --code EURUSD --period week", config);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("count,100\ncursor,99\n", 0), 0u);
    EXPECT_EQ(result.err, "完成数据同步\n");
    m_server->stop();

    // With the server gone every commodity fails and the closing message says so.
    result = run("chart --server --code EURUSD --period 1", config);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("以下数据同步失败"), std::string::npos);
    EXPECT_EQ(run("quotes", config).status, 1);
}

// A mistyped address must not fall back to the loopback default, which would be handed the
// configured account and token.
TEST_F(VelmoraToolTest, MalformedServerAddressSendsNothing)
{
    velmora::test::RawHttpServer listener;
    std::ofstream(dir / "velmora.ini")
        << "[data_server]\nhost=127.0.0.1/x\nport=" << listener.port()
        << "\naccount=abcd\ntoken=0123456789abcdef0123456789abcdef\n";
    const std::string config = "VELMORA_CONFIG='" + (dir / "velmora.ini").string() + "' ";

    Result result = run("quotes", config);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("[data_server] host=127.0.0.1/x is not a valid value; nothing is "
                              "sent to the data server\n"),
              std::string::npos)
        << result.err;
    result = run("bars --server --code EURUSD --period day", config);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(listener.requests().empty());
}

// The tool moves to a folder of its own before it connects; relative paths in what the user
// gave it are the user's, from where the tool was started.
TEST_F(VelmoraToolTest, RelativeConfigAndCaFileAreFromTheStartingDirectory)
{
    velmora::services::DataServerOptions options;
    options.certFile = std::filesystem::path(VELMORA_TLS_DIR) / "server-cert.pem";
    options.keyFile = std::filesystem::path(VELMORA_TLS_DIR) / "server-key.pem";
    startServer(options);
    velmora::test::CopyFile(options.certFile, dir / "start" / "certs" / "ca.pem");
    std::ofstream(dir / "start" / "velmora.ini")
        << "[data_server]\nscheme=https\nhost=127.0.0.1\nport=" << m_server->port()
        << "\n[tls]\nca_file=certs/ca.pem\n";

    const Result result =
        run("quotes", "cd '" + (dir / "start").string() + "' && VELMORA_CONFIG=velmora.ini ");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("EURUSD,欧罗美元,"), std::string::npos);
}

// A CSV with a series silently missing would read as a market without bars.
TEST_F(VelmoraToolTest, BarsFailWhenTheRequestedSeriesWasNotFetched)
{
    const std::string config = configFor(startServer(TestRoutes()));

    // Only another commodity's first request fails, so EURUSD is all there.
    m_server->injectFault({.status = 503, .times = 1, .code = "SGY15KG"});
    Result result = run("bars --server --code EURUSD --period week", config);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("以下数据同步失败"), std::string::npos);

    // Every commodity stops at its half-hour series, so the week series is never asked for.
    m_server->injectFault({.status = 503, .times = 0});
    result = run("bars --server --code EURUSD --period week", config);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_NE(result.err.find("velmora-tool: the week series of EURUSD could not be fetched\n"),
              std::string::npos)
        << result.err;
}

// The server's text goes into the CSV; a line break in it must not start a record of its own.
TEST_F(VelmoraToolTest, ServerTextCannotForgeCsvRecords)
{
    const std::string config = configFor(startServer(TestRoutes()));
    const std::string preamble(velmora::services::kPreamble);
    using namespace std::string_literals; // the quote page below holds a NUL

    m_server->injectFault({.body = preamble + "2024-01-02\n9,1,1,1,1,1,1;<br/>"
                                              "2024-01-01\r\x01\\n\x7f,1,2,3,4,5;<br/>",
                           .times = 0});
    Result result = run("bars --server --code EURUSD --period week", config);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "count,2\ncursor,1\nslot,time,open,close,high,low,volume\n"
                          "0,2024-01-01\\r\\x01\\\\n\\x7F,1,2,3,4,5\n"
                          "1,2024-01-02\\n9,1,1,1,1,1\n");

    m_server->injectFault({.body = preamble + "SGY15KG,x,t,1,1,1,1,1,1,1;<br/>"
                                              "EURUSD,x,10:15\r\n\x00USDJPY,1,1,1,1,1,1,1;<br/>"s,
                           .times = 0});
    result = run("quotes", config);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("\nEURUSD,欧罗美元,10:15\\r\\n\\x00USDJPY,"), std::string::npos)
        << result.out;
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 14);
}

TEST_F(VelmoraToolTest, ListAsTheDataManagementDialogShowsIt)
{
    const std::string list = "list --hst '" + dir.str() + "' --code LLGUSD --period 1 --history 3";
    Result result = run(list);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "数据库:3条记录,请及时更新对应的数据\n"
                          "↓  1,2024.03.12 22:13:20,2002.000,1999.500,2006.000,1996.500,119\n"
                          "↓  2,2024.03.11 22:13:20,2001.000,1998.500,2005.000,1995.500,118\n"
                          "↑  3,2024.03.10 22:13:20,2000.000,2003.250,2007.250,1997.000,117\n");
    // The header click's order, the second click's, and a column outside the list.
    result = run(list + " --sort 3");
    EXPECT_EQ(result.out.substr(result.out.find('\n') + 1, 6), "↓  2");
    result = run(list + " --sort 3 --descending");
    EXPECT_EQ(result.out.substr(result.out.find('\n') + 1, 6), "↑  3");
    for (const char* bad : {" --sort 7", " --descending", " --sort x"})
        EXPECT_EQ(run(list + bad).status, 2) << bad;
}

// `sync` fills the local bar store; `--local` then answers as the source it was filled from.
TEST_F(VelmoraToolTest, SyncThenLocalEqualsTheSource)
{
    const std::string store =
        "VELMORA_HISTORY_DB='" + (dir / "store" / "history.db").string() + "' ";
    // Nothing stored yet.
    Result result = run("bars --local --code LLGUSD --period day", store);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("not in the local bar store"), std::string::npos) << result.err;

    result = run("sync --hst '" + dir.str() + "'", store);
    EXPECT_EQ(result.status, 1) << "the other commodities have no files"; // but gold is stored
    for (const std::string query :
         {"bars --code LLGUSD --period day --history 120", "bars --code LLGUSD --period half",
          "list --code LLGUSD --period day --sort 2 --descending",
          "chart --code LLGUSD --period day --cursor 80"}) {
        const Result source = run(query + " --hst '" + dir.str() + "'", store);
        const Result local = run(query + " --local", store);
        EXPECT_EQ(local.status, source.status) << query << "\n" << local.err;
        EXPECT_EQ(local.out, source.out) << query;
    }

    // From the data server, its clock held still so that both answers are alike.
    velmora::services::DataServerOptions options;
    options.clock = [] { return std::int64_t{1796212800}; }; // 2026-12-01 12:00 UTC
    const std::string both = store + configFor(startServer(options));
    result = run("sync", both);
    ASSERT_EQ(result.status, 0) << result.err;
    for (const std::string query :
         {"bars --code EURUSD --period week", "bars --code LLGUSD --period half --history 501",
          "chart --code SGXPD --period month"}) {
        const Result source = run(query + " --server", both);
        const Result local = run(query + " --local", both);
        ASSERT_EQ(source.status, 0) << source.err;
        EXPECT_EQ(local.status, 0) << local.err;
        EXPECT_EQ(local.out, source.out) << query;
    }
    m_server->stop();
    // The store outlives the server.
    EXPECT_EQ(run("bars --local --code EURUSD --period week", both).status, 0);
}
