#include "app/MainFrame.h"

#include "app/AboutText.h"
#include "app/AppState.h"
#include "app/Commands.h"
#include "app/Dialogs.h"
#include "app/ImageToolBar.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/OrbaltView.h"
#include "app/ProfileLayer.h"
#include "app/StoredHistory.h"
#include "app/UserPrompts.h"
#include "app/framework/ChildFrame.h"
#include "app/framework/DocTemplate.h"
#include "market/BarStore.h"
#include "market/live/QuoteFeedState.h"
#include "net/Endpoints.h"
#include "platform/LockKeys.h"
#include "platform/QtText.h"
#include "session/Session.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <ctime>

namespace velmora {

namespace {

constexpr int kQuoteTimerPeriod = 5000; // ms

constexpr std::string_view kLoginFirst = "请先在用户中心中成功登陆";

// Toolbar buttons in order; 0 is a separator.
constexpr int kToolBarLayout[] = {ID_TB_DATA_MANAGEMENT,
                                  ID_TB_ANALYSE,
                                  0,
                                  ID_PERIOD_HALF_HOUR,
                                  0,
                                  ID_PERIOD_DAY,
                                  0,
                                  ID_PERIOD_WEEK,
                                  0,
                                  ID_PERIOD_MONTH,
                                  0,
                                  ID_TB_NEXT_COMMODITY,
                                  ID_TB_PREV_COMMODITY,
                                  ID_TB_NEXT_TIME_UNIT,
                                  ID_TB_PREV_TIME_UNIT,
                                  ID_USER_CENTER,
                                  ID_ONLINE_HELP,
                                  ID_SYNC_DATA,
                                  ID_SYSTEM_EXIT,
                                  ID_WEBSITE,
                                  0,
                                  ID_PROFILE_LAYER};

} // namespace

CMainFrame::CMainFrame(COrbaltApp& app) : m_app(app), m_mdi(new QMdiArea(this))
{
    setObjectName(QStringLiteral("mainFrame"));
    m_mdi->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(m_mdi);
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::OnCreate()
{
    buildMenus();
    buildToolBar();
    // Without the strip the buttons keep whatever images they have.
    m_toolBar->LoadImageStrips(32, 145, 145, 145);
    // The program's own icon: the installed theme's, else the one built in.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("net.velmora.Velmora"),
                                                 QIcon(QStringLiteral(":/res/app/velmora.svg"))));
    buildStatusBar();
    buildKeyboardTable();
    PollQuotes();
    return true;
}

void CMainFrame::PollQuotes()
{
    if (m_app.hooks().pollQuotes)
        m_app.hooks().pollQuotes();
    if (m_quoteTimer == nullptr) {
        m_quoteTimer = new QTimer(this);
        m_quoteTimer->setObjectName(QStringLiteral("quoteTimer"));
        connect(m_quoteTimer, &QTimer::timeout, this, &CMainFrame::OnTimer);
        m_quoteTimer->start(kQuoteTimerPeriod);
    }
}

void CMainFrame::OnTimer()
{
    // The views are refreshed when the poll answers.
    if (m_app.hooks().pollQuotes)
        m_app.hooks().pollQuotes();
}

QAction* CMainFrame::makeAction(int id, const QString& text)
{
    auto* action = new QAction(text, this);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    action->setStatusTip(ToQString(CommandPrompt(id)));
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions[id] = action;
    return action;
}

QAction* CMainFrame::action(int id) const
{
    const auto found = m_actions.find(id);
    return found == m_actions.end() ? nullptr : found->second;
}

