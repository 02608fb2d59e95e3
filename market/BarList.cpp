#include "market/BarList.h"

#include "market/TextNumbers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace velmora {

const std::array<std::string_view, kBarListColumns> kBarListHeadings{
    "阴阳", "交易时间", "开盘", "收盘", "最高", "最低", "交易量"};

BarList FillBarList(const BarSeries& series)
{
    BarList list;
    const int count = std::clamp(series.count, 0, kMaxBars);
    char label[96];
    std::snprintf(label, sizeof label,
                  series.count > 500 ? "数据库:%d条记录" : "数据库:%d条记录,请及时更新对应的数据",
                  series.count);
    list.label = label;
    int number = 1;
    for (int k = count - 1; k >= 0; --k) {
        const BarRecord& bar = series.bars[static_cast<std::size_t>(k)];
        if (bar.time.empty())
            continue;
        std::array<std::string, kBarListColumns> row;
        char mark[32];
        std::snprintf(mark, sizeof mark, bar.close > bar.open ? "↑% 3d" : "↓% 3d", number++);
        row[0] = mark;
        row[1] = bar.time;
        const int decimals = bar.open > 10 ? 3 : 5;
        row[2] = FixedDecimals(bar.open, decimals);
        row[3] = FixedDecimals(bar.close, decimals);
        row[4] = FixedDecimals(bar.high, decimals);
        row[5] = FixedDecimals(bar.low, decimals);
        row[6] = std::to_string(bar.volume);
        list.rows.push_back(std::move(row));
        list.rowMap.push_back(k);
    }
    return list;
}

void ApplyBarEdit(BarRecord& bar, std::string_view time, std::string_view open,
                  std::string_view close, std::string_view high, std::string_view low,
                  std::string_view volume)
{
    bar.time = std::string(time);
    bar.open = LeadingDouble(open);
    bar.close = LeadingDouble(close);
    bar.high = LeadingDouble(high);
    bar.low = LeadingDouble(low);
    bar.volume = LeadingInt32(volume);
}

std::string InitialMt4PickerFolder()
{
    const char* home = std::getenv("HOME");
    const std::string homeDir = home != nullptr ? home : "";
    const char* prefix = std::getenv("WINEPREFIX");
    const std::string wine =
        prefix != nullptr && *prefix != '\0' ? std::string(prefix) : homeDir + "/.wine";
    const char* user = std::getenv("USER");
    const std::string terminal = wine + "/drive_c/users/" + (user != nullptr ? user : "") +
                                 "/AppData/Roaming/MetaQuotes/Terminal";
    std::error_code ignored;
    return std::filesystem::is_directory(terminal, ignored) ? terminal : homeDir;
}

} // namespace velmora
