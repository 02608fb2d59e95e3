#pragma once

#include "market/Catalogue.h"
#include "market/SyncReport.h"

#include <string>

namespace velmora {

class BarStore;
class MessageSink;

// Path of the history file of one code and period: DIR/CODE30.hst, DIR/CODE1440.hst, ...
std::string Mt4HistoryPath(const std::string& directory, std::string_view code, Period period);

// Replaces the series of the entry's commodity at `period` with the newest bars of its MT4
// history file (at most `historyCount` of them) in `bars`. Answers 0 on success, -1 on
// failure; failures the user must know of go to `messages`.
int ImportMt4Series(BarStore& bars, const CommodityEntry& entry, Period period,
                    const std::string& directory, int historyCount, MessageSink& messages);

// Imports every catalogue commodity, period by period until one fails, then reports
// completion, naming the failed series. Does nothing for an empty directory. Answers the
// failures.
SyncFailures ImportAllFromMt4(const Catalogue& catalogue, BarStore& bars,
                              const std::string& directory, const PeriodValues& historyCount,
                              MessageSink& messages);

} // namespace velmora
