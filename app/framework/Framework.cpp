#include "app/framework/ChildFrame.h"
#include "app/framework/DocTemplate.h"
#include "app/framework/Document.h"
#include "app/framework/View.h"

#include <QMdiArea>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>

namespace velmora {

CDocument::CDocument() = default;

CDocument::~CDocument() = default;

void CDocument::SetTitle(const std::string& title)
{
    if (title == m_title)
        return;
    m_title = title;
    const QString caption = QString::fromStdString(title);
    for (CView* view : m_views) {
        if (QWidget* frame = view->parentWidget(); frame && qobject_cast<CChildFrame*>(frame))
            frame->setWindowTitle(caption);
    }
}

void CDocument::addView(CView* view) { m_views.push_back(view); }

void CDocument::removeView(CView* view)
{
    std::erase(m_views, view);
    // Closing the last window of a document closes the document. Deferred: the view is
    // still being destroyed.
    if (m_views.empty() && m_template) {
        CDocTemplate* owner = m_template;
        QTimer::singleShot(0, this, [owner, this] { owner->closeDocument(this); });
    }
}

CView::CView(CDocument* document) : m_document(document)
{
    m_document->addView(this);
    setFrameShape(QFrame::NoFrame);
}

CView::~CView() { m_document->removeView(this); }

void CView::SetScrollSizes(QSize total)
{
    if (total == m_total)
        return;
    m_total = total;
    updateScrollBars();
}

QPoint CView::scrollPosition() const
{
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void CView::Invalidate() { viewport()->update(); }

void CView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Window));
    painter.translate(-scrollPosition());
    m_exposed = event->rect().translated(scrollPosition());
    OnDraw(painter);
}

void CView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void CView::scrollContentsBy(int, int) { viewport()->update(); }

void CView::updateScrollBars()
{
    const QSize visible = viewport()->size();
    const int pageX = std::max(1, m_total.width() / 10);
    const int pageY = std::max(1, m_total.height() / 10);
    horizontalScrollBar()->setRange(0, std::max(0, m_total.width() - visible.width()));
    verticalScrollBar()->setRange(0, std::max(0, m_total.height() - visible.height()));
    horizontalScrollBar()->setPageStep(pageX);
    verticalScrollBar()->setPageStep(pageY);
    horizontalScrollBar()->setSingleStep(std::max(1, pageX / 10));
    verticalScrollBar()->setSingleStep(std::max(1, pageY / 10));
}

CChildFrame::CChildFrame(CView* view) : m_view(view)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWidget(view);
    setWindowTitle(QString::fromStdString(view->GetDocument()->GetTitle()));
}

CDocTemplate::CDocTemplate(DocumentFactory makeDocument, ViewFactory makeView)
    : m_makeDocument(std::move(makeDocument)), m_makeView(std::move(makeView))
{
}

CDocTemplate::~CDocTemplate() = default;

CDocument* CDocTemplate::OpenDocumentFile(QMdiArea* area)
{
    std::unique_ptr<CDocument> document = m_makeDocument();
    if (!document->OnNewDocument())
        return nullptr;
    document->m_template = this;
    CDocument* raw = document.get();
    m_documents.push_back(std::move(document));
    if (!CreateNewFrame(raw, area)) {
        m_documents.pop_back();
        return nullptr;
    }
    return raw;
}

CChildFrame* CDocTemplate::CreateNewFrame(CDocument* document, QMdiArea* area)
{
    CView* view = m_makeView ? m_makeView(document) : nullptr;
    if (!view)
        return nullptr;
    auto* frame = new CChildFrame(view);
    if (area)
        area->addSubWindow(frame);
    frame->showMaximized();
    view->OnInitialUpdate();
    view->setFocus();
    return frame;
}

std::vector<CDocument*> CDocTemplate::documents() const
{
    std::vector<CDocument*> result;
    for (const auto& document : m_documents)
        result.push_back(document.get());
    return result;
}

void CDocTemplate::closeDocument(CDocument* document)
{
    if (!document->views().empty())
        return; // a new window was opened on it meanwhile
    const auto found =
        std::find_if(m_documents.begin(), m_documents.end(),
                     [document](const auto& owned) { return owned.get() == document; });
    if (found == m_documents.end())
        return;
    found->release()->deleteLater();
    m_documents.erase(found);
}

} // namespace velmora
