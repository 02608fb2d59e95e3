// The online help view on the browser engine, offscreen, against the reference website.

#include "app/AppState.h"
#include "app/Commands.h"
#include "app/HelpPages.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/QorurlView.h"
#include "app/UserPrompts.h"
#include "app/framework/ChildFrame.h"
#include "net/HttpClient.h"
#include "services/AccountServer.h"
#include "services/WebsitePages.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPrinter>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineView>
#include <fstream>
#include <gtest/gtest.h>

using namespace velmora;
namespace fs = std::filesystem;

namespace {

bool PumpUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, 30000); }

QVariant Evaluate(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    PumpUntil([&] { return done; });
    return result;
}

class HelpViewTest : public ::testing::Test {
protected:
    void start(bool withWebsite)
    {
        Endpoints endpoints;
        if (withWebsite) {
            services::AccountServerOptions options;
            options.db = dir / "accounts.db";
            options.hashCost = services::HashCost::Minimum;
            options.helpDir = services::DefaultHelpDir();
            server = std::make_unique<services::AccountServer>(options);
            std::string error;
            ASSERT_TRUE(server->start(&error)) << error;
            endpoints.website.port = server->port();
        } else {
            endpoints.website.port = 9; // discard: nothing listens on loopback
        }
        session.g_pHttpClient = std::make_unique<CHttpClient>(endpoints, dir / "cookies");
        app = std::make_unique<COrbaltApp>(session, prompts);
        app->hooks().makeHelpView = [](CDocument* doc) -> CView* {
            return new CQorurlView(static_cast<COrbaltDoc*>(doc));
        };
        ASSERT_TRUE(app->InitInstance());
    }

    void TearDown() override
    {
        app.reset();
        session.g_pHttpClient.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        server.reset();
    }

    CQorurlView* openHelp()
    {
        app->mainFrame()->OnCommand(ID_ONLINE_HELP);
        auto* child = qobject_cast<CChildFrame*>(app->mainFrame()->mdiArea()->activeSubWindow());
        return child ? qobject_cast<CQorurlView*>(child->view()) : nullptr;
    }

    bool loaded(CQorurlView* view, const QString& title)
    {
        return PumpUntil([&] { return view->browser()->title() == title; });
    }

    test::TempDir dir;
    Session session;
    ScriptedPrompts prompts;
    std::unique_ptr<services::AccountServer> server;
    std::unique_ptr<COrbaltApp> app;
};

const QString kStartTitle = QStringLiteral("Velmora 在线帮助");

} // namespace

TEST_F(HelpViewTest, EachHelpWindowLoadsTheStartPageOnItsOwn)
{
    start(true);
    CQorurlView* first = openHelp();
    CQorurlView* second = openHelp();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);
    EXPECT_EQ(first->parentWidget()->windowTitle(), QStringLiteral("在线帮助"));
    ASSERT_TRUE(loaded(first, kStartTitle));
    ASSERT_TRUE(loaded(second, kStartTitle));
    EXPECT_EQ(first->browser()->url(), CQorurlView::startPage(session.g_pHttpClient->endpoints()));
    EXPECT_TRUE(first->localNote()->isHidden());
    EXPECT_NE(first->browser()->page(), second->browser()->page());

    // Following a link in one leaves the other where it was.
    Evaluate(first->browser()->page(),
             QStringLiteral("document.querySelector('a[href=\"keys.html\"]').click()"));
    ASSERT_TRUE(loaded(first, QStringLiteral("快捷键 - Velmora 在线帮助")));
    EXPECT_EQ(second->browser()->title(), kStartTitle);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(HelpViewTest, RightPressesNeverReachThePage)
{
    start(true);
    CQorurlView* view = openHelp();
    ASSERT_NE(view, nullptr);
    view->parentWidget()->resize(800, 600);
    ASSERT_TRUE(loaded(view, kStartTitle));
    QWebEnginePage* page = view->browser()->page();
    Evaluate(page,
             QStringLiteral("window.presses = [0, 0, 0]; window.menus = 0;"
                            "document.addEventListener('mousedown', e => presses[e.button]++);"
                            "document.addEventListener('contextmenu', () => menus++);"));
    ASSERT_TRUE(PumpUntil([&] { return view->browser()->focusProxy() != nullptr; }));
    QWidget* input = view->browser()->focusProxy();
    const QPoint where(200, 200);
    QTest::mouseClick(input, Qt::RightButton, {}, where);
    QTest::mouseDClick(input, Qt::RightButton, {}, where);
    QTest::mouseClick(input, Qt::LeftButton, {}, where);
    // The left press went through; by the time it arrived, so would have the right ones.
    ASSERT_TRUE(
        PumpUntil([&] { return Evaluate(page, QStringLiteral("presses[0]")).toInt() == 1; }));
    EXPECT_EQ(Evaluate(page, QStringLiteral("presses[2]")).toInt(), 0);
    EXPECT_EQ(Evaluate(page, QStringLiteral("menus")).toInt(), 0);
}

