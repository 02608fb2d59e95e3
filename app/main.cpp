// velmora: the desktop program.

#include "app/CoreConfigDlg.h"
#include "app/DataManagementDlg.h"
#include "app/KeyringVault.h"
#include "app/LiveData.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/QorurlView.h"
#include "app/StoredHistory.h"
#include "app/Translations.h"
#include "app/UpdateCheck.h"
#include "app/UserCenterDlg.h"
#include "app/UserPrompts.h"
#include "app/Workspace.h"
#include "net/Endpoints.h"
#include "net/HttpClient.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <clocale>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // The help view's browser engine shares its GL contexts; this must precede the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    // The application sets the user's locale; prices are written with a decimal point
    // whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Velmora"));
    // The launcher's name, which desktops match the window and its icon by.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.velmora.Velmora"));
    velmora::InstallQtTranslations(application);

    velmora::MessageBoxPrompts prompts;
    velmora::COrbaltApp app(prompts);
    app.hooks().openUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
    app.hooks().makeHelpView = [](velmora::CDocument* doc) -> velmora::CView* {
        return new velmora::CQorurlView(static_cast<velmora::COrbaltDoc*>(doc));
    };
    velmora::LiveData live(app, prompts);
    velmora::StoredHistory history(app, prompts);
    velmora::KeyringVault keyring;
    velmora::SetPasswordVault(&keyring);
    velmora::InstallUserCenter(app, prompts);
    velmora::InstallDataManagement(app, prompts);
    velmora::InstallCoreConfiguration(app, prompts);
    velmora::UpdateCheck update(app, prompts);
    velmora::Workspace workspace(app, [&live] { return live.syncInFlight(); });
    if (!app.InitInstance())
        return 0;
    prompts.setParent(app.mainFrame());
    workspace.restore();
    workspace.autoLogin();
    // Otherwise a mistyped setting would only show as a service that never answers.
    if (const std::vector<std::string>& problems = velmora::CurrentEndpointsProblems();
        !problems.empty()) {
        std::string text = "配置文件有误，以下设置未生效：";
        for (const std::string& problem : problems)
            text += "\n" + problem;
        prompts.showMessage(text);
    }
    const int status = QApplication::exec();
    workspace.save();
    // Quitting aborts whatever is still in flight; nothing waits for a server.
    delete velmora::g_pHttpClient;
    velmora::SetPasswordVault(nullptr);
    return status;
}
