#pragma once

#include "app/AppState.h"
#include "app/framework/Document.h"

namespace velmora {

// What one analysis window shows: the value chart of a commodity at a period, the quote
// board, or the help page.
class COrbaltDoc : public CDocument {
    Q_OBJECT

public:
    DocKind kind = kQuoteBoardKind;
    int period = 0; // 0 half-hour, 1 day, 2 week, 3 month

    // Takes what to show from RequestKind and RequestPeriod.
    bool OnNewDocument() override;
};

} // namespace velmora