TEST_F(HelpViewTest, WithoutTheWebsiteTheInstalledPagesShowUnderANote)
{
    start(false);
    CQorurlView* view = openHelp();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(loaded(view, kStartTitle));
    EXPECT_TRUE(view->browser()->url().isLocalFile())
        << view->browser()->url().toString().toStdString();
    EXPECT_FALSE(view->localNote()->isHidden());
    EXPECT_TRUE(view->localNote()->text().contains(QStringLiteral("本地副本")));
    EXPECT_TRUE(prompts.messages.empty());
    // Links lead to the other local pages.
    Evaluate(view->browser()->page(),
             QStringLiteral("document.querySelector('a[href=\"keys.html\"]').click()"));
    ASSERT_TRUE(loaded(view, QStringLiteral("快捷键 - Velmora 在线帮助")));
    // Script dialogs stay silent.
    Evaluate(view->browser()->page(), QStringLiteral("alert('x'); confirm('y'); prompt('z')"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(HelpPages, AFailedWebsitePageGivesWayToItsLocalCopy)
{
    const QString dir = LocalHelpDir(QCoreApplication::applicationDirPath());
    ASSERT_FALSE(dir.isEmpty());
    const QUrl start(QStringLiteral("http://127.0.0.1:18081/helponline/mainindex.html"));
    const QUrl index = QUrl::fromLocalFile(dir + QStringLiteral("/mainindex.html"));
    QUrl keys = QUrl::fromLocalFile(dir + QStringLiteral("/keys.html"));
    keys.setFragment(QStringLiteral("chart"));
    const struct {
        const char* failed;
        QUrl local;
    } cases[] = {
        {"http://127.0.0.1:18081/helponline/mainindex.html", index},
        {"http://127.0.0.1:18081/helponline/keys.html#chart", keys},
        {"http://127.0.0.1:18081/helponline/", index},
        {"http://127.0.0.1:18081/helponline/missing.html", index},
        {"http://127.0.0.1:18081/helponline/../../etc/passwd", index},
        {"http://127.0.0.1:18081/helponline/%2e%2e/CMakeLists.txt", index},
        // Not a help page of this website: the engine's error page stays.
        {"http://127.0.0.1:18081/weborbalt/chklogin.asp", {}},
        {"http://127.0.0.1:9999/helponline/mainindex.html", {}},
        {"https://127.0.0.1:18081/helponline/mainindex.html", {}},
        {"http://example.net/helponline/mainindex.html", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LocalHelpPage(QUrl(QString::fromUtf8(c.failed)), start, dir), c.local)
            << c.failed;
    }
    // A local page that fails has no other copy; without local pages there is none.
    EXPECT_EQ(LocalHelpPage(index, start, dir), QUrl());
    EXPECT_EQ(LocalHelpPage(start, start, QString()), QUrl());
    // An installed program's pages lie in share/ beside its bin/.
    test::TempDir prefix;
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share/velmora/helponline");
    std::ofstream(prefix / "share/velmora/helponline/mainindex.html") << "<html></html>";
    EXPECT_EQ(LocalHelpDir(QString::fromStdString((prefix / "bin").string())),
              QString::fromStdString((prefix / "share/velmora/helponline").string()));
}

TEST_F(HelpViewTest, TheBrowserSwitchesAreTheProfilesSettings)
{
    start(false);
    const QWebEngineSettings* settings = HelpProfile()->settings();
    using S = QWebEngineSettings;
    EXPECT_FALSE(settings->testAttribute(S::PluginsEnabled));
    EXPECT_FALSE(settings->testAttribute(S::LocalContentCanAccessRemoteUrls));
    EXPECT_FALSE(settings->testAttribute(S::LocalContentCanAccessFileUrls));
    EXPECT_TRUE(settings->testAttribute(S::JavascriptCanPaste));
    EXPECT_TRUE(settings->testAttribute(S::WebGLEnabled));
    EXPECT_TRUE(settings->testAttribute(S::Accelerated2dCanvasEnabled));
    EXPECT_FALSE(settings->testAttribute(S::JavascriptCanOpenWindows));
    EXPECT_TRUE(HelpProfile()->isOffTheRecord());

    using I = QWebEngineUrlRequestInfo;
    const QUrl local = QUrl::fromLocalFile(QStringLiteral("/tmp/page.html"));
    const QUrl image = QUrl::fromLocalFile(QStringLiteral("/tmp/x.png"));
    const QUrl remote(QStringLiteral("http://127.0.0.1/x.png"));
    for (int type : {I::ResourceTypeImage, I::ResourceTypeObject, I::ResourceTypeScript})
        EXPECT_TRUE(RefuseHelpRequest(image, remote, type)) << type;
    EXPECT_FALSE(RefuseHelpRequest(image, local, I::ResourceTypeStylesheet));
    EXPECT_TRUE(RefuseHelpRequest(remote, local, I::ResourceTypeImage));
    EXPECT_FALSE(RefuseHelpRequest(remote, remote, I::ResourceTypeScript));
    EXPECT_FALSE(RefuseHelpRequest(local, local, I::ResourceTypeMainFrame));
}

TEST_F(HelpViewTest, PrintsThroughTheEngine)
{
    start(true);
    CQorurlView* view = openHelp();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(loaded(view, kStartTitle));
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((dir / "help.pdf").string()));
    bool finished = false;
    bool ok = false;
    QObject::connect(view, &CQorurlView::printFinished, [&](bool success) {
        finished = true;
        ok = success;
    });
    view->printTo(printer);
    ASSERT_TRUE(PumpUntil([&] { return finished; }));
    EXPECT_TRUE(ok);
    EXPECT_GT(fs::file_size(dir / "help.pdf"), 1000u);
}
