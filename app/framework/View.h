#pragma once

#include <QAbstractScrollArea>

namespace velmora {

class CDocument;
class CChildFrame;

// A scrolling view of a document. Subclasses draw in OnDraw with page coordinates: the
// painter is already moved by the scroll position.
class CView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit CView(CDocument* document);
    ~CView() override;

    CDocument* GetDocument() const { return m_document; }

    // Called once when the view's window is first shown.
    virtual void OnInitialUpdate() {}

    // Total page size for the scroll bars; a page step is a tenth of it, a line step a tenth
    // of a page step.
    void SetScrollSizes(QSize total);
    QSize scrollSizes() const { return m_total; }
    QPoint scrollPosition() const;

    // Repaints the whole view, background included.
    void Invalidate();

    // During OnDraw: the part of the page the paint must cover, in page coordinates.
    QRect exposedRect() const { return m_exposed; }

protected:
    virtual void OnDraw(QPainter& painter) = 0;

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void updateScrollBars();

    CDocument* m_document;
    QSize m_total;
    QRect m_exposed;
};

} // namespace velmora
