#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/UserCenterDlg.h"
#include "app/Workspace.h"
#include "app/framework/ChildFrame.h"
#include "app/framework/View.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "net/HttpClient.h"
#include "platform/RegistryKey.h"
#include "session/Session.h"
#include "tests/net/support/RawHttpServer.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>
#include <QTest>
#include <ctime>
#include <gtest/gtest.h>

namespace velmora {
namespace {

using test::RawHttpServer;

constexpr int kEuro = 5;
constexpr int kGold = 12;

void FillSeries(BarStore& bars, int commodity, Period period, int count)
{
    BarSeries& series = bars.Series(commodity, period);
    for (int i = 0; i < count; ++i) {
        char time[32];
        std::snprintf(time, sizeof time, "2026-%02d-%02d 00:00:00", 1 + i / 28, 1 + i % 28);
        series.bars[static_cast<std::size_t>(i)] = {time, 1.0 + i, 1.5 + i, 2.0 + i, 0.5 + i, 3};
    }
    series.count = count;
    series.cursor = count - 1;
}

struct Shown {
    DocKind kind;
    int period;
    bool maximized;
    bool operator==(const Shown&) const = default;
};

const COrbaltDoc* DocumentOf(QMdiSubWindow* window)
{
    return qobject_cast<const COrbaltDoc*>(
        qobject_cast<CChildFrame*>(window)->view()->GetDocument());
}

// The program's windows from bottom to top.
std::vector<Shown> Windows(CMainFrame& frame)
{
    std::vector<Shown> shown;
    for (QMdiSubWindow* window : frame.mdiArea()->subWindowList(QMdiArea::StackingOrder)) {
        const COrbaltDoc* doc = DocumentOf(window);
        shown.push_back({doc->kind, doc->period, window->isMaximized()});
    }
    return shown;
}

void SaveLoginSettings(const std::string& user, const std::string& password)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    ASSERT_TRUE(key.Open(kRegistry.subKey));
    key.WriteString(kRegistry.loginUser, user);
    key.WriteString(kRegistry.loginPassword, password);
}

class WorkspaceTest : public ::testing::Test {
protected:
    WorkspaceTest()
    {
        SetAutoLogin(false);
        CRegistryKey key(RegistryRoot::LocalMachine);
        if (key.Open(kRegistry.subKey))
            key.WriteString("VELMORA_WINDOWS", "0");
        Endpoints endpoints;
        endpoints.website.port = m_server.port();
        m_session.g_pHttpClient =
            std::make_unique<CHttpClient>(endpoints, velmora::test::CookieFolder());
    }
    ~WorkspaceTest() override
    {
        m_workspace.reset();
        m_app.reset();
        SaveLoginSettings("", "");
        SetAutoLogin(false);
    }

    // A fresh start of the program: board, then the saved workspace.
    void start()
    {
        m_workspace.reset();
        m_app.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_app = std::make_unique<COrbaltApp>(m_session, m_prompts);
        ASSERT_TRUE(m_app->InitInstance());
        FillSeries(m_session.barStore, kEuro, kDay, 100);
        FillSeries(m_session.barStore, kGold, kHalfHour, 60);
        m_workspace = std::make_unique<Workspace>(*m_app, [this] { return m_syncing; });
        m_workspace->restore();
    }
    void openChart(int commodity, Period period)
    {
        m_session.RequestKind = commodity;
        m_session.RequestPeriod = period;
        m_app->OpenTemplate(0);
    }

    RawHttpServer m_server;
    Session m_session;
    UserInfo& CurrentUser = m_session.CurrentUser;
    ScriptedPrompts m_prompts;
    std::unique_ptr<COrbaltApp> m_app;
    std::unique_ptr<Workspace> m_workspace;
    bool m_syncing = false;
};

TEST(WindowEntryTest, TextRoundTrip)
{
    const std::vector<WindowEntry> entries = {
        {kGold, kHalfHour, QRect(10, 20, 600, 400), false, "2026-12-08 12:00:00"},
        {kQuoteBoardKind, 0, QRect(0, 0, 800, 300), true, ""},
        {kHelpKind, 0, QRect(-5, 3, 100, 100), false, ""},
    };
    for (const WindowEntry& entry : entries)
        EXPECT_EQ(ParseWindowEntry(FormatWindowEntry(entry)), entry);
    for (const char* bad : {"", "12|0|1|2|3|4|0", "15|0|1|2|3|4|0|", "5|4|1|2|3|4|0|",
                            "5|0|1|2|x|4|0|", "5|0|1|2|3|4|0|t|u"})
        EXPECT_FALSE(ParseWindowEntry(bad)) << bad;
}

TEST_F(WorkspaceTest, ChartsComeBackOnceLoggedInWithTheirPlaceAndCursor)
{
    start();
    CurrentUser.loggedIn = true;
    openChart(kGold, kHalfHour);
    openChart(kEuro, kDay);
    QMdiSubWindow* euro = m_app->mainFrame()->mdiArea()->activeSubWindow();
    euro->showNormal(); // a new window opens maximized
    euro->setGeometry(30, 40, 500, 350);
    m_session.barStore.Series(kEuro, kDay).cursor = 42;
    const std::string cursorTime = m_session.barStore.Series(kEuro, kDay).bars[42].time;
    openChart(kGold, kHalfHour);
    m_app->mainFrame()->mdiArea()->activeSubWindow()->showMaximized();
    const std::vector<Shown> before = Windows(*m_app->mainFrame());
    ASSERT_EQ(before.size(), 4u);
    m_workspace->save();

    // Without a login only the board comes back; the charts wait.
    CurrentUser = UserInfo{};
    start();
    EXPECT_EQ(Windows(*m_app->mainFrame()).size(), 1u);
    EXPECT_EQ(m_workspace->pendingCharts(), 3u);
    // Neither during a synchronisation.
    m_syncing = true;
    CurrentUser.loggedIn = true;
    QTest::qWait(250);
    EXPECT_EQ(Windows(*m_app->mainFrame()).size(), 1u);
    m_syncing = false;
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_workspace->pendingCharts() == 0; }, 2000));
    EXPECT_EQ(Windows(*m_app->mainFrame()), before);
    const BarSeries& euroBars = m_session.barStore.Series(kEuro, kDay);
    EXPECT_EQ(euroBars.bars[static_cast<std::size_t>(euroBars.cursor)].time, cursorTime);
    EXPECT_EQ(m_session.barStore.Series(kGold, kHalfHour).cursor, 59); // was on the newest bar
    for (QMdiSubWindow* window : m_app->mainFrame()->mdiArea()->subWindowList()) {
        if (DocumentOf(window)->kind == kEuro) {
            EXPECT_EQ(window->geometry(), QRect(30, 40, 500, 350));
        }
    }

    // Charts that never came back are kept for the start after.
    CurrentUser = UserInfo{};
    start();
    m_workspace->save();
    start();
    EXPECT_EQ(m_workspace->pendingCharts(), 3u);
}

