#pragma once

#include "app/AppState.h"
#include "app/framework/Document.h"

namespace velmora {

struct Session;

// What one analysis window shows: the value chart of a commodity at a period, the quote
// board, or the help page.
class COrbaltDoc : public CDocument {
    Q_OBJECT

public:
    explicit COrbaltDoc(Session& session) : m_session(session) {}

    Session& session() const { return m_session; }

    DocKind kind = kQuoteBoardKind;
    int period = 0; // 0 half-hour, 1 day, 2 week, 3 month

    // Takes what to show from the session's RequestKind and RequestPeriod.
    bool OnNewDocument() override;

private:
    Session& m_session;
};

} // namespace velmora
