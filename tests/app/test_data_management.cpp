#include "app/DataManagementDlg.h"
#include "app/EditGridCtrl.h"
#include "app/UserPrompts.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "market/Mt4Import.h"
#include "platform/RegistryKey.h"
#include "session/Session.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <ctime>
#include <gtest/gtest.h>
#include <vector>

using namespace velmora;

namespace {

std::string SavedFolder()
{
    std::string folder;
    CRegistryKey key(RegistryRoot::LocalMachine);
    if (key.Open(kRegistry.subKey))
        key.ReadString(kRegistry.mt4Dir, folder);
    return folder;
}

void SaveFolder(const std::string& folder)
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    ASSERT_TRUE(key.Open(kRegistry.subKey));
    ASSERT_TRUE(key.WriteString(kRegistry.mt4Dir, folder));
}

// The dialog over EURUSD's day series of three bars (slot 2 the newest).
class DataManagementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitCatalogue(session.catalogue);
        SaveFolder("");
        BarSeries& series = session.barStore.Series(FindCommodity("EURUSD"), kDay);
        series.count = 3;
        series.bars[0] = {"2026-11-25 00:00", 1.1000, 1.1010, 1.1020, 1.0990, 7};
        series.bars[1] = {"2026-11-26 00:00", 1.1010, 1.1000, 1.1030, 1.0980, 9};
        series.bars[2] = {"2026-11-27 00:00", 1.1000, 1.1005, 1.1012, 1.0995, 8};
        dialog =
            std::make_unique<DataManagementDialog>(session, prompts, [this] { ++serverSyncs; });
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void TearDown() override
    {
        dialog.reset();
        InitCatalogue(session.catalogue);
        SaveFolder("");
    }

    // Double-clicks a period item of a commodity in the tree.
    void openSeries(int commodity, const char* period)
    {
        QTreeWidgetItem* item = dialog->tree()->topLevelItem(0)->child(commodity);
        item->setExpanded(true);
        dialog->tree()->scrollToItem(item->child(3));
        for (int k = 0; k < item->childCount(); ++k) {
            if (item->child(k)->text(0) == QString::fromUtf8(period)) {
                const QRect rect = dialog->tree()->visualItemRect(item->child(k));
                ASSERT_TRUE(rect.isValid()) << rect.x() << " " << rect.y();
                QTest::mouseClick(dialog->tree()->viewport(), Qt::LeftButton, {}, rect.center());
                EXPECT_TRUE(dialog->list()->rowCount() == 0 || filled)
                    << "a single click only selects";
                QTest::mouseDClick(dialog->tree()->viewport(), Qt::LeftButton, {}, rect.center());
                filled = true;
                return;
            }
        }
        FAIL() << period;
    }
    void clickRow(int row)
    {
        CEditGridCtrl* list = dialog->list();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(list->item(row, 1)).center());
    }
    QString cell(int row, int column) const { return dialog->list()->GetItemText(row, column); }

    Session session;
    ScriptedPrompts prompts;
    int serverSyncs = 0;
    bool filled = false;
    std::unique_ptr<DataManagementDialog> dialog;
};

} // namespace

