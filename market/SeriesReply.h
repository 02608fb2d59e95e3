#pragma once

#include "market/BarStore.h"

#include <ctime>
#include <string>
#include <string_view>

namespace velmora {

// "&code=…&linetype=…&datetime=YYYY-MM-DD%20hh:mm:ss&count=N" for one series request.
std::string SeriesQuery(std::string_view code, std::string_view lineType, const std::tm& localTime,
                        int count);

// Replaces `series` with the records of a data-server reply (newest first on the wire,
// oldest first in the series). A reply without any record empties the series.
void StoreSeriesReply(std::string_view body, BarSeries& series);

} // namespace velmora