void CMainFrame::buildMenus()
{
    QMenu* system = menuBar()->addMenu(QStringLiteral("系统(&F)"));
    system->addAction(makeAction(ID_USER_CENTER, QStringLiteral("用户中心(&S)\tCtrl+U")));
    system->addAction(makeAction(ID_SHOW_QUOTES, QStringLiteral("显示行情(&S)\tCtrl+S")));
    system->addAction(makeAction(ID_ANALYSE, QStringLiteral("分析商品(&T)\tCtrl+T")));
    system->addAction(makeAction(ID_DATA_MANAGEMENT, QStringLiteral("数据管理(&M)\tCtrl+M")));
    system->addSeparator();
    system->addAction(makeAction(ID_APP_EXIT, QStringLiteral("退出系统(&X)")));

    QMenu* window = menuBar()->addMenu(QStringLiteral("窗口(&W)"));
    window->addAction(makeAction(ID_WINDOW_NEW, QStringLiteral("新建窗口(&N)")));
    window->addAction(makeAction(ID_WINDOW_CASCADE, QStringLiteral("层叠(&C)")));
    window->addAction(makeAction(ID_WINDOW_TILE, QStringLiteral("平铺(&T)")));
    // The list of open child windows follows the three commands.
    QAction* listStart = window->addSeparator();
    connect(window, &QMenu::aboutToShow, this, [this, window, listStart] {
        const QList<QAction*> all = window->actions();
        for (qsizetype i = all.indexOf(listStart) + 1; i < all.size(); ++i)
            window->removeAction(all[i]), all[i]->deleteLater();
        int number = 1;
        for (QMdiSubWindow* child : m_mdi->subWindowList()) {
            QAction* item =
                window->addAction(QStringLiteral("&%1 %2").arg(number++).arg(child->windowTitle()));
            item->setCheckable(true);
            item->setChecked(child == m_mdi->activeSubWindow());
            connect(item, &QAction::triggered, m_mdi,
                    [this, child] { m_mdi->setActiveSubWindow(child); });
        }
        listStart->setVisible(!m_mdi->subWindowList().isEmpty());
    });

    QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->addAction(makeAction(ID_ONLINE_HELP, QStringLiteral("在线帮助")));
    help->addAction(makeAction(ID_APP_ABOUT, QStringLiteral("关于(&A)...")));
}

void CMainFrame::buildToolBar()
{
    m_toolBar = new CImageToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setWindowTitle(QStringLiteral("工具栏"));
    for (int id : kToolBarLayout) {
        if (id == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* existing = action(id);
        QAction* button = existing ? existing : makeAction(id, ToQString(CommandPrompt(id)));
        m_toolBar->addAction(button);
    }
    // The layer's button stays pressed while the layer is shown, whoever turned it on.
    QAction* layer = action(ID_PROFILE_LAYER);
    ProfileLayerSwitch& layerSwitch = m_app.profileLayer();
    layer->setCheckable(true);
    layer->setChecked(layerSwitch.shown());
    connect(&layerSwitch, &ProfileLayerSwitch::shownChanged, layer, &QAction::setChecked);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
}

void CMainFrame::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    m_messagePane = new QLabel(QStringLiteral("就绪"), bar);
    m_messagePane->setObjectName(QStringLiteral("messagePane"));
    bar->addWidget(m_messagePane, 1);
    // The feed's state stays in sight: prompts and the chart's price levels take the message
    // pane, never a permanent one.
    m_storedPane = new QLabel(bar);
    m_storedPane->setObjectName(QStringLiteral("storedPane"));
    bar->addPermanentWidget(m_storedPane);
    m_feedPane = new QLabel(bar);
    m_feedPane->setObjectName(QStringLiteral("feedPane"));
    bar->addPermanentWidget(m_feedPane);
    m_capsPane = new QLabel(QStringLiteral("大写"), bar);
    m_numPane = new QLabel(QStringLiteral("数字"), bar);
    m_scrollPane = new QLabel(QStringLiteral("滚动"), bar);
    for (QLabel* pane : {m_capsPane, m_numPane, m_scrollPane}) {
        pane->setEnabled(false);
        bar->addPermanentWidget(pane);
    }
    auto* paneTimer = new QTimer(this);
    connect(paneTimer, &QTimer::timeout, this, &CMainFrame::updateLockPanes);
    connect(paneTimer, &QTimer::timeout, this, &CMainFrame::showFeedState);
    paneTimer->start(250);
    updateLockPanes();
    showFeedState();
}

