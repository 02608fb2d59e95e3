#include "app/QorurlView.h"

#include "app/AppState.h"
#include "app/BrowserFeatures.h"
#include "app/HelpPages.h"
#include "app/OrbaltDoc.h"
#include "net/Endpoints.h"
#include "net/HttpClient.h"
#include "session/Session.h"

#include <QAuthenticator>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <cstdio>
#include <unistd.h>

namespace velmora {

namespace {

// A page that keeps everything to itself: no script dialogs, no console output, no files
// chosen, no certificate exceptions, no credentials asked for, no permissions granted.
class SilentPage final : public QWebEnginePage {
public:
    explicit SilentPage(QWebEngineProfile* profile, QObject* parent)
        : QWebEnginePage(profile, parent)
    {
        connect(this, &QWebEnginePage::certificateError, this,
                [](QWebEngineCertificateError error) { error.rejectCertificate(); });
        connect(
            this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
        connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
                [](const QUrl&, QAuthenticator* authenticator, const QString&) {
                    *authenticator = QAuthenticator();
                });
        connect(this, &QWebEnginePage::featurePermissionRequested, this,
                [this](const QUrl& origin, QWebEnginePage::Feature feature) {
                    setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
                });
    }

protected:
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override
    {
        return false;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                  const QString&) override
    {
    }
    QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override
    {
        return {};
    }
    // Links that would open a new window stay out.
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

class LocalContentGuard final : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override
    {
        if (RefuseHelpRequest(info.requestUrl(), info.firstPartyUrl(), info.resourceType()))
            info.block(true);
    }
};

void ApplyBrowserFeatures(QWebEngineSettings& settings)
{
    using S = QWebEngineSettings;
    for (const BrowserFeature& feature : kBrowserFeatures) {
        const bool on = feature.value != 0;
        if (feature.name == "FEATURE_BLOCK_LMZ_OBJECT") {
            settings.setAttribute(S::PluginsEnabled, !on);
        } else if (feature.name == "FEATURE_Cross_Domain_Redirect_Mitigation") {
            settings.setAttribute(S::LocalContentCanAccessRemoteUrls, !on);
        } else if (feature.name == "FEATURE_ENABLE_SCRIPT_PASTE_URLACTION_IF_PROMPT") {
            settings.setAttribute(S::JavascriptCanPaste, on);
        } else if (feature.name == "FEATURE_LOCALMACHINE_LOCKDOWN") {
            settings.setAttribute(S::LocalContentCanAccessFileUrls, !on);
        } else if (feature.name == "FEATURE_GPU_RENDERING") {
            settings.setAttribute(S::WebGLEnabled, on);
            settings.setAttribute(S::Accelerated2dCanvasEnabled, on);
        }
        // Standards mode is the engine's only one; local images and scripts are refused per
        // request by the profile's guard.
    }
    // Silent: no windows opened by scripts, the engine's own quiet error page.
    settings.setAttribute(S::JavascriptCanOpenWindows, false);
    settings.setAttribute(S::JavascriptCanAccessClipboard, false);
    settings.setAttribute(S::ErrorPageEnabled, true);
    settings.setAttribute(S::AllowRunningInsecureContent, false);
}

} // namespace

bool RefuseHelpRequest(const QUrl& url, const QUrl& firstParty, int resourceType)
{
    using I = QWebEngineUrlRequestInfo;
    const bool localRequest = url.isLocalFile();
    if (localRequest &&
        (resourceType == I::ResourceTypeImage || resourceType == I::ResourceTypeObject ||
         resourceType == I::ResourceTypePluginResource || resourceType == I::ResourceTypeScript))
        return true;
    return firstParty.isLocalFile() && !localRequest && resourceType != I::ResourceTypeMainFrame;
}

QWebEngineProfile* HelpProfile()
{
    static QWebEngineProfile* profile = [] {
        if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) {
            std::fputs("velmora: running as root: the help view's browser runs without its "
                       "sandbox\n",
                       stderr);
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        }
        // No storage name: off the record, nothing of the help pages is kept on disk.
        auto* made = new QWebEngineProfile(QCoreApplication::instance());
        made->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        made->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        made->setUrlRequestInterceptor(new LocalContentGuard(made));
        ApplyBrowserFeatures(*made->settings());
        return made;
    }();
    return profile;
}

