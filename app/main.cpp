// velmora: the desktop program.

#include "BuildVersion.h"
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
#include "session/Session.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kHelp =
    "Usage: velmora [QT-OPTION]...\n"
    "Live quotes and value charts for spot precious metals and FX: opens the main window with\n"
    "the quote board of 13 commodities, synchronises their half-hour, day, week and month bars\n"
    "from the data server and draws value charts.\n"
    "\n"
    "Options:\n"
    "  -h, --help      show this help and exit\n"
    "      --version   show the version and exit\n"
    "Qt's own options are taken as well, such as -platform NAME, -style NAME and\n"
    "-stylesheet FILE.\n"
    "\n"
    "Environment:\n"
    "  VELMORA_CONFIG    the configuration file (default ~/.config/velmora/velmora.ini)\n"
    "  VELMORA_REGISTRY  the settings store (default ~/.config/velmora/registry.ini)\n"
    "\n"
    "Exit status:\n"
    "  0  the program was quit, or help or the version was shown; without a display the\n"
    "     window system stops it with an error\n";

// --help and --version are answered before any window system is touched.
bool AnswerInfoOption(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velmora %s\n", velmora::kProgramVersion);
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (AnswerInfoOption(argc, argv))
        return 0;
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

    // The state of the run: everything below holds references into it.
    const auto session = std::make_unique<velmora::Session>();
    // One client for the whole run, before any window, as the frame expects.
    session->g_pHttpClient = std::make_unique<velmora::CHttpClient>(
        velmora::CurrentEndpoints(), velmora::CHttpClient::defaultCookieFolder());
    velmora::KeyringVault keyring;
    session->vault = &keyring;
    velmora::MessageBoxPrompts prompts;
    velmora::COrbaltApp app(*session, prompts);
    app.hooks().openUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
    app.hooks().makeHelpView = [](velmora::CDocument* doc) -> velmora::CView* {
        return new velmora::CQorurlView(static_cast<velmora::COrbaltDoc*>(doc));
    };
    velmora::LiveData live(app, prompts);
    velmora::StoredHistory history(app, prompts);
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
    // Quitting aborts whatever is still in flight, nothing waits for a server: each part
    // aborts its own transfers as it goes, and the session, last, takes the client with it.
    return status;
}
