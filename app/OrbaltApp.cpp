#include "app/OrbaltApp.h"

#include "app/AppState.h"
#include "app/MainFrame.h"
#include "app/OrbaltDoc.h"
#include "app/OrbaltView.h"
#include "app/ProfileLayer.h"
#include "app/UserPrompts.h"
#include "app/framework/DocTemplate.h"
#include "market/Catalogue.h"
#include "platform/QtText.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

// The resources live in a static library: register them explicitly.
static void InitResources() { Q_INIT_RESOURCE(res); }

namespace velmora {

namespace {

constexpr std::string_view kExitQuestion = "您确认要退出Velmora系统?";

} // namespace

COrbaltApp::COrbaltApp(Session& session, UserPrompts& prompts)
    : m_session(session), m_prompts(prompts), m_profileLayer(std::make_unique<ProfileLayerSwitch>())
{
}

COrbaltApp::~COrbaltApp()
{
    m_mainFrame.reset();
    m_templates.clear();
}

std::vector<CDocTemplate*> COrbaltApp::templates() const
{
    std::vector<CDocTemplate*> result;
    for (const auto& docTemplate : m_templates)
        result.push_back(docTemplate.get());
    return result;
}

bool COrbaltApp::InitInstance()
{
    InitResources();
    InitCatalogue(m_session.catalogue);
    m_session.barStore.ResetBarStore();
    // Before any window: charts can be drawn from the stored bars at once.
    if (m_hooks.loadHistory)
        m_hooks.loadHistory();

    // Chart template first, help template second: commands open windows by position.
    m_templates.push_back(std::make_unique<CDocTemplate>(
        [this] { return std::make_unique<COrbaltDoc>(m_session); },
        [this](CDocument* doc) -> CView* {
            return new COrbaltView(static_cast<COrbaltDoc*>(doc), m_prompts, *m_profileLayer);
        }));
    m_templates.push_back(std::make_unique<CDocTemplate>(
        [this] { return std::make_unique<COrbaltDoc>(m_session); },
        [this](CDocument* doc) -> CView* {
            return m_hooks.makeHelpView ? m_hooks.makeHelpView(doc) : nullptr;
        }));

    m_mainFrame = std::make_unique<CMainFrame>(*this);
    if (!m_mainFrame->OnCreate())
        return false;
    m_mainFrame->setWindowTitle(ToQString(kProgramName));
    // Without a window manager "maximised" is only a hint; start at the screen's size anyway.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_mainFrame->setGeometry(screen->availableGeometry());
    m_mainFrame->showMaximized();

    m_session.RequestKind = kQuoteBoardKind;
    OpenTemplate(0);

    if (m_hooks.checkForUpdate)
        m_hooks.checkForUpdate();
    if (m_hooks.syncAll)
        m_hooks.syncAll();
    return true;
}

void COrbaltApp::OpenTemplate(int position)
{
    if (position < 0 || position >= static_cast<int>(m_templates.size()) || !m_mainFrame)
        return;
    m_templates[position]->OpenDocumentFile(m_mainFrame->mdiArea());
}

void COrbaltApp::OnSystemExit()
{
    if (!m_prompts.askYesNo(kExitQuestion))
        return;
    if (m_session.CurrentUser.loggedIn && m_hooks.logout)
        m_hooks.logout();
    // Queued: takes effect once the event loop runs.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

} // namespace velmora
