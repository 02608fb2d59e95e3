// Start-up, the quote timer and the synchronisation against the reference data server on
// loopback, with slow answers and with no server at all: the window never waits.

#include "app/AppState.h"
#include "app/Commands.h"
#include "app/LiveData.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/OrbaltView.h"
#include "app/StoredHistory.h"
#include "app/UserPrompts.h"
#include "app/UserRequest.h"
#include "app/framework/ChildFrame.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "net/HttpClient.h"
#include "services/DataServer.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMdiArea>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

using namespace velmora;
using namespace std::chrono_literals;

namespace {

// A loopback port that nothing listens on.
int ClosedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// Runs the event loop until `done` holds (at most 20 s); answers `done()`.
bool PumpUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, 20000); }

void ClickCancel(QProgressDialog* progress)
{
    auto* button = progress->findChild<QPushButton*>();
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

class LiveDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(dir.path()); // the client's cookie file goes here
        InitCatalogue(session.catalogue);
        session.barStore.ResetBarStore();
    }

    void TearDown() override
    {
        stopApp();
        if (server)
            server->stop();
        std::filesystem::current_path(previousDir);
    }

    void startServer(std::chrono::milliseconds latency = 0ms)
    {
        services::DataServerOptions options;
        options.testRoutes = true;
        server = std::make_unique<services::DataServer>(options);
        std::string error;
        ASSERT_TRUE(server->start(&error)) << error;
        if (latency > 0ms) {
            services::Fault slow;
            slow.delay = latency;
            slow.times = 0;
            server->injectFault(slow);
        }
    }

    void useDataServerAt(int port)
    {
        Endpoints endpoints;
        endpoints.dataServer.port = port;
        session.g_pHttpClient =
            std::make_unique<CHttpClient>(endpoints, velmora::test::CookieFolder());
    }

    // Starts the program on empty bars; with `historyFile`, bars are also stored there.
    void startApp(int dataPort,
                  std::chrono::milliseconds interruptAfter = QuoteFeedState::kInterruptAfter,
                  const std::filesystem::path& historyFile = {})
    {
        stopApp();
        session.barStore.ResetBarStore();
        useDataServerAt(dataPort);
        app = std::make_unique<COrbaltApp>(session, prompts);
        live = std::make_unique<LiveData>(*app, prompts, interruptAfter);
        if (!historyFile.empty())
            history = std::make_unique<StoredHistory>(*app, prompts, historyFile);
        ASSERT_TRUE(app->InitInstance());
    }

    // What main does after the event loop: the client goes first, aborting everything.
    void stopApp()
    {
        history.reset(); // writes what is queued
        session.g_pHttpClient.reset();
        live.reset();
        app.reset();
    }

    COrbaltView* board() const
    {
        for (QMdiSubWindow* child : app->mainFrame()->mdiArea()->subWindowList()) {
            auto* view = qobject_cast<COrbaltView*>(static_cast<CChildFrame*>(child)->view());
            if (view && view->document()->kind == kQuoteBoardKind)
                return view;
        }
        return nullptr;
    }

    // The texts of the board's commodity lines as last painted.
    std::vector<TextOp> boardCells() const
    {
        std::vector<TextOp> cells;
        for (const DrawOp& op : board()->lastDrawing().ops) {
            if (const auto* text = std::get_if<TextOp>(&op))
                cells.push_back(*text);
        }
        // The heading and the eleven column titles come first.
        return cells.size() > 12 ? std::vector<TextOp>(cells.begin() + 12, cells.end())
                                 : std::vector<TextOp>{};
    }

    QLabel* feedPane() const { return app->mainFrame()->feedPane(); }
    bool paneIsRed() const
    {
        return feedPane()->palette().color(QPalette::WindowText) == QColor(Qt::red);
    }

    bool syncEnded()
    {
        return PumpUntil([this] { return !live->syncRunning(); });
    }
    bool pollEnded()
    {
        return PumpUntil([this] { return !live->pollOutstanding(); });
    }
    QProgressDialog* syncProgress() const
    {
        return app->mainFrame()->findChild<QProgressDialog*>(QStringLiteral("syncProgress"));
    }

    velmora::test::TempDir dir;
    std::filesystem::path previousDir;
    Session session;
    ScriptedPrompts prompts;
    std::unique_ptr<services::DataServer> server;
    std::unique_ptr<COrbaltApp> app;
    std::unique_ptr<LiveData> live;
    std::unique_ptr<StoredHistory> history;
};

} // namespace

