#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Compares two cell texts the way the grid sorts a column: negative, zero or positive. The
// first rule that fits both texts decides: hexadecimal integers (as strtoul reads them in
// base 16, kept to 32 bits), decimal numbers (with a trailing "%" allowed), dates and times,
// and otherwise the bytes of the two texts in the GBK code page.
int CompareGridCells(std::string_view a, std::string_view b);

// A date or time cell read as a point in time, in seconds from 0000-03-01 (any fixed origin
// serves: only the order counts). Accepted: year-month-day with "-", "." or "/" between,
// optionally followed by hours and minutes and then seconds; or a time of day alone.
bool ParseGridDateTime(std::string_view text, long long& seconds);

// Orders the row indices 0..n-1 by the texts of one column. `texts` has one entry per row.
// Rows that compare equal keep no particular order.
std::vector<int> GridSortOrder(const std::vector<std::string>& texts, bool ascending);

} // namespace velmora
