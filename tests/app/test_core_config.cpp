#include "analysis/AnalysisParams.h"
#include "analysis/ValueChart.h"
#include "app/CoreConfigDlg.h"
#include "app/EditGridCtrl.h"
#include "app/UserPrompts.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace velmora;

namespace {

class CoreConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCatalogue(session.catalogue);
        dialog = std::make_unique<CCoreConfigDlg>(session, prompts);
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void TearDown() override
    {
        dialog.reset();
        InitCatalogue(session.catalogue);
    }
    void type(int edit, const char* text)
    {
        dialog->paramEdit(edit)->setText(QString::fromUtf8(text));
    }

    Session session;
    AnalysisParams& analysisParams = session.analysisParams;
    ScriptedPrompts prompts;
    std::unique_ptr<CCoreConfigDlg> dialog;
};

} // namespace

TEST_F(CoreConfigTest, ShowsTheParametersAndTheCatalogueUnits)
{
    EXPECT_EQ(dialog->paramEdit(0)->text(), QStringLiteral("48"));
    EXPECT_EQ(dialog->paramEdit(15)->text(), QStringLiteral("100"));
    CEditGridCtrl* grid = dialog->grid();
    ASSERT_EQ(grid->rowCount(), kCommodityCount);
    ASSERT_EQ(grid->columnCount(), 6);
    EXPECT_EQ(grid->GetItemText(3, 0).toStdString(), session.catalogue[3].code);
    EXPECT_EQ(grid->GetItemText(3, 5).toStdString(), session.catalogue[3].yunit[kMonth]);
    EXPECT_EQ(grid->GetItemBkColor(12, 5), 0xcee3e3);
}

TEST_F(CoreConfigTest, OkStoresLeadingIntegersAndAcceptsAHistoryOf501)
{
    type(0, "12abc");
    type(4, "abc");
    type(8, " -5");
    type(12, "501");
    dialog->grid()->SetItemText(0, 2, QStringLiteral("0.5"));
    dialog->okButton()->click();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(analysisParams.tpoBars[kHalfHour], 12);
    EXPECT_EQ(analysisParams.longAvgBars[kHalfHour], 0);
    EXPECT_EQ(analysisParams.shortAvgBars[kHalfHour], -5);
    EXPECT_EQ(analysisParams.historyCount[kHalfHour], 501);
    EXPECT_EQ(session.catalogue[0].yunit[kHalfHour], "0.5");
}

TEST_F(CoreConfigTest, AHistoryAbove501IsRefusedAndCancelKeepsWhatWasStored)
{
    const std::string unit = session.catalogue[0].yunit[kDay];
    type(1, "30");
    type(15, "502");
    dialog->grid()->SetItemText(0, 3, QStringLiteral("9"));
    dialog->okButton()->click();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], "参数值不能超过501,系统将取缺省值!");
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->paramEdit(15)->text(), QStringLiteral("502"));
    EXPECT_EQ(analysisParams.historyCount, AnalysisParams::kFallbackHistoryCount);
    EXPECT_EQ(analysisParams.tpoBars[kDay], 30);

    dialog->cancelButton()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(analysisParams.tpoBars[kDay], 30);
    EXPECT_EQ(analysisParams.historyCount, AnalysisParams::kFallbackHistoryCount);
    EXPECT_EQ(session.catalogue[0].yunit[kDay], unit) << "a refused OK copies no units";
}

TEST_F(CoreConfigTest, AnEmptiedUnitMakesTheChartReportIt)
{
    const int eurusd = FindCommodity("EURUSD");
    BarSeries& series = session.barStore.Series(eurusd, kDay);
    series.count = 3;
    series.cursor = 2;
    for (int k = 0; k < 3; ++k)
        series.bars[static_cast<std::size_t>(k)] = {
            "2026-11-2" + std::to_string(k), 1.1, 1.2, 1.25, 1.05, 1};
    type(1, "2");

    // The cell is still being edited when OK is pressed: what was typed counts.
    CEditGridCtrl* grid = dialog->grid();
    ASSERT_TRUE(grid->StartEdit(eurusd, 3));
    grid->editor()->clear();
    dialog->okButton()->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(session.catalogue[static_cast<std::size_t>(eurusd)].yunit[kDay], "");

    auto state = std::make_unique<ValueChartState>();
    YUnitOverride memo;
    const ValueChartRequest request{eurusd, kDay,
                                    &session.catalogue[static_cast<std::size_t>(eurusd)], &series,
                                    &analysisParams};
    const ValueChartPass pass = RunValueChartPass(request, "t", *state, memo);
    EXPECT_EQ(pass.outcome, ChartOutcome::Message);
    EXPECT_EQ(pass.message, kYUnitInvalidMessage);
    session.barStore.ResetBarStore();
}
