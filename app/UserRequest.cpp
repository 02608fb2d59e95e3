#include "app/UserRequest.h"

#include "app/LiveData.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTimer>
#include <memory>

namespace velmora {

UserRequest::UserRequest(CHttpClient& client, QWidget* parent, Done done)
    : QObject(parent), m_client(client), m_parent(parent), m_done(std::move(done))
{
}

UserRequest* UserRequest::run(CHttpClient& client, QWidget* parent, const QString& label,
                              const Start& start, Done done)
{
    auto* request = new UserRequest(client, parent, std::move(done));
    QApplication::setOverrideCursor(Qt::BusyCursor);

    // The dialog exists from the start, so that a cancel is possible the moment it shows.
    auto* progress = new QProgressDialog(label, QStringLiteral("取消"), 0, 0, parent);
    progress->setObjectName(QStringLiteral("userRequestProgress"));
    progress->setWindowTitle(QStringLiteral("请稍候"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->setMinimumDuration(0);
    progress->hide();
    request->m_progress = progress;
    connect(progress, &QProgressDialog::canceled, request, [request] {
        if (!request->m_finished)
            request->m_client.abort(request->m_id);
    });
    QTimer::singleShot(kProgressDelayMs, request, [request] {
        if (!request->m_finished && request->m_progress)
            request->m_progress->show();
    });

    QPointer<UserRequest> alive(request);
    request->m_id = start([alive](HttpReply&& reply) {
        auto owned = std::make_shared<HttpReply>(std::move(reply));
        PostToGui([alive, owned] {
            if (alive)
                alive->finish(std::move(*owned));
        });
    });
    return request;
}

UserRequest::~UserRequest()
{
    if (!m_finished) {
        m_finished = true;
        m_client.abort(m_id);
        QApplication::restoreOverrideCursor();
    }
    delete m_progress;
}

void UserRequest::finish(HttpReply&& reply)
{
    if (m_finished)
        return;
    m_finished = true;
    QApplication::restoreOverrideCursor();
    delete m_progress;
    deleteLater();
    if (m_done)
        m_done(std::move(reply));
}

} // namespace velmora
