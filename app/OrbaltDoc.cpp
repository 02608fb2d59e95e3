#include "app/OrbaltDoc.h"

#include "analysis/ValueChart.h"
#include "market/Catalogue.h"
#include "session/Session.h"

namespace velmora {

bool COrbaltDoc::OnNewDocument()
{
    if (!CDocument::OnNewDocument())
        return false;
    const DocKind RequestKind = m_session.RequestKind;
    switch (RequestKind) {
    case kQuoteBoardKind:
        kind = kQuoteBoardKind;
        period = 0;
        SetTitle(std::string(kQuoteBoardTitle));
        break;
    case kHelpKind:
        kind = kHelpKind;
        SetTitle(std::string(kHelpTitle));
        break;
    default:
        kind = RequestKind;
        period = m_session.RequestPeriod;
        if (IsValidCommodity(kind) && IsValidPeriod(period))
            SetTitle(NewChartTitle(m_session.catalogue[kind], period));
        break;
    }
    return true;
}

} // namespace velmora
