#include "analysis/CoreConfig.h"

#include "market/TextNumbers.h"

#include <cstdio>

namespace velmora {

namespace {

std::array<PeriodValues*, 4> Groups(AnalysisParams& params)
{
    return {&params.tpoBars, &params.longAvgBars, &params.shortAvgBars, &params.historyCount};
}

} // namespace

CoreParamTexts CoreParamTextsOf(const AnalysisParams& params)
{
    AnalysisParams copy = params;
    CoreParamTexts texts;
    std::size_t k = 0;
    for (const PeriodValues* group : Groups(copy)) {
        for (const std::int32_t value : *group)
            texts[k++] = std::to_string(value);
    }
    return texts;
}

bool StoreCoreParams(AnalysisParams& params, const CoreParamTexts& texts)
{
    std::array<PeriodValues, 4> values{};
    for (std::size_t k = 0; k < texts.size(); ++k)
        values[k / 4][k % 4] = LeadingInt32(texts[k]);
    params.tpoBars = values[0];
    params.longAvgBars = values[1];
    params.shortAvgBars = values[2];
    return params.setHistoryCount(values[3]);
}

std::string HistoryLimitMessage()
{
    char text[128];
    std::snprintf(text, sizeof text, "参数值不能超过%d,系统将取缺省值!",
                  AnalysisParams::kHistoryLimit);
    return text;
}

} // namespace velmora