TEST_F(WorkspaceTest, AutomaticLoginOpensTheChartsOrSaysWhyInTheStatusBar)
{
    start();
    CurrentUser.loggedIn = true;
    openChart(kEuro, kDay);
    m_workspace->save();
    CurrentUser = UserInfo{};
    SaveLoginSettings("zhang", "velmora-demo");

    // Off by default: nothing is sent.
    start();
    m_workspace->autoLogin();
    QTest::qWait(100);
    EXPECT_TRUE(m_server.requests().empty());
    EXPECT_EQ(m_workspace->pendingCharts(), 1u);

    // On, and the login succeeds: the chart comes back without any action.
    CUserCenterDlg dialog(m_session, m_prompts);
    EXPECT_FALSE(dialog.autoLoginBox()->isChecked());
    dialog.autoLoginBox()->setChecked(true);
    EXPECT_TRUE(AutoLoginEnabled());
    m_server.setResponse(RawHttpServer::Response(200, "login success alias=zz"));
    start();
    m_workspace->autoLogin();
    ASSERT_TRUE(QTest::qWaitFor([&] { return CurrentUser.loggedIn; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_workspace->pendingCharts() == 0; }, 2000));
    EXPECT_EQ(Windows(*m_app->mainFrame()).size(), 2u);
    EXPECT_TRUE(m_prompts.messages.empty());

    // A login that cannot reach its server: the status bar and the user center say why, no box.
    CurrentUser = UserInfo{};
    {
        Endpoints gone = m_session.g_pHttpClient->endpoints();
        gone.website.port = test::UnusedPort();
        m_session.g_pHttpClient.reset();
        m_session.g_pHttpClient =
            std::make_unique<CHttpClient>(gone, velmora::test::CookieFolder());
    }
    start();
    m_workspace->autoLogin();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_session.autoLoginStatus.empty(); }, 10000));
    EXPECT_FALSE(CurrentUser.loggedIn);
    EXPECT_TRUE(m_prompts.messages.empty());
    EXPECT_TRUE(m_app->mainFrame()->statusBar()->currentMessage().startsWith(
        QStringLiteral("自动登录失败：")))
        << m_app->mainFrame()->statusBar()->currentMessage().toStdString();
    EXPECT_TRUE(CUserCenterDlg(m_session, m_prompts)
                    .statusBox()
                    ->text()
                    .startsWith(QStringLiteral("自动登录失败：")));
    EXPECT_EQ(m_workspace->pendingCharts(), 1u);
}

TEST_F(WorkspaceTest, StatusBarSaysHowOldTheActiveChartsStoredBarsAre)
{
    start();
    CurrentUser.loggedIn = true;
    openChart(kEuro, kDay);
    CMainFrame& frame = *m_app->mainFrame();
    frame.showFeedState();
    EXPECT_TRUE(frame.storedPane()->text().isEmpty());
    m_session.barStore.Series(kEuro, kDay).storedAt =
        static_cast<std::int64_t>(std::time(nullptr)) - 25 * 60;
    frame.showFeedState();
    EXPECT_TRUE(frame.storedPane()->text().endsWith(QStringLiteral("（25分钟前）")))
        << frame.storedPane()->text().toStdString();
    // A delivery of this run ends the mark.
    m_session.barStore.notifyChanged(kEuro, kDay, SeriesChange::Delivered);
    frame.showFeedState();
    EXPECT_TRUE(frame.storedPane()->text().isEmpty());
}

} // namespace
} // namespace velmora
