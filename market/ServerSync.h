#pragma once

#include "market/BarStore.h"
#include "market/SyncReport.h"

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

class MessageSink;

// "&code=…&linetype=…&datetime=YYYY-MM-DD%20hh:mm:ss&count=N" for one series request.
std::string SeriesQuery(std::string_view code, std::string_view lineType, const std::tm& localTime,
                        int count);

// Replaces `series` with the records of a data-server reply (newest first on the wire,
// oldest first in the series). A reply without any record empties the series.
void StoreSeriesReply(const std::string& body, BarSeries& series);

// Fetches one commodity's series at one period from the data server and replaces it.
// Answers 0 on success, -1 when nothing could be fetched (the series is then untouched).
int SyncSeries(const CommodityEntry& entry, std::string_view lineType, Period period,
               MessageSink& messages);

// Told before each request: the commodity and period about to be fetched and how many
// requests are done of at most 52. Answering false skips every request still to come.
using SyncProgress = std::function<bool(int commodity, Period period, int done, int total)>;

// Synchronises every commodity and period, each commodity until one of its periods fails,
// then reports completion with the failures (and a cancellation) named.
SyncFailures SyncAllFromServer(MessageSink& messages, const SyncProgress& progress = {});

} // namespace velmora