TEST_F(DataManagementTest, TreeListsEveryCommodityAndADoubleClickShowsTheSeries)
{
    QTreeWidgetItem* root = dialog->tree()->topLevelItem(0);
    EXPECT_EQ(root->text(0), QStringLiteral("全部商品"));
    EXPECT_TRUE(root->font(0).bold());
    ASSERT_EQ(root->childCount(), kCommodityCount);
    const int eurusd = FindCommodity("EURUSD");
    EXPECT_EQ(root->child(eurusd)->text(0), QStringLiteral("EURUSD 外汇欧元"));
    EXPECT_EQ(root->child(eurusd)->childCount(), 4);

    openSeries(eurusd, "日线");
    EXPECT_EQ(dialog->seriesLabel()->text(), QStringLiteral("EURUSD 外汇欧元 日线"));
    EXPECT_EQ(dialog->countLabel()->text(), QStringLiteral("数据库:3条记录,请及时更新对应的数据"));
    ASSERT_EQ(dialog->list()->rowCount(), 3);
    EXPECT_EQ(cell(0, 0), QStringLiteral("↑  1"));
    EXPECT_EQ(cell(0, 1), QStringLiteral("2026-11-27 00:00"));
    EXPECT_EQ(cell(1, 0), QStringLiteral("↓  2"));
    EXPECT_EQ(cell(2, 3), QStringLiteral("1.10100"));
    EXPECT_EQ(dialog->list()->GetItemBkColor(2, 6), 0xcee3e3);

    // A double click on a commodity changes nothing.
    const QRect rect = dialog->tree()->visualItemRect(root->child(0));
    QTest::mouseDClick(dialog->tree()->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(dialog->list()->rowCount(), 3);
}

TEST_F(DataManagementTest, AClickLoadsTheBoxesAndUpdateRewritesThatBar)
{
    openSeries(FindCommodity("EURUSD"), "日线");
    // The keyboard moves the selection without loading the boxes.
    dialog->list()->setFocus();
    QTest::keyClick(dialog->list(), Qt::Key_Down);
    EXPECT_TRUE(dialog->barBox(0)->text().isEmpty());

    clickRow(0);
    EXPECT_EQ(dialog->barBox(0)->text(), QStringLiteral("2026-11-27 00:00"));
    EXPECT_EQ(dialog->barBox(5)->text(), QStringLiteral("8"));
    dialog->barBox(2)->setText(QStringLiteral("1.2"));
    dialog->barBox(4)->setText(QStringLiteral("nan")); // no validation: the list shows it
    dialog->updateButton()->click();
    const BarRecord& newest = session.barStore.Series(FindCommodity("EURUSD"), kDay).bars[2];
    EXPECT_DOUBLE_EQ(newest.close, 1.2);
    EXPECT_EQ(cell(0, 3), QStringLiteral("1.20000"));
    EXPECT_EQ(cell(0, 5), QStringLiteral("nan"));

    // An emptied time hides the bar; the label still counts it.
    dialog->barBox(0)->clear();
    dialog->updateButton()->click();
    ASSERT_EQ(dialog->list()->rowCount(), 2);
    EXPECT_EQ(cell(0, 0), QStringLiteral("↓  1"));
    EXPECT_EQ(dialog->countLabel()->text(), QStringLiteral("数据库:3条记录,请及时更新对应的数据"));
}

TEST_F(DataManagementTest, UpdateAfterASortWritesTheClickedBar)
{
    openSeries(FindCommodity("EURUSD"), "日线");
    dialog->list()->SortItems(1, true); // oldest first: row 0 is now slot 0
    clickRow(0);
    EXPECT_EQ(dialog->barBox(0)->text(), QStringLiteral("2026-11-25 00:00"));
    dialog->barBox(5)->setText(QStringLiteral("70"));
    dialog->updateButton()->click();
    const BarSeries& series = session.barStore.Series(FindCommodity("EURUSD"), kDay);
    EXPECT_EQ(series.bars[0].volume, 70);
    EXPECT_EQ(series.bars[2].volume, 8);
}

TEST_F(DataManagementTest, SyncReadsTheMt4FolderWhenGivenAndRemembersIt)
{
    dialog->syncButton()->click();
    EXPECT_EQ(serverSyncs, 1);
    EXPECT_TRUE(prompts.messages.empty());

    test::TempDir folder;
    ASSERT_TRUE(test::WriteGoldHistory(folder.path()));
    dialog->folderBox()->setText(QString::fromStdString(folder.str()));
    dialog->syncButton()->click();
    EXPECT_EQ(serverSyncs, 1);
    EXPECT_EQ(session.mt4Directory, folder.str());
    EXPECT_EQ(SavedFolder(), folder.str());
    ASSERT_FALSE(prompts.messages.empty());
    EXPECT_NE(prompts.messages.back().find("完成数据同步"), std::string::npos);
    EXPECT_GT(session.barStore.Series(FindCommodity("LLGUSD"), kDay).count, 0);

    // The next dialog starts with the remembered folder.
    DataManagementDialog again(session, prompts, {});
    EXPECT_EQ(again.folderBox()->text().toStdString(), folder.str());

    // Emptying asks first, 否 the default; 否 keeps the bars.
    dialog->clearButton()->click();
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_TRUE(prompts.questionDefaultsNo[0]);
    EXPECT_GT(session.barStore.Series(FindCommodity("LLGUSD"), kDay).count, 0);
    prompts.answers.push_back(true);
    dialog->clearButton()->click();
    EXPECT_EQ(session.barStore.Series(FindCommodity("LLGUSD"), kDay).count, 0);
}

TEST_F(DataManagementTest, StoredBarsSayHowOldTheyAreAndChangesReachTheStore)
{
    std::vector<std::pair<int, SeriesChange>> told;
    session.barStore.setObserver(
        [&](int commodity, Period, SeriesChange change) { told.emplace_back(commodity, change); });
    const int euro = FindCommodity("EURUSD");
    session.barStore.Series(euro, kDay).storedAt =
        static_cast<std::int64_t>(std::time(nullptr)) - 3 * 3600 - 5;
    openSeries(euro, "日线");
    EXPECT_TRUE(dialog->countLabel()->text().contains(QStringLiteral("本地数据，保存于")))
        << dialog->countLabel()->text().toStdString();
    EXPECT_TRUE(dialog->countLabel()->text().contains(QStringLiteral("（3小时前）")));

    clickRow(0);
    dialog->barBox(2)->setText(QStringLiteral("1.3"));
    dialog->updateButton()->click();
    prompts.answers.push_back(true);
    dialog->clearButton()->click();
    session.barStore.setObserver({});
    const std::vector<std::pair<int, SeriesChange>> expected = {{euro, SeriesChange::Edited},
                                                                {-1, SeriesChange::Cleared}};
    EXPECT_EQ(told, expected);
}

TEST_F(DataManagementTest, BrowseSetsTheFolderUnlessCancelled)
{
    QString title;
    QString answer;
    dialog->pickFolder = [&](QWidget*, const QString& caption, const QString&) {
        title = caption;
        return answer;
    };
    dialog->browseButton()->click();
    EXPECT_EQ(title, QStringLiteral("选择MT4数据目录"));
    EXPECT_TRUE(dialog->folderBox()->text().isEmpty());
    EXPECT_TRUE(SavedFolder().empty());

    answer = QStringLiteral("/srv/mt4/history");
    dialog->browseButton()->click();
    EXPECT_EQ(dialog->folderBox()->text(), answer);
    EXPECT_EQ(session.mt4Directory, "/srv/mt4/history");
    EXPECT_EQ(SavedFolder(), "/srv/mt4/history");
}