TEST_F(LiveDataTest, StartupFillsEverySeriesAndTheQuoteBoard)
{
    startServer();
    startApp(server->port());
    // InitInstance came back before the data did.
    EXPECT_TRUE(live->syncRunning());
    ASSERT_TRUE(syncEnded());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], "完成数据同步");
    for (int s = 0; s < kCommodityCount; ++s) {
        EXPECT_EQ(session.barStore.Series(s, kHalfHour).count, 200) << s;
        EXPECT_EQ(session.barStore.Series(s, kMonth).count, 100) << s;
        EXPECT_EQ(session.barStore.Series(s, kDay).cursor, 99) << s;
    }
    // The poll at window creation brought the quote names and prices.
    ASSERT_TRUE(pollEnded());
    EXPECT_EQ(session.catalogue[5].name, "欧罗美元");
    EXPECT_FALSE(session.catalogue[12].lastPrice.empty());
    const auto* timer = app->mainFrame()->findChild<QTimer*>(QStringLiteral("quoteTimer"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());

    // A tick starts a poll whose quotes land when they arrive.
    session.catalogue[5].lastPrice.clear();
    app->mainFrame()->OnTimer();
    EXPECT_TRUE(live->pollOutstanding());
    ASSERT_TRUE(pollEnded());
    EXPECT_FALSE(session.catalogue[5].lastPrice.empty());
}

TEST_F(LiveDataTest, KeysAreAnsweredWhileASlowPollAndTheSynchronisationRun)
{
    startServer(3000ms);
    startApp(server->port());
    ASSERT_TRUE(live->syncRunning());
    ASSERT_TRUE(live->pollOutstanding());

    // The progress dialog is up, but the frame still takes its commands at once: a key that
    // opens a second quote board does so before any reply has come.
    const auto boards = app->mainFrame()->mdiArea()->subWindowList().size();
    app->mainFrame()->OnCommand(ID_SHOW_QUOTES);
    EXPECT_EQ(app->mainFrame()->mdiArea()->subWindowList().size(), boards + 1);
    ASSERT_NE(syncProgress(), nullptr);
    ClickCancel(syncProgress());
    ASSERT_TRUE(syncEnded());
    EXPECT_TRUE(live->pollOutstanding()); // the quote page is still on its way
    ASSERT_FALSE(prompts.messages.empty());
    EXPECT_NE(prompts.messages.back().find("取消"), std::string::npos);

    // Ticks that find the poll outstanding start nothing.
    app->mainFrame()->OnTimer();
    app->mainFrame()->OnTimer();
    ASSERT_TRUE(pollEnded());
    EXPECT_FALSE(session.catalogue[5].lastPrice.empty());
}

TEST_F(LiveDataTest, CancelledSynchronisationStopsEveryChainAndSaysSo)
{
    startServer(200ms);
    startApp(server->port());
    ASSERT_NE(syncProgress(), nullptr);
    ASSERT_TRUE(PumpUntil([this] { return session.barStore.Series(0, kHalfHour).count > 0; }));
    ClickCancel(syncProgress());
    ASSERT_TRUE(syncEnded());
    ASSERT_EQ(prompts.messages.size(), 1u);
    const std::string& closing = prompts.messages.back();
    EXPECT_EQ(closing.rfind("完成数据同步\n", 0), 0u);
    EXPECT_NE(closing.find("取消"), std::string::npos);
    EXPECT_EQ(closing.find("失败"), std::string::npos); // aborted requests are no failures
    for (int s = 0; s < kCommodityCount; ++s)
        EXPECT_EQ(session.barStore.Series(s, kMonth).count, 0) << s; // no chain got that far

    // "同步数据" runs again afterwards.
    server->clearFault();
    app->mainFrame()->OnCommand(ID_SYNC_DATA);
    ASSERT_TRUE(syncEnded());
    EXPECT_EQ(prompts.messages.back(), "完成数据同步");
    EXPECT_EQ(session.barStore.Series(12, kMonth).count, 100);
}

