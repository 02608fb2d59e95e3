#include "app/AboutText.h"
#include "app/AppState.h"
#include "app/Commands.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace velmora;

TEST(Commands, NavigationStaysWithinTheCatalogueAndCyclesPeriods)
{
    EXPECT_EQ(ApplyNavigation(ID_NEXT_COMMODITY, {11, 0})->kind, 12);
    EXPECT_EQ(ApplyNavigation(ID_NEXT_COMMODITY, {12, 0})->kind, 12); // no wrap
    EXPECT_EQ(ApplyNavigation(ID_TB_PREV_COMMODITY, {0, 2})->kind, 0);
    EXPECT_EQ(ApplyNavigation(ID_PREV_COMMODITY, {5, 2})->kind, 4);
    EXPECT_EQ(ApplyNavigation(ID_CYCLE_PERIOD, {5, 3})->period, 0);
    EXPECT_EQ(ApplyNavigation(ID_CYCLE_PERIOD, {5, 1})->period, 2);
    EXPECT_EQ(ApplyNavigation(ID_PERIOD_WEEK, {5, 0})->period, 2);
    EXPECT_EQ(ApplyNavigation(ID_PERIOD_HALF_HOUR, {5, 3})->period, 0);
    for (int id : {ID_TB_NEXT_TIME_UNIT, ID_CURRENT_PRICE}) {
        const auto step = ApplyNavigation(id, {7, 1});
        ASSERT_TRUE(step) << id;
        EXPECT_EQ(step->kind, 7);
        EXPECT_EQ(step->period, 1);
    }
    EXPECT_FALSE(ApplyNavigation(ID_SHOW_QUOTES, {7, 1}));
}

TEST(Commands, ActiveChartExcludesQuoteBoardByTitleAndHelpByKind)
{
    EXPECT_FALSE(IsActiveChart(kQuoteBoardTitle, kQuoteBoardKind));
    EXPECT_FALSE(IsActiveChart("在线帮助", kHelpKind));
    EXPECT_TRUE(IsActiveChart("EURUSD-外汇欧元-日线 价值图", 5));
    // A quote board is known by its title alone.
    EXPECT_FALSE(IsActiveChart(kQuoteBoardTitle, 3));
}

TEST(Commands, ToolbarAliasesAndPrompts)
{
    EXPECT_EQ(CanonicalCommand(ID_TB_ANALYSE), ID_ANALYSE);
    EXPECT_EQ(CanonicalCommand(ID_TB_PREV_TIME_UNIT), ID_PREV_TIME_UNIT);
    EXPECT_TRUE(IsNavigationCommand(ID_TB_NEXT_COMMODITY));
    EXPECT_TRUE(IsNavigationCommand(ID_CURRENT_PRICE)); // acts on the active chart only
    EXPECT_FALSE(IsNavigationCommand(ID_ACCESS_CODE));
    EXPECT_EQ(CommandPrompt(ID_SHOW_QUOTES), "显示直盘外汇，贵金属现货实时行情");
    EXPECT_EQ(CommandPrompt(ID_WEBSITE), "Quenda投资");
    EXPECT_EQ(CommandPrompt(ID_NEXT_COMMODITY), ""); // keys have no prompt
}

TEST(AboutText, HelpTextAndAccessCode)
{
    const std::string text = AboutHelpText();
    EXPECT_EQ(text.rfind("\t\t帮助和快捷键说明\t\t\r\n\r\n", 0), 0u);
    EXPECT_NE(text.find("如01表示1~7号那一周t\r\n"), std::string::npos); // kept as written
    EXPECT_TRUE(text.ends_with("\t↓:切换下一商品分析\t\r\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 12);

    EXPECT_TRUE(AccessCodeMatches("8352917", "8352917"));
    EXPECT_FALSE(AccessCodeMatches(" 8352917", "8352917"));
    EXPECT_FALSE(AccessCodeMatches("8352917 ", "8352917"));
    EXPECT_FALSE(AccessCodeMatches("", "8352917"));
}
