#include "app/BlockingTransfer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <mutex>
#include <thread>

namespace velmora {

namespace {
int g_transfersRunning = 0;
// The program has one HTTP client: should a second transfer ever be started from inside the
// wait of a first one, its worker waits for the first to finish instead of sharing it.
std::mutex g_oneTransferAtATime;
} // namespace

bool TransferInProgress() { return g_transfersRunning > 0; }

void RunOffGuiThread(const std::function<void()>& transfer)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        transfer();
        return;
    }
    ++g_transfersRunning;
    QEventLoop loop;
    std::thread worker([&] {
        {
            const std::lock_guard<std::mutex> lock(g_oneTransferAtATime);
            transfer();
        }
        // Queued: delivered once the loop runs, even if the transfer was quicker than exec().
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    --g_transfersRunning;
}

} // namespace velmora