void CMainFrame::showFeedState()
{
    if (!m_feedPane)
        return;
    m_feedPane->setText(ToQString(FeedStatusText(m_app.session().quoteFeed)));
    std::string stored;
    if (const COrbaltView* view = activeChartView()) {
        const COrbaltDoc* doc = view->document();
        if (IsValidCommodity(doc->kind) && IsValidPeriod(doc->period))
            stored =
                StoredDataNote(m_app.session().barStore.Series(doc->kind, doc->period).storedAt,
                               static_cast<std::int64_t>(std::time(nullptr)));
    }
    m_storedPane->setText(ToQString(stored));
    const bool interrupted = m_app.session().quoteFeed.interrupted();
    if (interrupted == m_feedInterrupted)
        return;
    m_feedInterrupted = interrupted;
    QPalette palette = m_feedPane->palette();
    palette.setColor(QPalette::WindowText,
                     interrupted ? QColor(Qt::red)
                                 : statusBar()->palette().color(QPalette::WindowText));
    m_feedPane->setPalette(palette);
    refreshViews();
}

void CMainFrame::updateLockPanes()
{
    // Shown in full while the lock is on, greyed while it is off or cannot be read.
    const std::optional<LockKeyState> state = ReadLockKeys();
    m_capsPane->setEnabled(state && state->capsLock);
    m_numPane->setEnabled(state && state->numLock);
    m_scrollPane->setEnabled(state && state->scrollLock);
}

void CMainFrame::buildKeyboardTable()
{
    const std::pair<QKeySequence, int> table[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_M), ID_DATA_MANAGEMENT},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ID_SHOW_QUOTES},
        {QKeySequence(Qt::CTRL | Qt::Key_T), ID_ANALYSE},
        {QKeySequence(Qt::CTRL | Qt::Key_U), ID_USER_CENTER},
        {QKeySequence(Qt::Key_Down), ID_NEXT_COMMODITY},
        {QKeySequence(Qt::Key_Up), ID_PREV_COMMODITY},
        {QKeySequence(Qt::Key_Right), ID_NEXT_TIME_UNIT},
        {QKeySequence(Qt::Key_Left), ID_PREV_TIME_UNIT},
        {QKeySequence(Qt::Key_F8), ID_CYCLE_PERIOD},
        {QKeySequence(Qt::Key_End), ID_CURRENT_PRICE},
        {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F12), ID_ACCESS_CODE},
        // X keyboard maps turn Ctrl+Alt+F12 into a switch to virtual terminal 12, so on most
        // desktops that chord never arrives; this one does.
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12), ID_ACCESS_CODE},
    };
    // Window-wide: the table sees a key before any child window does; keys typed in modal
    // dialogs stay with the dialogs.
    for (const auto& [keys, id] : table) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setObjectName(QStringLiteral("key%1").arg(id));
        connect(shortcut, &QShortcut::activated, this, [this, id] { OnCommand(id); });
    }
}

COrbaltView* CMainFrame::activeChartView() const
{
    QMdiSubWindow* child = m_mdi->activeSubWindow();
    auto* frame = qobject_cast<CChildFrame*>(child);
    auto* view = frame ? qobject_cast<COrbaltView*>(frame->view()) : nullptr;
    if (!view)
        return nullptr;
    const COrbaltDoc* doc = view->document();
    return IsActiveChart(doc->GetTitle(), doc->kind) ? view : nullptr;
}

void CMainFrame::navigate(int id)
{
    COrbaltView* view = activeChartView();
    if (!view)
        return;
    COrbaltDoc* doc = view->document();
    switch (CanonicalCommand(id)) {
    case ID_NEXT_TIME_UNIT:
        view->nextTimeUnit();
        break;
    case ID_PREV_TIME_UNIT:
        view->prevTimeUnit();
        break;
    case ID_CURRENT_PRICE:
        view->centreOnCurrentPrice();
        break;
    default:
        if (const auto target = ApplyNavigation(id, {doc->kind, doc->period})) {
            doc->kind = target->kind;
            doc->period = target->period;
        }
        break;
    }
    view->Invalidate();
}

void CMainFrame::analyse()
{
    Session& session = m_app.session();
    if (!session.CurrentUser.loggedIn) {
        m_app.prompts().showMessage(kLoginFirst);
        return;
    }
    CAnalysisSelectDlg dialog(session.catalogue, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!IsValidCommodity(dialog.commodity()) || !IsValidPeriod(dialog.period()))
        return;
    session.RequestKind = dialog.commodity();
    session.RequestPeriod = dialog.period();
    m_app.OpenTemplate(0);
}

