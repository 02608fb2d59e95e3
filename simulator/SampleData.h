#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Writes made-up MT4 history files for all 13 catalogue commodities into the existing folder
// `dir`: CODE30.hst, CODE1440.hst, CODE10080.hst and CODE43200.hst, version 401. The price path
// ends just before `endUtc` and reaches back some eleven years, so the files hold the newest
// `halfHourBars` half-hours and at least 300 days, 150 weeks and 130 months. The same seed and
// end give byte-identical files. Answers false when `halfHourBars` is below 1, when the history
// would reach back before 1970, or when a file could not be written.
bool WriteSampleHistory(const std::string& dir, std::uint64_t seed, std::int64_t endUtc,
                        int halfHourBars = 1000);

} // namespace velmora
