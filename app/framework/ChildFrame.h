#pragma once

#include <QMdiSubWindow>

namespace velmora {

class CView;

// The frame of every document window; it opens maximised and carries the document's title.
class CChildFrame : public QMdiSubWindow {
    Q_OBJECT

public:
    explicit CChildFrame(CView* view);

    CView* view() const { return m_view; }

private:
    CView* m_view;
};

} // namespace velmora
