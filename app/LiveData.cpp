#include "app/LiveData.h"

#include "app/BlockingTransfer.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "market/QuoteFeed.h"
#include "market/ServerSync.h"
#include "market/Transfer.h"
#include "net/HttpClient.h"

#include <QProgressDialog>

namespace velmora {

namespace {

// Passes messages on, closing the progress dialog first so that it never hides a message.
class ClosingSink final : public MessageSink {
public:
    ClosingSink(QProgressDialog& dialog, MessageSink& next) : m_dialog(dialog), m_next(next) {}
    void showMessage(std::string_view text) override
    {
        m_dialog.reset();
        m_dialog.hide();
        m_next.showMessage(text);
    }

private:
    QProgressDialog& m_dialog;
    MessageSink& m_next;
};

} // namespace

void SyncAllWithProgress(COrbaltApp& app, UserPrompts& prompts)
{
    QProgressDialog dialog(QStringLiteral("正在同步数据..."), QStringLiteral("取消"), 0,
                           kCommodityCount * kPeriodCount, app.mainFrame());
    dialog.setObjectName(QStringLiteral("syncProgress"));
    dialog.setWindowTitle(QStringLiteral("同步数据"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    ClosingSink messages(dialog, prompts);
    SyncAllFromServer(messages, [&dialog](int commodity, Period period, int done, int total) {
        dialog.setLabelText(QStringLiteral("正在同步 %1 %2 %3（%4/%5）")
                                .arg(QString::fromStdString(catalogue[commodity].code),
                                     QString::fromStdString(catalogue[commodity].name),
                                     QString::fromUtf8(PeriodName(period).data(),
                                                       qsizetype(PeriodName(period).size())))
                                .arg(done + 1)
                                .arg(total));
        dialog.setValue(done); // also delivers a click on the cancel button
        return !dialog.wasCanceled();
    });
}

void ConnectLiveData(COrbaltApp& app, UserPrompts& prompts)
{
    // One client for the whole run, created before any window, as the frame expects.
    if (g_pHttpClient == nullptr)
        new CHttpClient();
    SetTransferRunner(RunOffGuiThread);

    AppHooks& hooks = app.hooks();
    hooks.pollQuotes = [] { PollQuotes(); };
    hooks.networkReady = [] { return g_pHttpClient != nullptr && !TransferInProgress(); };
    hooks.syncAll = [&app, &prompts] { SyncAllWithProgress(app, prompts); };
}

} // namespace velmora
