#include "app/Workspace.h"

#include "account/Account.h"
#include "app/LiveData.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/framework/ChildFrame.h"
#include "app/framework/View.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "net/HttpClient.h"
#include "platform/ExactNumber.h"
#include "platform/RegistryKey.h"
#include "session/Session.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStatusBar>

namespace velmora {

namespace {

constexpr std::string_view kWindowCount = "VELMORA_WINDOWS";
constexpr std::string_view kWindowPrefix = "VELMORA_WINDOW";
constexpr std::string_view kFrame = "VELMORA_FRAME";
constexpr std::string_view kAutoLogin = "VELMORA_AUTOLOGIN";
constexpr int kMaxWindows = 64;
constexpr int kWaitIntervalMs = 100;

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

bool ReadSetting(std::string_view name, std::string& value)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    return key.Open(kRegistry.subKey) && key.ReadString(name, value);
}

void WriteSetting(std::string_view name, std::string_view value)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    if (key.Open(kRegistry.subKey))
        key.WriteString(name, value);
}

std::string WindowName(int index) { return std::string(kWindowPrefix) + std::to_string(index); }

// The window's entry; nullopt for a window that is not one of ours.
std::optional<WindowEntry> Describe(QMdiSubWindow* window)
{
    auto* frame = qobject_cast<CChildFrame*>(window);
    const auto* doc = frame && frame->view()
                          ? qobject_cast<const COrbaltDoc*>(frame->view()->GetDocument())
                          : nullptr;
    if (doc == nullptr)
        return std::nullopt;
    WindowEntry entry;
    entry.kind = doc->kind;
    entry.period = doc->period;
    entry.maximized = window->isMaximized();
    entry.geometry = entry.maximized ? window->normalGeometry() : window->geometry();
    if (IsValidCommodity(doc->kind) && IsValidPeriod(doc->period)) {
        const BarSeries& series = doc->session().barStore.Series(doc->kind, doc->period);
        if (series.hasBarAt(series.cursor) && series.cursor != series.count - 1)
            entry.cursorTime = series.bars[static_cast<std::size_t>(series.cursor)].time;
    }
    return entry;
}

void Place(QMdiSubWindow* window, const WindowEntry& entry)
{
    if (window == nullptr)
        return;
    // A new window opens maximized.
    if (entry.maximized)
        return;
    window->showNormal();
    if (entry.geometry.isValid())
        window->setGeometry(entry.geometry);
}

// Opens a window from the template at `position` and places it; nothing when the template
// opened none.
void OpenPlaced(COrbaltApp& app, int position, const WindowEntry& entry)
{
    QMdiArea* area = app.mainFrame()->mdiArea();
    const auto before = area->subWindowList().size();
    app.OpenTemplate(position);
    const QList<QMdiSubWindow*> windows = area->subWindowList(QMdiArea::CreationOrder);
    if (windows.size() > before)
        Place(windows.back(), entry);
}

} // namespace

std::string FormatWindowEntry(const WindowEntry& entry)
{
    const QRect& g = entry.geometry;
    return std::to_string(entry.kind) + '|' + std::to_string(entry.period) + '|' +
           std::to_string(g.x()) + '|' + std::to_string(g.y()) + '|' + std::to_string(g.width()) +
           '|' + std::to_string(g.height()) + '|' + (entry.maximized ? "1" : "0") + '|' +
           entry.cursorTime;
}

std::optional<WindowEntry> ParseWindowEntry(std::string_view text)
{
    const std::vector<std::string_view> parts = Split(text, '|');
    if (parts.size() != 8)
        return std::nullopt;
    std::array<int, 7> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const std::optional<int> value = ParseExactNumber<int>(parts[i]);
        if (!value)
            return std::nullopt;
        numbers[i] = *value;
    }
    WindowEntry entry;
    entry.kind = numbers[0];
    entry.period = numbers[1];
    entry.geometry = QRect(numbers[2], numbers[3], numbers[4], numbers[5]);
    entry.maximized = numbers[6] != 0;
    entry.cursorTime = std::string(parts[7]);
    const bool chart = IsValidCommodity(entry.kind) && IsValidPeriod(entry.period);
    if (!chart && entry.kind != kQuoteBoardKind && entry.kind != kHelpKind)
        return std::nullopt;
    return entry;
}

bool AutoLoginEnabled()
{
    std::string value;
    return ReadSetting(kAutoLogin, value) && value == "1";
}

void SetAutoLogin(bool on) { WriteSetting(kAutoLogin, on ? "1" : "0"); }

Workspace::Workspace(COrbaltApp& app, std::function<bool()> syncRunning)
    : m_app(app), m_syncRunning(std::move(syncRunning))
{
    m_wait.setInterval(kWaitIntervalMs);
    connect(&m_wait, &QTimer::timeout, this, &Workspace::openPendingCharts);
}

