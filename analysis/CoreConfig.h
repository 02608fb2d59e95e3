#pragma once

#include "analysis/AnalysisParams.h"

#include <array>
#include <string>

namespace velmora {

// The configuration dialog's 16 number texts in its order: the window lengths, the long and
// the short average lengths and the history counts, each half-hour, day, week, month.
using CoreParamTexts = std::array<std::string, 16>;

CoreParamTexts CoreParamTextsOf(const AnalysisParams& params);

// Stores all 16 values at once, each the leading integer of its text (0 when there is none).
// Answers false when a history count was above the limit: the fallback counts are then in
// effect, the other values as typed.
bool StoreCoreParams(AnalysisParams& params, const CoreParamTexts& texts);

// "参数值不能超过501,系统将取缺省值!"
std::string HistoryLimitMessage();

} // namespace velmora
