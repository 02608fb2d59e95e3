#include "app/UpdateCheck.h"

#include "app/LiveData.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"
#include "net/Endpoints.h"
#include "net/HttpClient.h"
#include "net/SelfUpdate.h"
#include "net/UpdateDownload.h"
#include "session/Session.h"

#include <QCoreApplication>
#include <QProgressDialog>
#include <QTimer>
#include <cstdio>

namespace velmora {

UpdateCheck::Options UpdateCheck::defaultOptions()
{
    return {RunningProgramFolder(), CurrentEndpoints().updatePublicKey, &StartUpdater};
}

UpdateCheck::UpdateCheck(COrbaltApp& app, UserPrompts& prompts, Options options)
    : m_app(app), m_prompts(prompts), m_options(std::move(options))
{
    m_app.hooks().checkForUpdate = [this] { CheckForUpdate(); };
}

UpdateCheck::~UpdateCheck()
{
    m_app.hooks().checkForUpdate = {};
    m_download.reset();
    delete m_progress;
}

void UpdateCheck::CheckForUpdate()
{
    if (!m_settingsReported) {
        m_settingsReported = true;
        std::string problem;
        if (!ReadInstalledVersionIfKnown(&problem)) {
            std::fprintf(stderr, "velmora: the settings cannot be read: %s\n", problem.c_str());
            m_prompts.showMessage("设置文件无法读取：" + problem +
                                  "\n已安装的版本未知，程序不会自动更新。");
        }
    }
    // A system-wide install is the package manager's to update; it runs on without a word.
    CHttpClient* client = m_app.session().g_pHttpClient.get();
    if (m_busy || client == nullptr || !CanSelfUpdate(m_options.folder))
        return;
    m_busy = true;
    QPointer<UpdateCheck> self(this);
    client->startVersion([self](HttpReply&& reply) {
        const bool ok = reply.ok();
        std::string published = ok ? reply.body.str() : std::string();
        PostToGui([self, ok, published = std::move(published)] {
            if (self)
                self->decide(ok, published);
        });
    });
}

void UpdateCheck::decide(bool ok, const std::string& published)
{
    std::string problem;
    const std::optional<std::string> installed = ReadInstalledVersionIfKnown(&problem);
    if (ok && !installed) {
        std::fprintf(stderr, "velmora: no update: installed version unknown (%s)\n",
                     problem.c_str());
        m_busy = false;
        return;
    }
    const UpdateDecision decision = DecideUpdate(installed.value_or(""), published);
    if (!ok || !decision.due) {
        if (!decision.reason.empty())
            std::fprintf(stderr, "velmora: no update: %s\n", decision.reason.c_str());
        m_busy = false;
        return;
    }
    m_version = decision.version;

    m_progress = new QProgressDialog(
        QStringLiteral("正在下载新版本 %1...").arg(QString::fromStdString(m_version)),
        QStringLiteral("取消"), 0, 0, m_app.mainFrame());
    QProgressDialog& dialog = *m_progress;
    dialog.setObjectName(QStringLiteral("updateProgress"));
    dialog.setWindowTitle(QStringLiteral("软件升级"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);

    m_download = std::make_unique<UpdateDownload>(*m_app.session().g_pHttpClient, PostToGui,
                                                  m_options.folder, m_version, m_options.publicKey);
    connect(&dialog, &QProgressDialog::canceled, this, [this] {
        if (m_download)
            m_download->cancel();
    });
    dialog.show();
    QPointer<UpdateCheck> self(this);
    m_download->start(
        [self](std::uint64_t received) {
            if (self && self->m_progress)
                self->m_progress->setLabelText(
                    QStringLiteral("正在下载新版本 %1...\n已接收 %2 字节")
                        .arg(QString::fromStdString(self->m_version))
                        .arg(received));
        },
        [self](const DownloadResult& result) {
            // Not from inside the download's own call: it is still on the stack.
            const DownloadResult copy = result;
            QTimer::singleShot(0, self, [self, copy] {
                if (self)
                    self->downloaded(copy);
            });
        });
}

void UpdateCheck::downloaded(const DownloadResult& result)
{
    m_download.reset();
    delete m_progress;
    m_busy = false;
    if (!result.ok()) {
        std::fprintf(stderr, "velmora: update %s failed: %s\n", m_version.c_str(),
                     result.reason.c_str());
        char text[96];
        std::snprintf(text, sizeof text, "更新失败【%d|%d】", result.code, result.osErrno);
        m_prompts.showMessage(text);
        requestEnd();
        return;
    }
    std::string reason;
    if (!m_options.startUpdater || !m_options.startUpdater(m_options.folder, m_version, &reason)) {
        // The downloaded file stays; the program runs on.
        std::fprintf(stderr, "velmora: the updater cannot be started: %s\n", reason.c_str());
        return;
    }
    requestEnd();
}

void UpdateCheck::requestEnd() { QTimer::singleShot(0, qApp, &QCoreApplication::quit); }

} // namespace velmora
