#include "session/Session.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

// A fresh session starts from the defaults, whatever another one holds.
TEST(SessionTest, TwoSessionsShareNothing)
{
    Session first;
    first.catalogue[5].lastPrice = "1.08123";
    first.catalogue[5].yunit[kDay] = "1";
    first.barStore.Series(5, kDay).count = 3;
    first.CurrentUser.loggedIn = true;
    first.CurrentUser.userName = "zhang";
    first.analysisParams.tpoBars[kDay] = 7;
    first.yunitOverride.active = true;
    first.RequestKind = kHelpKind;
    first.RequestPeriod = kMonth;
    first.mt4Directory = "/srv/mt4";
    first.autoLoginStatus = "refused";
    first.g_pHttpClient = std::make_unique<CHttpClient>(Endpoints{}, test::CookieFolder());

    const Session second;
    EXPECT_EQ(second.catalogue[5].code, "EURUSD"); // filled from the start
    EXPECT_EQ(second.catalogue[5].yunit[kDay], "0.0010");
    EXPECT_TRUE(second.catalogue[5].lastPrice.empty());
    EXPECT_EQ(second.barStore.Series(5, kDay).count, 0);
    EXPECT_FALSE(second.CurrentUser.loggedIn);
    EXPECT_TRUE(second.CurrentUser.userName.empty());
    EXPECT_EQ(second.analysisParams.tpoBars, AnalysisParams{}.tpoBars);
    EXPECT_FALSE(second.yunitOverride.active);
    EXPECT_EQ(second.RequestKind, kQuoteBoardKind);
    EXPECT_EQ(second.RequestPeriod, 0);
    EXPECT_TRUE(second.mt4Directory.empty());
    EXPECT_TRUE(second.autoLoginStatus.empty());
    EXPECT_EQ(second.g_pHttpClient, nullptr);
    EXPECT_EQ(second.vault, nullptr);
}

} // namespace
} // namespace velmora
