#pragma once

#include "app/framework/View.h"

#include <QUrl>
#include <memory>

class QLabel;
class QPrinter;
class QWebEngineProfile;
class QWebEngineView;

namespace velmora {

class COrbaltDoc;
struct Endpoints;

// The online help window's view: the website's help start page in an embedded browser. It is
// silent (no script dialogs, certificate errors refused without asking, permission requests
// denied), shows no context menu (right presses never reach the page), and each window has a
// page of its own. When a page of the website cannot be loaded, the view shows the copy of the
// help pages installed with the program instead, under a line saying so.
class CQorurlView : public CView {
    Q_OBJECT

public:
    explicit CQorurlView(COrbaltDoc* document);
    ~CQorurlView() override;

    // Navigates once to the help start page when the window was opened as the help page.
    void OnInitialUpdate() override;

    // Prints the page through the engine; printFinished tells whether it worked.
    void printTo(QPrinter& printer);
    // The standard print dialog, then printTo.
    void OnFilePrint();

    QWebEngineView* browser() const { return m_browser; }
    // The line above the page that says it is the installed copy; shown with local pages only.
    QLabel* localNote() const { return m_localNote; }
    // The help start page of the website at `endpoints`.
    static QUrl startPage(const Endpoints& endpoints);

signals:
    void printFinished(bool ok);

protected:
    void OnDraw(QPainter&) override {}
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The start page of the website the session's client talks to.
    QUrl startPage() const;
    void watch(QObject* object);

    QWebEngineView* m_browser = nullptr;
    QLabel* m_localNote = nullptr;
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
