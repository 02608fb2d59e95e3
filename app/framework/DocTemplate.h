#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QMdiArea;

namespace velmora {

class CDocument;
class CView;
class CChildFrame;

// Makes documents of one kind and the child windows that show them.
class CDocTemplate {
public:
    using DocumentFactory = std::function<std::unique_ptr<CDocument>()>;
    using ViewFactory = std::function<CView*(CDocument*)>;

    CDocTemplate(DocumentFactory makeDocument, ViewFactory makeView);
    ~CDocTemplate();
    CDocTemplate(const CDocTemplate&) = delete;
    CDocTemplate& operator=(const CDocTemplate&) = delete;

    // A new untitled document in a new, visible child window of `area`; null when the
    // document refused to initialise.
    CDocument* OpenDocumentFile(QMdiArea* area);

    // Another child window on an existing document.
    CChildFrame* CreateNewFrame(CDocument* document, QMdiArea* area);

    std::vector<CDocument*> documents() const;

private:
    friend class CDocument;
    void closeDocument(CDocument* document);

    DocumentFactory m_makeDocument;
    ViewFactory m_makeView;
    std::vector<std::unique_ptr<CDocument>> m_documents;
};

} // namespace velmora