QUrl CQorurlView::startPage(const Endpoints& endpoints)
{
    return QUrl(QString::fromStdString(WebsiteUrl(endpoints, "/helponline/mainindex.html")));
}

CQorurlView::CQorurlView(COrbaltDoc* document) : CView(document)
{
    setObjectName(QStringLiteral("helpView"));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_browser = new QWebEngineView(viewport());
    m_browser->setObjectName(QStringLiteral("helpBrowser"));
    m_browser->setPage(new SilentPage(HelpProfile(), m_browser));
    m_browser->setContextMenuPolicy(Qt::NoContextMenu);
    m_localNote = new QLabel(
        QStringLiteral("无法连接网站，以下是随程序安装的帮助页面（本地副本）。"), viewport());
    m_localNote->setObjectName(QStringLiteral("helpLocalNote"));
    m_localNote->setContentsMargins(6, 3, 6, 3);
    m_localNote->hide();
    auto* layout = new QVBoxLayout(viewport());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_localNote);
    layout->addWidget(m_browser);
    watch(m_browser);
    // A website page that cannot be loaded gives way to its installed copy.
    connect(m_browser->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus)
                    return;
                const QUrl local = LocalHelpPage(
                    info.url(), startPage(), LocalHelpDir(QCoreApplication::applicationDirPath()));
                if (local.isEmpty())
                    return;
                // The installed pages are the program's own: their links may lead from one
                // local page to another, which the profile refuses to other local content.
                m_browser->page()->settings()->setAttribute(
                    QWebEngineSettings::LocalContentCanAccessFileUrls, true);
                m_browser->load(local);
            });
    connect(m_browser, &QWebEngineView::urlChanged, this,
            [this](const QUrl& url) { m_localNote->setVisible(url.isLocalFile()); });
    connect(m_browser, &QWebEngineView::printFinished, this, &CQorurlView::printFinished);
    auto* print = new QShortcut(QKeySequence::Print, this);
    connect(print, &QShortcut::activated, this, &CQorurlView::OnFilePrint);
}

CQorurlView::~CQorurlView() = default; // after the printer's type is complete

QUrl CQorurlView::startPage() const
{
    // The website the program's client talks to.
    const Session& session = static_cast<const COrbaltDoc*>(GetDocument())->session();
    return startPage(session.g_pHttpClient ? session.g_pHttpClient->endpoints()
                                           : CurrentEndpoints());
}

void CQorurlView::OnInitialUpdate()
{
    const auto* doc = static_cast<const COrbaltDoc*>(GetDocument());
    if (m_navigated || (doc->session().RequestKind != kHelpKind && doc->kind != kHelpKind))
        return;
    m_navigated = true;
    m_browser->load(startPage());
}

void CQorurlView::printTo(QPrinter& printer) { m_browser->print(&printer); }

void CQorurlView::OnFilePrint()
{
    if (m_printer)
        return; // still printing
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The engine prints asynchronously; the printer lives until it has finished.
    m_printer = std::move(printer);
    connect(
        m_browser, &QWebEngineView::printFinished, this, [this] { m_printer.reset(); },
        Qt::SingleShotConnection);
    printTo(*m_printer);
}

// The engine paints and takes input in a child widget it makes when the page first shows.
void CQorurlView::watch(QObject* object)
{
    object->installEventFilter(this);
    for (QObject* child : object->children()) {
        if (child->isWidgetType())
            watch(child);
    }
}

bool CQorurlView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ChildAdded:
        if (QObject* child = static_cast<QChildEvent*>(event)->child(); child->isWidgetType())
            watch(child);
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton)
            return true;
        break;
    case QEvent::ContextMenu:
        return true;
    default:
        break;
    }
    return CView::eventFilter(watched, event);
}

} // namespace velmora
