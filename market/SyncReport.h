#pragma once

#include "market/Catalogue.h"

#include <string>
#include <vector>

namespace velmora {

struct SyncFailure {
    int commodity;
    Period period;
};
using SyncFailures = std::vector<SyncFailure>;

// The message that closes a run over all commodities: "完成数据同步", and when anything
// failed or the run was cancelled a second line that says so.
std::string SyncCompletionMessage(const SyncFailures& failures, bool cancelled = false);

} // namespace velmora
