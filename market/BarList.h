#pragma once

#include "market/BarStore.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

inline constexpr int kBarListColumns = 7;

// What the data management dialog shows of one series: the count label and one row per bar
// with a time, newest first.
struct BarList {
    std::string label;
    std::vector<std::array<std::string, kBarListColumns>> rows;
    std::vector<int> rowMap; // the bar slot of each row
};

// The list's column headings: "阴阳", "交易时间", "开盘", "收盘", "最高", "最低", "交易量".
extern const std::array<std::string_view, kBarListColumns> kBarListHeadings;

// Rows are numbered from 1 in the first column, "↑" for an up bar and "↓" otherwise; prices
// get three decimals when the bar opened above 10, else five. A bar with an empty time is
// left out but still counted in the label.
BarList FillBarList(const BarSeries& series);

// The texts of the six edit boxes written into a bar without any check: a price is the
// leading number of its text and the volume the leading integer, 0 when there is none.
void ApplyBarEdit(BarRecord& bar, std::string_view time, std::string_view open,
                  std::string_view close, std::string_view high, std::string_view low,
                  std::string_view volume);

// The folder the MT4 folder picker starts in: the Windows terminal folder of the user's Wine
// prefix ($WINEPREFIX, default ~/.wine) when it exists, otherwise the home folder.
std::string InitialMt4PickerFolder();

} // namespace velmora
