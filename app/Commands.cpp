#include "app/Commands.h"

#include "app/AppState.h"

#include <array>
#include <utility>

namespace velmora {

namespace {

constexpr std::array<std::pair<int, std::string_view>, 24> kPrompts{{
    {ID_SHOW_QUOTES, "显示直盘外汇，贵金属现货实时行情"},
    {ID_ANALYSE, "分析指定商品的价值图及交易信号"},
    {ID_TB_ANALYSE, "分析商品"},
    {ID_TB_DATA_MANAGEMENT, "数据管理"},
    {ID_USER_CENTER, "用户中心"},
    {ID_ONLINE_HELP, "在线帮助"},
    {ID_APP_ABOUT, "关于"},
    {ID_SYNC_DATA, "同步数据"},
    {ID_SYSTEM_EXIT, "系统退出"},
    {ID_WEBSITE, "Quenda投资"},
    {ID_PROFILE_LAYER, "价值区：控制点、价值区和单一印记"},
    {ID_PERIOD_HALF_HOUR, "半小时线"},
    {ID_PERIOD_DAY, "日线"},
    {ID_PERIOD_WEEK, "周线"},
    {ID_PERIOD_MONTH, "月线"},
    {ID_TB_NEXT_COMMODITY, "下一商品"},
    {ID_TB_PREV_COMMODITY, "上一商品"},
    {ID_TB_NEXT_TIME_UNIT, "下一日图"},
    {ID_TB_PREV_TIME_UNIT, "上一日图"},
    {ID_APP_EXIT, "退出应用程序；提示保存文档"},
    {ID_WINDOW_NEW, "为活动文档打开另一个窗口"},
    {ID_WINDOW_CASCADE, "以重叠方式排列窗口"},
    {ID_WINDOW_TILE, "以非重叠的平铺方式排列窗口"},
    {ID_DATA_MANAGEMENT, ""},
}};

} // namespace

std::string_view CommandPrompt(int id)
{
    for (const auto& [command, prompt] : kPrompts) {
        if (command == id)
            return prompt;
    }
    return {};
}

int CanonicalCommand(int id)
{
    switch (id) {
    case ID_TB_ANALYSE:
        return ID_ANALYSE;
    case ID_TB_DATA_MANAGEMENT:
        return ID_DATA_MANAGEMENT;
    case ID_TB_NEXT_COMMODITY:
        return ID_NEXT_COMMODITY;
    case ID_TB_PREV_COMMODITY:
        return ID_PREV_COMMODITY;
    case ID_TB_NEXT_TIME_UNIT:
        return ID_NEXT_TIME_UNIT;
    case ID_TB_PREV_TIME_UNIT:
        return ID_PREV_TIME_UNIT;
    default:
        return id;
    }
}

bool IsNavigationCommand(int command)
{
    switch (CanonicalCommand(command)) {
    case ID_PERIOD_HALF_HOUR:
    case ID_PERIOD_DAY:
    case ID_PERIOD_WEEK:
    case ID_PERIOD_MONTH:
    case ID_CYCLE_PERIOD:
    case ID_NEXT_COMMODITY:
    case ID_PREV_COMMODITY:
    case ID_NEXT_TIME_UNIT:
    case ID_PREV_TIME_UNIT:
    case ID_CURRENT_PRICE:
        return true;
    default:
        return false;
    }
}

std::optional<ChartTarget> ApplyNavigation(int command, ChartTarget target)
{
    switch (CanonicalCommand(command)) {
    case ID_PERIOD_HALF_HOUR:
    case ID_PERIOD_DAY:
    case ID_PERIOD_WEEK:
    case ID_PERIOD_MONTH:
        target.period = CanonicalCommand(command) - ID_PERIOD_HALF_HOUR;
        return target;
    case ID_CYCLE_PERIOD:
        target.period = (target.period + 1) % 4;
        return target;
    case ID_NEXT_COMMODITY:
        if (target.kind < 12)
            ++target.kind;
        return target;
    case ID_PREV_COMMODITY:
        if (target.kind > 0)
            --target.kind;
        return target;
    case ID_NEXT_TIME_UNIT:
    case ID_PREV_TIME_UNIT:
    case ID_CURRENT_PRICE:
        return target;
    default:
        return std::nullopt;
    }
}

bool IsActiveChart(std::string_view documentTitle, int kind)
{
    return documentTitle != kQuoteBoardTitle && kind != kHelpKind;
}

} // namespace velmora
