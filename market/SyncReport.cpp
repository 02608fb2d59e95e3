#include "market/SyncReport.h"

namespace velmora {

std::string SyncCompletionMessage(const Catalogue& catalogue, const SyncFailures& failures,
                                  bool cancelled)
{
    std::string text = "完成数据同步";
    if (cancelled)
        text += "\n同步已取消，其余数据未同步";
    if (!failures.empty()) {
        text += "\n以下数据同步失败：";
        bool first = true;
        for (const SyncFailure& failure : failures) {
            if (!first)
                text += "、";
            first = false;
            if (IsValidCommodity(failure.commodity))
                text += catalogue[failure.commodity].code + " " + catalogue[failure.commodity].name;
            else
                text += "?";
            text += " ";
            text += PeriodName(failure.period);
        }
    }
    return text;
}

} // namespace velmora