TEST_F(LiveDataTest, QuittingWhileTransfersWaitEndsAtOnceAndChangesNothing)
{
    startServer(10000ms);
    startApp(server->port());
    ASSERT_TRUE(live->syncRunning());
    app->mainFrame()->close();
    stopApp();
    QCoreApplication::processEvents(); // aborted replies posted to the window's thread
    EXPECT_TRUE(prompts.messages.empty());
    for (int s = 0; s < kCommodityCount; ++s)
        EXPECT_EQ(session.barStore.Series(s, kHalfHour).count, 0) << s;
    EXPECT_TRUE(session.catalogue[5].lastPrice.empty());
}

TEST_F(LiveDataTest, RequestTheUserWaitsForShowsItIsWorkingAndCanBeCancelled)
{
    startServer();
    useDataServerAt(server->port());
    QWidget window;
    window.show();
    auto startQuotes = [this](ReplyHandler handler) {
        return session.g_pHttpClient->startQuotes(std::move(handler));
    };

    // A quick answer: the busy cursor only while it travels, no dialog.
    std::optional<HttpReply> quick;
    UserRequest::run(*session.g_pHttpClient, &window, QStringLiteral("正在连接..."), startQuotes,
                     [&](HttpReply&& reply) { quick = std::move(reply); });
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return quick.has_value(); }));
    EXPECT_TRUE(quick->ok());
    EXPECT_FALSE(quick->body.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A slow one: past a second the progress box offers to cancel, which aborts it.
    services::Fault slow;
    slow.delay = 30s;
    server->injectFault(slow);
    std::optional<HttpReply> cancelled;
    UserRequest::run(*session.g_pHttpClient, &window, QStringLiteral("正在连接..."), startQuotes,
                     [&](HttpReply&& reply) { cancelled = std::move(reply); });
    auto* progress = window.findChild<QProgressDialog*>(QStringLiteral("userRequestProgress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_FALSE(progress->isVisible());
    ASSERT_TRUE(PumpUntil([&] { return progress->isVisible(); }));
    ClickCancel(progress);
    ASSERT_TRUE(PumpUntil([&] { return cancelled.has_value(); }));
    EXPECT_EQ(cancelled->code, CURLE_ABORTED_BY_CALLBACK);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(window.findChild<QProgressDialog*>(QStringLiteral("userRequestProgress")), nullptr);
}

TEST_F(LiveDataTest, StartupWithTheServerDownNamesEveryFailureAndAFailedPollStillRefreshes)
{
    // The interruption, which refreshes the views as well, stays far off.
    startApp(ClosedPort(), std::chrono::hours(1));
    ASSERT_TRUE(syncEnded());
    ASSERT_EQ(prompts.messages.size(), 1u);
    const std::string& closing = prompts.messages[0];
    EXPECT_EQ(closing.rfind("完成数据同步\n", 0), 0u);
    for (const CommodityEntry& entry : session.catalogue)
        EXPECT_NE(closing.find(entry.code + " "), std::string::npos) << entry.code;
    EXPECT_TRUE(app->mainFrame()->isVisible());
    ASSERT_TRUE(pollEnded());
    EXPECT_TRUE(session.catalogue[5].lastPrice.empty());
    ASSERT_NE(board(), nullptr);
    ASSERT_TRUE(PumpUntil([this] { return !boardCells().empty(); }));

    // Only a refresh repaints the board: nothing else comes along meanwhile.
    session.catalogue[5].lastPrice = "1.23456";
    QTest::qWait(300);
    const auto shows = [this] {
        const std::vector<TextOp> cells = boardCells();
        return std::any_of(cells.begin(), cells.end(),
                           [](const TextOp& cell) { return cell.text == "1.23456"; });
    };
    ASSERT_FALSE(shows());
    app->mainFrame()->OnTimer();
    ASSERT_TRUE(pollEnded());
    EXPECT_TRUE(PumpUntil(shows));
}

// The data server's failures reach the status bar and the board within the interruption
// period (shortened here, as is the quote timer's period), and a good poll clears them.
TEST_F(LiveDataTest, TheStatusBarTurnsRedWhileTheDataServerFailsAndClearsWhenItAnswers)
{
    startServer();
    startApp(server->port(), 500ms);
    ASSERT_TRUE(syncEnded());
    ASSERT_TRUE(pollEnded());
    auto* timer = app->mainFrame()->findChild<QTimer*>(QStringLiteral("quoteTimer"));
    ASSERT_NE(timer, nullptr);
    timer->setInterval(50);
    ASSERT_TRUE(PumpUntil([this] { return feedPane()->text().startsWith(u"行情更新 "); }))
        << feedPane()->text().toStdString();
    EXPECT_FALSE(paneIsRed());
    const auto allGrey = [this] {
        const std::vector<TextOp> cells = boardCells();
        return cells.size() == 13 * 11 &&
               std::all_of(cells.begin(), cells.end(),
                           [](const TextOp& cell) { return cell.colour == kStaleGrey; });
    };
    EXPECT_FALSE(allGrey());

    services::Fault unavailable;
    unavailable.status = 503;
    unavailable.times = 0;
    server->injectFault(unavailable);
    ASSERT_TRUE(PumpUntil([this] { return feedPane()->text().startsWith(u"行情中断"); }));
    EXPECT_TRUE(paneIsRed());
    EXPECT_TRUE(feedPane()->text().endsWith(u"：服务器答复 HTTP/1.1 503 Service Unavailable"))
        << feedPane()->text().toStdString();
    EXPECT_TRUE(PumpUntil(allGrey));

    server->clearFault();
    ASSERT_TRUE(PumpUntil([this] { return feedPane()->text().startsWith(u"行情更新 "); }));
    EXPECT_FALSE(paneIsRed());
    EXPECT_TRUE(PumpUntil([&] { return !allGrey(); }));

    server->stop();
    ASSERT_TRUE(PumpUntil([this] { return feedPane()->text().startsWith(u"行情中断"); }));
    EXPECT_TRUE(paneIsRed());
    EXPECT_TRUE(feedPane()->text().endsWith(u"：连接被拒绝【7|111】"))
        << feedPane()->text().toStdString();
}

// A restart with the data server gone draws from the bars the last run stored.
TEST_F(LiveDataTest, StoredBarsComeBackWhenTheServerIsGone)
{
    const std::filesystem::path file = dir / "data" / "history.db";
    startServer();
    startApp(server->port(), QuoteFeedState::kInterruptAfter, file);
    ASSERT_TRUE(syncEnded());
    const BarSeries served = session.barStore.Series(5, kDay);
    ASSERT_GT(served.count, 0);
    EXPECT_EQ(served.storedAt, 0);
    history.reset(); // writes what is queued
    server->stop();

    prompts.messages.clear();
    startApp(ClosedPort(), QuoteFeedState::kInterruptAfter, file);
    // Filled before the synchronisation has answered.
    const BarSeries& stored = session.barStore.Series(5, kDay);
    ASSERT_EQ(stored.count, served.count);
    EXPECT_GT(stored.storedAt, 0);
    EXPECT_EQ(stored.bars[static_cast<std::size_t>(stored.count - 1)].time,
              served.bars[static_cast<std::size_t>(served.count - 1)].time);
    ASSERT_TRUE(syncEnded());
    // Every series failed and kept its stored bars; only the closing message was shown.
    EXPECT_EQ(stored.count, served.count);
    EXPECT_GT(stored.storedAt, 0);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].rfind("完成数据同步\n", 0), 0u);
}
