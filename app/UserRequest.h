#pragma once

#include "net/HttpClient.h"

#include <QObject>
#include <QPointer>
#include <functional>

class QProgressDialog;
class QWidget;

namespace velmora {

// A request the user waits for (login, registration, a verification code, the update
// download): the busy cursor at once and, from one second on, a progress box whose 取消
// aborts the transfer. The window keeps working meanwhile. `done` runs once on the window's
// thread with the reply (the abort code when cancelled), then the object deletes itself.
class UserRequest : public QObject {
    Q_OBJECT

public:
    using Start = std::function<TransferId(ReplyHandler handler)>;
    using Done = std::function<void(HttpReply&& reply)>;

    // Starts the request at once on `client`, which must outlive the object; the object
    // belongs to `parent`'s window.
    static UserRequest* run(CHttpClient& client, QWidget* parent, const QString& label,
                            const Start& start, Done done);

    // Aborts a request still running; its `done` does not run then.
    ~UserRequest() override;

    static constexpr int kProgressDelayMs = 1000;

private:
    UserRequest(CHttpClient& client, QWidget* parent, Done done);
    void finish(HttpReply&& reply);

    CHttpClient& m_client;
    QWidget* m_parent;
    Done m_done;
    TransferId m_id = 0;
    bool m_finished = false;
    QPointer<QProgressDialog> m_progress;
};

} // namespace velmora