void Workspace::save()
{
    CMainFrame* frame = m_app.mainFrame();
    if (frame == nullptr)
        return;
    std::vector<WindowEntry> entries;
    // Bottom first, so that restoring them in order leaves the same window on top.
    for (QMdiSubWindow* window : frame->mdiArea()->subWindowList(QMdiArea::StackingOrder)) {
        if (const std::optional<WindowEntry> entry = Describe(window))
            entries.push_back(*entry);
    }
    // Charts that never came back (no login this run) are kept for the next one.
    entries.insert(entries.end(), m_pending.begin(), m_pending.end());
    if (entries.size() > kMaxWindows)
        entries.resize(kMaxWindows);
    WindowEntry main;
    main.maximized = frame->isMaximized();
    main.geometry = frame->normalGeometry();
    WriteSetting(kFrame, FormatWindowEntry(main));
    WriteSetting(kWindowCount, std::to_string(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i)
        WriteSetting(WindowName(static_cast<int>(i)), FormatWindowEntry(entries[i]));
}

void Workspace::restore()
{
    CMainFrame* frame = m_app.mainFrame();
    if (frame == nullptr)
        return;
    std::string text;
    if (ReadSetting(kFrame, text)) {
        if (const std::optional<WindowEntry> main = ParseWindowEntry(text);
            main && !main->maximized && main->geometry.isValid()) {
            frame->showNormal();
            frame->setGeometry(main->geometry);
        }
    }
    int count = 0;
    if (ReadSetting(kWindowCount, text))
        count = std::clamp(ParseExactNumber<int>(text).value_or(0), 0, kMaxWindows);
    bool boardPlaced = false;
    for (int i = 0; i < count; ++i) {
        if (!ReadSetting(WindowName(i), text))
            continue;
        const std::optional<WindowEntry> entry = ParseWindowEntry(text);
        if (!entry)
            continue;
        if (entry->kind == kQuoteBoardKind && !boardPlaced) {
            // The board is open already: it only moves.
            boardPlaced = true;
            for (QMdiSubWindow* window : frame->mdiArea()->subWindowList()) {
                const std::optional<WindowEntry> shown = Describe(window);
                if (shown && shown->kind == kQuoteBoardKind) {
                    Place(window, *entry);
                    break;
                }
            }
        } else if (entry->kind == kHelpKind) {
            m_app.session().RequestKind = kHelpKind;
            OpenPlaced(m_app, 1, *entry);
        } else if (entry->kind != kQuoteBoardKind) {
            m_pending.push_back(*entry);
        }
    }
    if (!m_pending.empty()) {
        m_wait.start();
        openPendingCharts();
    }
}

void Workspace::openPendingCharts()
{
    CMainFrame* frame = m_app.mainFrame();
    if (m_pending.empty() || frame == nullptr) {
        m_wait.stop();
        return;
    }
    if (!m_app.session().CurrentUser.loggedIn || (m_syncRunning && m_syncRunning()))
        return;
    m_wait.stop();
    const std::vector<WindowEntry> charts = std::move(m_pending);
    m_pending.clear();
    for (const WindowEntry& entry : charts) {
        BarSeries& series = m_app.session().barStore.Series(entry.kind, entry.period);
        if (!entry.cursorTime.empty()) {
            for (int k = 0; k < series.count && k < kMaxBars; ++k) {
                if (series.bars[static_cast<std::size_t>(k)].time == entry.cursorTime)
                    series.cursor = k;
            }
        }
        m_app.session().RequestKind = entry.kind;
        m_app.session().RequestPeriod = entry.period;
        OpenPlaced(m_app, 0, entry);
    }
}

void Workspace::autoLogin()
{
    Session& session = m_app.session();
    if (!AutoLoginEnabled() || session.CurrentUser.loggedIn || !session.g_pHttpClient)
        return;
    const AccountForm saved = OpeningForm(session.CurrentUser);
    if (saved.userName.empty())
        return;
    QPointer<Workspace> self(this);
    // The session outlives the workspace, which the answers check for first.
    ReadSavedPassword(
        session.vault, saved.userName, [self, &session, saved](std::optional<std::string> kept) {
            if (!self || session.CurrentUser.loggedIn || !session.g_pHttpClient)
                return;
            AccountForm form = saved;
            if (kept)
                form.password = *kept;
            auto report = [self, &session](const std::string& text) {
                session.autoLoginStatus = text;
                if (self && self->m_app.mainFrame())
                    self->m_app.mainFrame()->statusBar()->showMessage(
                        QString::fromStdString("自动登录失败：" + text));
            };
            if (const std::optional<std::string> refusal = CheckLogin(form)) {
                report(*refusal);
                return;
            }
            session.g_pHttpClient->startAccount(
                AccountRequestKind::Login, AccountFormBody(AccountRequestKind::Login, form),
                [self, &session, form, report](HttpReply&& reply) {
                    auto shared = std::make_shared<HttpReply>(std::move(reply));
                    PostToGui([self, &session, form, report, shared] {
                        if (!self || session.CurrentUser.loggedIn)
                            return;
                        UserInfo& CurrentUser = session.CurrentUser;
                        const AccountOutcome outcome =
                            LoginReply(*shared, form, CurrentUser, session.vault);
                        if (CurrentUser.loggedIn) {
                            session.autoLoginStatus.clear();
                            if (self->m_app.mainFrame())
                                self->m_app.mainFrame()->statusBar()->showMessage(
                                    QStringLiteral("已自动登录"), 5000);
                            self->openPendingCharts();
                            return;
                        }
                        report(outcome.status && !outcome.status->empty() ? *outcome.status
                                                                          : outcome.message);
                    });
                });
        });
}

} // namespace velmora
