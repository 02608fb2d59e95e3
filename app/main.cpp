// velmora: the desktop program.

#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/UserPrompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velmora"));

    velmora::MessageBoxPrompts prompts;
    velmora::COrbaltApp app(prompts);
    if (!app.InitInstance())
        return 0;
    velmora::CMainFrame* frame = app.mainFrame();
    prompts.setParent(frame);
    frame->hooks().openUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
    return QApplication::exec();
}
