#pragma once

#include <optional>
#include <string_view>

namespace velmora {

// Command ids of menus, toolbar and keyboard table.
enum CommandId : int {
    ID_SHOW_QUOTES = 32771,
    ID_ANALYSE = 32772,
    ID_DATA_MANAGEMENT = 32774,
    ID_NEXT_COMMODITY = 32775,
    ID_PREV_COMMODITY = 32776,
    ID_NEXT_TIME_UNIT = 32777,
    ID_PREV_TIME_UNIT = 32778,
    ID_CYCLE_PERIOD = 32779,
    ID_ACCESS_CODE = 32780,
    ID_CURRENT_PRICE = 32781, // End: back to the current price
    ID_TB_PREV_TIME_UNIT = 32784,
    ID_TB_DATA_MANAGEMENT = 32787,
    ID_TB_ANALYSE = 32788,
    ID_PERIOD_HALF_HOUR = 32789,
    ID_PERIOD_DAY = 32790,
    ID_PERIOD_WEEK = 32791,
    ID_PERIOD_MONTH = 32792,
    ID_TB_NEXT_TIME_UNIT = 32793,
    ID_TB_NEXT_COMMODITY = 32794,
    ID_TB_PREV_COMMODITY = 32795,
    ID_SYSTEM_EXIT = 32797,
    ID_USER_CENTER = 32798,
    ID_SYNC_DATA = 32802,
    ID_ONLINE_HELP = 32803,
    ID_WEBSITE = 32804,
    ID_PROFILE_LAYER = 32805, // the profile layer on or off
    ID_WINDOW_NEW = 57648,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
};

// The status-bar prompt of a command; empty when it has none.
std::string_view CommandPrompt(int id);

// The command a toolbar or keyboard alias stands for (32788 is 32772, 32793 is 32777, ...).
int CanonicalCommand(int id);

// A chart document as the navigation commands see it.
struct ChartTarget {
    int kind = 0;
    int period = 0;
};

// What a navigation command does to the active chart's commodity and period; nullopt for a
// command that is not one of them. Cursor steps and the return to the current price leave
// both as they are.
std::optional<ChartTarget> ApplyNavigation(int command, ChartTarget target);

// Whether a view is an "active chart" for the navigation commands: its document is neither
// the quote board (recognised by its title) nor the help page.
bool IsActiveChart(std::string_view documentTitle, int kind);

// Whether a command is one of the chart navigation commands.
bool IsNavigationCommand(int command);

} // namespace velmora
