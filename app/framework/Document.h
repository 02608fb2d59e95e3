#pragma once

#include <QObject>
#include <string>
#include <vector>

namespace velmora {

class CView;
class CDocTemplate;

// A document: the data behind one or more views, with a title that is the caption of every
// child window showing it.
class CDocument : public QObject {
    Q_OBJECT

public:
    CDocument();
    ~CDocument() override;

    const std::string& GetTitle() const { return m_title; }
    void SetTitle(const std::string& title);

    // The document's own set-up when a template creates it; false abandons the document.
    virtual bool OnNewDocument() { return true; }

    const std::vector<CView*>& views() const { return m_views; }
    CDocTemplate* docTemplate() const { return m_template; }

private:
    friend class CDocTemplate;
    friend class CView;
    void addView(CView* view);
    void removeView(CView* view);

    std::string m_title;
    std::vector<CView*> m_views;
    CDocTemplate* m_template = nullptr;
};

} // namespace velmora
