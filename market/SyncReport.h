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
// failed or the run was cancelled a second line that says so, naming the failed series by
// their code and their name in `catalogue`.
std::string SyncCompletionMessage(const Catalogue& catalogue, const SyncFailures& failures,
                                  bool cancelled = false);

} // namespace velmora
