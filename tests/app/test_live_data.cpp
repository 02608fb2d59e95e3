// Start-up and the quote timer against the reference data server on loopback, and with no
// server at all.

#include "app/AppState.h"
#include "app/BlockingTransfer.h"
#include "app/LiveData.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/Transfer.h"
#include "net/HttpClient.h"
#include "services/DataServer.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace velmora;

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

class LiveDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousDir = std::filesystem::current_path();
        std::filesystem::current_path(dir.path()); // the client's cookie file goes here
        QuoteTimerStarted = false;
    }

    void TearDown() override
    {
        app.reset();
        delete g_pHttpClient;
        SetTransferRunner({});
        if (server)
            server->stop();
        std::filesystem::current_path(previousDir);
    }

    void startApp(int dataPort)
    {
        Endpoints endpoints;
        endpoints.dataServer.port = dataPort;
        new CHttpClient(endpoints);
        app = std::make_unique<COrbaltApp>(prompts);
        ConnectLiveData(*app, prompts);
        ASSERT_TRUE(app->InitInstance());
    }

    velmora::test::TempDir dir;
    std::filesystem::path previousDir;
    ScriptedPrompts prompts;
    std::unique_ptr<services::DataServer> server;
    std::unique_ptr<COrbaltApp> app;
};

} // namespace

TEST_F(LiveDataTest, StartupFillsEverySeriesAndTheQuoteBoard)
{
    services::DataServerOptions options;
    options.testRoutes = true;
    server = std::make_unique<services::DataServer>(options);
    std::string error;
    ASSERT_TRUE(server->start(error)) << error;

    startApp(server->port());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], "完成数据同步");
    for (int s = 0; s < kCommodityCount; ++s) {
        EXPECT_EQ(Series(s, kHalfHour).count, 200) << s;
        EXPECT_EQ(Series(s, kMonth).count, 100) << s;
        EXPECT_EQ(Series(s, kDay).cursor, 99) << s;
    }
    // The poll at window creation brought the quote names and prices.
    EXPECT_EQ(catalogue[5].name, "欧罗美元");
    EXPECT_FALSE(catalogue[12].lastPrice.empty());
    EXPECT_TRUE(QuoteTimerStarted);

    // A tick polls and refreshes; none runs while a transfer is in progress.
    catalogue[5].lastPrice.clear();
    app->mainFrame()->OnTimer();
    EXPECT_FALSE(catalogue[5].lastPrice.empty());
}

TEST_F(LiveDataTest, CancelledSynchronisationStillEndsWithItsMessage)
{
    services::DataServerOptions options;
    options.testRoutes = true;
    server = std::make_unique<services::DataServer>(options);
    std::string error;
    ASSERT_TRUE(server->start(error)) << error;
    services::Fault slow;
    slow.delay = std::chrono::milliseconds(30);
    slow.times = 0;
    server->injectFault(slow);

    // Press cancel as soon as the progress dialog shows.
    QTimer presser;
    QObject::connect(&presser, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
            dialog->cancel();
    });
    presser.start(5);
    startApp(server->port());
    ASSERT_FALSE(prompts.messages.empty());
    const std::string& closing = prompts.messages.back();
    EXPECT_EQ(closing.rfind("完成数据同步\n", 0), 0u);
    EXPECT_NE(closing.find("取消"), std::string::npos);
    EXPECT_LT(Series(12, kMonth).count, 100); // the last commodity was never fetched
}

TEST_F(LiveDataTest, StartupWithTheServerDownCompletesAndNamesEveryFailure)
{
    QElapsedTimer clock;
    clock.start();
    startApp(ClosedPort());
    EXPECT_LT(clock.elapsed(), 15000); // refused connections fail at once
    ASSERT_EQ(prompts.messages.size(), 1u);
    const std::string& closing = prompts.messages[0];
    EXPECT_EQ(closing.rfind("完成数据同步\n", 0), 0u);
    for (const CommodityEntry& entry : catalogue)
        EXPECT_NE(closing.find(entry.code + " "), std::string::npos) << entry.code;
    EXPECT_TRUE(catalogue[5].lastPrice.empty());
    EXPECT_TRUE(app->mainFrame()->isVisible());
}

TEST(BlockingTransfer, KeepsTheEventLoopTurningWhileTheWorkerRuns)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    bool during = false;
    RunOffGuiThread([&] {
        during = TransferInProgress();
        usleep(100 * 1000);
    });
    EXPECT_TRUE(during);
    EXPECT_FALSE(TransferInProgress());
    EXPECT_GT(ticks, 3); // timers (and paints) ran while the transfer blocked
}
