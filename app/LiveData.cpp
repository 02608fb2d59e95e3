#include "app/LiveData.h"

#include "analysis/AnalysisParams.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "market/Catalogue.h"
#include "market/live/ClientTransport.h"
#include "market/live/QuotePoller.h"
#include "market/live/ServerSync.h"
#include "net/Endpoints.h"
#include "net/HttpClient.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QProgressDialog>

namespace velmora {

// Passes messages on, closing the progress dialog first so that it never hides a message.
class ClosingSink final : public MessageSink {
public:
    ClosingSink(QProgressDialog& dialog, MessageSink& next) : m_dialog(dialog), m_next(next) {}
    void showMessage(std::string_view text) override
    {
        m_dialog.hide();
        m_next.showMessage(text);
    }

private:
    QProgressDialog& m_dialog;
    MessageSink& m_next;
};

void PostToGui(std::function<void()> work)
{
    // The application object outlives the client, whose thread is the only other poster.
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(work), Qt::QueuedConnection);
}

QuoteBoardMarks CurrentBoardMarks(const QuoteFeedState& feed)
{
    return {feed.staleRows(), feed.today()};
}

LiveData::LiveData(COrbaltApp& app, UserPrompts& prompts, std::chrono::milliseconds interruptAfter)
    : m_app(app), m_prompts(prompts)
{
    Session& session = app.session();
    // Asked at every start and abort: a client the session has let go is never used again.
    const ClientAccess access = [&session] { return session.g_pHttpClient.get(); };
    session.quoteFeed = QuoteFeedState(&QuoteFeedState::Clock::now, interruptAfter,
                                       std::chrono::minutes(CurrentEndpoints().staleQuoteMinutes));
    // A failed poll refreshes too: the board greys and the status bar tells why.
    m_poller = std::make_unique<QuotePoller>(
        session.catalogue, session.barStore, ClientQuoteFetch(access, PostToGui),
        [this](const HttpReply& reply) {
            m_app.session().quoteFeed.pollSettled(reply, m_app.session().catalogue);
            if (CMainFrame* frame = m_app.mainFrame()) {
                frame->refreshViews();
                frame->showFeedState();
            }
        });
    m_transport = std::make_unique<ClientSeriesTransport>(access, PostToGui);

    AppHooks& hooks = app.hooks();
    hooks.pollQuotes = [this] { pollQuotes(); };
    hooks.syncAll = [this] { syncAll(); };
}

LiveData::~LiveData()
{
    AppHooks& hooks = m_app.hooks();
    hooks.pollQuotes = {};
    hooks.syncAll = {};
    m_run.reset();
    delete m_progress;
}

bool LiveData::pollOutstanding() const { return m_poller->outstanding(); }

bool LiveData::syncInFlight() const { return m_run && !m_run->finished(); }

void LiveData::pollQuotes()
{
    if (m_poller->poll())
        m_app.session().quoteFeed.pollStarted();
}

void LiveData::syncAll()
{
    if (m_run)
        return;
    m_progress = new QProgressDialog(QStringLiteral("正在同步数据..."), QStringLiteral("取消"), 0,
                                     SyncRun::kTotal, m_app.mainFrame());
    QProgressDialog& dialog = *m_progress;
    dialog.setObjectName(QStringLiteral("syncProgress"));
    dialog.setWindowTitle(QStringLiteral("同步数据"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);
    m_sink = std::make_unique<ClosingSink>(dialog, m_prompts);

    m_run = std::make_unique<SyncRun>(
        *m_transport, m_app.session().catalogue, m_app.session().barStore,
        m_app.session().analysisParams.historyCount, *m_sink,
        [&dialog](int settled, int total) {
            dialog.setLabelText(QStringLiteral("正在同步数据（%1/%2）").arg(settled).arg(total));
            dialog.setValue(settled);
        },
        [this](const SyncFailures&, bool) {
            // Not from inside the run's own call: it is still on the stack.
            QMetaObject::invokeMethod(this, &LiveData::endRun, Qt::QueuedConnection);
        });
    connect(&dialog, &QProgressDialog::canceled, this, [this] {
        if (m_run)
            m_run->cancel();
    });
    dialog.show();
    m_run->start();
}

void LiveData::endRun()
{
    if (m_run && !m_run->finished())
        return;
    m_run.reset();
    m_sink.reset();
    delete m_progress;
}

} // namespace velmora