void CMainFrame::accessCode()
{
    CPasswordDlg dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (AccessCodeMatches(dialog.typedAccessCode(), CurrentEndpoints().configAccessCode) &&
        m_app.hooks().configuration)
        m_app.hooks().configuration();
}

void CMainFrame::OnCommand(int id)
{
    if (IsNavigationCommand(id)) {
        navigate(id);
        return;
    }
    switch (CanonicalCommand(id)) {
    case ID_SHOW_QUOTES:
        m_app.session().RequestKind = kQuoteBoardKind;
        m_app.OpenTemplate(0);
        break;
    case ID_ANALYSE:
        analyse();
        break;
    case ID_DATA_MANAGEMENT:
        if (m_app.hooks().dataManagement)
            m_app.hooks().dataManagement();
        break;
    case ID_USER_CENTER:
        if (m_app.hooks().userCenter)
            m_app.hooks().userCenter();
        break;
    case ID_ONLINE_HELP:
        m_app.session().RequestKind = kHelpKind;
        m_app.OpenTemplate(1);
        break;
    case ID_APP_ABOUT: {
        CAboutDlg about(this);
        about.exec();
        break;
    }
    case ID_SYNC_DATA:
        if (m_app.hooks().syncAll)
            m_app.hooks().syncAll();
        break;
    case ID_SYSTEM_EXIT:
        m_app.OnSystemExit();
        break;
    case ID_WEBSITE:
        if (m_app.hooks().openUrl)
            m_app.hooks().openUrl(QString::fromStdString(CurrentEndpoints().makerWebsite));
        break;
    case ID_ACCESS_CODE:
        accessCode();
        break;
    case ID_PROFILE_LAYER:
        m_app.profileLayer().toggle();
        break;
    case ID_APP_EXIT:
        close();
        break;
    case ID_WINDOW_NEW:
        if (auto* frame = qobject_cast<CChildFrame*>(m_mdi->activeSubWindow())) {
            CDocument* doc = frame->view()->GetDocument();
            if (doc->docTemplate())
                doc->docTemplate()->CreateNewFrame(doc, m_mdi);
        }
        break;
    case ID_WINDOW_CASCADE:
        cascade();
        break;
    case ID_WINDOW_TILE:
        m_mdi->tileSubWindows();
        break;
    default:
        break;
    }
}

void CMainFrame::cascade()
{
    // Qt's cascade shrinks every window to its size hint, a board of a few hundred pixels.
    // Here each window keeps a size that fills the area less the steps of the ones in front
    // of it (at least two thirds of the area), the active one in front.
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* child : m_mdi->subWindowList(QMdiArea::StackingOrder)) {
        if (child->isVisible() && !child->isMinimized())
            windows << child;
    }
    if (windows.isEmpty())
        return;
    const QSize area = m_mdi->viewport()->size();
    const int step =
        style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows.front()) +
        style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, windows.front());
    const auto count = static_cast<int>(windows.size());
    const QSize size(std::max(area.width() * 2 / 3, area.width() - (count - 1) * step),
                     std::max(area.height() * 2 / 3, area.height() - (count - 1) * step));
    const int room = std::max(
        1, std::min(area.width() - size.width(), area.height() - size.height()) / step + 1);
    for (int i = 0; i < count; ++i) {
        QMdiSubWindow* child = windows[i];
        if (child->isMaximized())
            child->showNormal();
        const int offset = (i % room) * step;
        child->setGeometry(QRect(QPoint(offset, offset), size));
        child->raise();
    }
    if (QMdiSubWindow* active = m_mdi->activeSubWindow())
        active->raise();
}

void CMainFrame::refreshViews()
{
    for (CDocTemplate* docTemplate : m_app.templates()) {
        for (CDocument* doc : docTemplate->documents()) {
            for (CView* view : doc->views()) {
                auto* chart = qobject_cast<COrbaltView*>(view);
                if (doc->GetTitle() == kQuoteBoardTitle)
                    view->Invalidate();
                else if (chart && chart->document()->kind != kHelpKind)
                    chart->Retitle();
            }
        }
    }
}

} // namespace velmora
