#pragma once

#include "app/framework/View.h"

#include <QUrl>
#include <memory>

class QPrinter;
class QWebEngineProfile;
class QWebEngineView;

namespace velmora {

class COrbaltDoc;

// The online help window's view: the website's help start page in an embedded browser. It is
// silent (no script dialogs, certificate errors refused without asking, permission requests
// denied), shows no context menu (right presses never reach the page), and each window has a
// page of its own. Without network the engine's error page shows; the window stays.
class CQorurlView : public CView {
    Q_OBJECT

public:
    explicit CQorurlView(COrbaltDoc* document);
    ~CQorurlView() override;

    // Navigates once to the help start page when the window was opened as the help page.
    void OnInitialUpdate() override;

    // Prints the page through the engine; printFinished tells whether it worked.
    void PrintTo(QPrinter& printer);
    // The standard print dialog, then PrintTo.
    void OnFilePrint();

    QWebEngineView* browser() const { return m_browser; }
    // The website's help start page.
    static QUrl StartPage();

signals:
    void printFinished(bool ok);

protected:
    void OnDraw(QPainter&) override {}
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QObject* object);

    QWebEngineView* m_browser = nullptr;
    bool m_navigated = false;
    std::unique_ptr<QPrinter> m_printer; // of the print under way
};

// The engine's profile of the help windows, made when the first one opens: off the record,
// with the browser switches applied. Run as root, it turns the engine's sandbox off first (the
// engine refuses to start as root with it) and says so on standard error.
QWebEngineProfile* HelpProfile();

// Whether the help view refuses a request: images, objects and scripts from local files, and
// anything of another origin asked for by local content.
bool RefuseHelpRequest(const QUrl& url, const QUrl& firstParty, int resourceType);

} // namespace velmora
