#include "analysis/AnalysisParams.h"
#include "analysis/ChartAids.h"
#include "analysis/DrawList.h"
#include "analysis/DrawListExport.h"
#include "analysis/ValueChartDrawing.h"
#include "app/AppState.h"
#include "app/Commands.h"
#include "app/Dialogs.h"
#include "app/ImageToolBar.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/OrbaltView.h"
#include "app/ProfileLayer.h"
#include "app/ProfileLayerSetting.h"
#include "app/UserPrompts.h"
#include "app/framework/ChildFrame.h"
#include "app/framework/DocTemplate.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "tests/app/AppFixture.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPrinter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace velmora;

namespace {

constexpr int kEuro = 5;
constexpr int kGold = 12;

// Bars that wander around `base` so that every window has a few dozen rows.
void FillSeries(BarSeries& series, int count, double base, double step)
{
    for (int i = 0; i < count; ++i) {
        BarRecord& bar = series.bars[i];
        const double mid = base + step * ((i * 7) % 23);
        bar.open = mid;
        bar.close = mid + ((i % 3) ? -step * 2 : step * 3);
        bar.high = mid + step * 5;
        bar.low = mid - step * 4;
        char time[32];
        std::snprintf(time, sizeof time, "2026.%02d.%02d %02d:%02d:00", 1 + i % 12, 1 + i % 28,
                      i % 24, (i % 2) * 30);
        bar.time = time;
    }
    series.count = count;
    series.cursor = count - 1;
}

// Runs `answer` on the modal dialog that the next step opens.
void AnswerNextDialog(std::function<void(QWidget*)> answer)
{
    QTimer::singleShot(0, [answer] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        answer(dialog);
    });
}

class MainWindowTest : public velmora::test::AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        if (HasFatalFailure())
            return;
        QApplication::setActiveWindow(frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        FillSeries(session.barStore.Series(kEuro, kDay), 100, 1.08, 0.001);
        FillSeries(session.barStore.Series(kEuro, kHalfHour), 200, 1.08, 0.0005);
        FillSeries(session.barStore.Series(kGold, kDay), 100, 2400, 1.0);
    }

    COrbaltView* openChart(int commodity, Period period)
    {
        COrbaltView* view = openView(commodity, period);
        paint(view);
        return view;
    }

    static void paint(COrbaltView* view)
    {
        view->viewport()->repaint();
        QCoreApplication::processEvents();
    }

    // A window is painted when it is in front.
    void bringToFront(COrbaltView* view)
    {
        frame->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(view->parentWidget()));
        paint(view);
    }

    static void movePointer(COrbaltView* view, QPoint at)
    {
        QMouseEvent move(QEvent::MouseMove, at, view->viewport()->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view->viewport(), &move);
    }

    static void askForTip(COrbaltView* view, QPoint at)
    {
        QHelpEvent tip(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        QCoreApplication::sendEvent(view->viewport(), &tip);
    }

    void key(int keyCode, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(activeView() ? static_cast<QWidget*>(activeView()) : frame,
                        static_cast<Qt::Key>(keyCode), modifiers);
        if (activeView())
            paint(activeView());
    }
};

std::string TitleOf(const COrbaltView* view) { return view->document()->GetTitle(); }

// The engine's own drawing of the view's chart, before anything is laid over it.
DrawList EngineDrawing(const COrbaltView* view)
{
    const ValueChartState& chart = view->chartState();
    return DrawValueChart(chart.layout, chart.grid, view->lastDrawing().page->width + 20);
}

} // namespace

TEST_F(MainWindowTest, StartsMaximisedWithQuoteBoardMenusToolbarAndPanes)
{
    EXPECT_TRUE(frame->isMaximized());
    EXPECT_TRUE(frame->windowTitle().startsWith(QStringLiteral("Velmora")));
    ASSERT_EQ(frame->mdiArea()->subWindowList().size(), 1);
    EXPECT_TRUE(frame->mdiArea()->subWindowList().front()->isMaximized());
    EXPECT_EQ(TitleOf(activeView()), kQuoteBoardTitle);

    QStringList menus;
    for (QAction* menu : frame->menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, (QStringList{QStringLiteral("系统(&F)"), QStringLiteral("窗口(&W)"),
                                  QStringLiteral("帮助(&H)")}));

    // Sixteen buttons and six separators, in order.
    QList<int> layout;
    for (QAction* action : frame->toolBar()->actions())
        layout << (action->isSeparator() ? 0 : action->data().toInt());
    EXPECT_EQ(layout, (QList<int>{32787, 32788, 0,     32789, 0,     32790, 0,     32791,
                                  0,     32792, 0,     32794, 32795, 32793, 32784, 32798,
                                  32803, 32802, 32797, 32804, 0,     32805}));
    for (QAction* action : frame->toolBar()->actions()) {
        if (!action->isSeparator()) {
            EXPECT_FALSE(action->icon().isNull()) << action->data().toInt();
        }
    }
    EXPECT_EQ(frame->action(ID_TB_NEXT_TIME_UNIT)->statusTip(), QStringLiteral("下一日图"));
    // Prompts go to the status bar, not into tooltips.
    QWidget* button = frame->toolBar()->widgetForAction(frame->action(ID_SYNC_DATA));
    QHelpEvent tip(QEvent::ToolTip, QPoint(4, 4), button->mapToGlobal(QPoint(4, 4)));
    EXPECT_TRUE(QCoreApplication::sendEvent(button, &tip));
    EXPECT_FALSE(QToolTip::isVisible());

    QStringList panes;
    for (QLabel* label : frame->statusBar()->findChildren<QLabel*>())
        panes << label->text();
    for (const char* pane : {"就绪", "大写", "数字", "滚动"})
        EXPECT_TRUE(panes.contains(QString::fromUtf8(pane))) << pane;
}

TEST_F(MainWindowTest, AnalysisNeedsALoginThenOpensTheChosenChart)
{
    frame->OnCommand(ID_ANALYSE);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], "请先在用户中心中成功登陆");
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), 1);

    session.CurrentUser.loggedIn = true;
    // OK without a period opens nothing.
    AnswerNextDialog([](QWidget* dialog) {
        auto* select = qobject_cast<CAnalysisSelectDlg*>(dialog);
        ASSERT_NE(select, nullptr);
        EXPECT_EQ(select->commodity(), -1);
        EXPECT_EQ(select->period(), -1);
        select->commodityBox()->setCurrentIndex(kEuro);
        select->accept();
    });
    frame->OnCommand(ID_TB_ANALYSE);
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), 1);

    for (int round = 0; round < 2; ++round) {
        AnswerNextDialog([](QWidget* dialog) {
            auto* select = qobject_cast<CAnalysisSelectDlg*>(dialog);
            select->commodityBox()->setCurrentIndex(kEuro);
            select->periodBox()->setCurrentIndex(kDay);
            select->accept();
        });
        frame->OnCommand(ID_ANALYSE);
    }
    // The same choice twice gives two independent windows.
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), 3);
    COrbaltView* view = activeView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->document()->kind, kEuro);
    EXPECT_EQ(view->document()->period, kDay);
    EXPECT_EQ(TitleOf(view), "EURUSD-外汇欧元-日线 价值图");
    paint(view);
    EXPECT_EQ(TitleOf(view).rfind("EURUSD-外汇欧元-日线 2026.", 0), 0u);
    EXPECT_NE(TitleOf(view).find("价值图 U:"), std::string::npos);
}

TEST_F(MainWindowTest, KeysStepTheActiveChartWithinBounds)
{
    COrbaltView* view = openChart(kEuro, kDay);
    BarSeries& series = session.barStore.Series(kEuro, kDay);
    ASSERT_EQ(series.cursor, 99);

    key(Qt::Key_Right); // already on the newest bar
    EXPECT_EQ(series.cursor, 99);
    key(Qt::Key_Left);
    EXPECT_EQ(series.cursor, 98);
    series.cursor = session.analysisParams.tpoBars[kDay];
    key(Qt::Key_Left); // the window's length is the lowest position
    EXPECT_EQ(series.cursor, 49);
    key(Qt::Key_Right);
    EXPECT_EQ(series.cursor, 50);

    key(Qt::Key_F8);
    EXPECT_EQ(view->document()->period, kWeek);
    frame->OnCommand(ID_PERIOD_MONTH);
    key(Qt::Key_F8);
    EXPECT_EQ(view->document()->period, kHalfHour);

    view->document()->kind = 11;
    key(Qt::Key_Down);
    key(Qt::Key_Down);
    EXPECT_EQ(view->document()->kind, 12);
    view->document()->kind = 1;
    key(Qt::Key_Up);
    key(Qt::Key_Up);
    EXPECT_EQ(view->document()->kind, 0);
}

// The view is scrolled so that the middle of the current price's level, row
// (YMax - price) / YUnit, is in the middle of the view.
::testing::AssertionResult CentredOn(const COrbaltView* view, double price)
{
    const ValueChartLayout& layout = view->chartState().layout;
    const int row = static_cast<int>(std::lround((layout.ymax - price) / layout.yunit));
    const int middle = 24 + 20 * row + 8 - view->verticalScrollBar()->value();
    if (middle == view->viewport()->height() / 2)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "row " << row << " is " << middle << " from the top of a "
           << view->viewport()->height() << " pixels high view";
}

TEST_F(MainWindowTest, ChartsOpenAndChangeCommodityCentredOnTheCurrentPrice)
{
    constexpr int kNzd = 11;
    session.catalogue[kGold].yunit[kDay] = "0.50"; // 70 levels, taller than the view
    session.catalogue[kGold].lastPrice = "2410.500";
    FillSeries(session.barStore.Series(kNzd, kDay), 100, 0.6, 0.001);
    session.catalogue[kNzd].yunit[kDay] = "0.0005"; // no quote: the newest close

    COrbaltView* view = openChart(kGold, kDay);
    QScrollBar* scroll = view->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);
    EXPECT_GT(scroll->value(), 0);
    EXPECT_TRUE(CentredOn(view, 2410.5));

    // The marker comes after the chart's own drawing, which stays as it is.
    const DrawList& drawing = view->lastDrawing();
    const DrawList original = EngineDrawing(view);
    ASSERT_GT(drawing.ops.size(), original.ops.size());
    ASSERT_TRUE(std::equal(original.ops.begin(), original.ops.end(), drawing.ops.begin()));
    const auto* label = std::get_if<TextOp>(&drawing.ops.back());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text, "现价 2410.500");

    // Stepping the time unit leaves the scrolling alone; End goes back.
    scroll->setValue(0);
    key(Qt::Key_Left);
    EXPECT_EQ(session.barStore.Series(kGold, kDay).cursor, 98);
    EXPECT_EQ(scroll->value(), 0);
    key(Qt::Key_End);
    EXPECT_TRUE(CentredOn(view, 2410.5));

    scroll->setValue(0);
    key(Qt::Key_Up);
    ASSERT_EQ(view->document()->kind, kNzd);
    EXPECT_TRUE(CentredOn(view, session.barStore.Series(kNzd, kDay).bars[99].close));
    EXPECT_GT(scroll->value(), 0);

    // A new quote moves the marker at the next refresh.
    session.catalogue[kNzd].lastPrice = "0.61200";
    frame->refreshViews();
    QCoreApplication::processEvents();
    EXPECT_EQ(std::get<TextOp>(view->lastDrawing().ops.back()).text, "现价 0.61200");
}

TEST_F(MainWindowTest, PointerShowsTheLevelsPriceAndTheMarksBar)
{
    COrbaltView* view = openChart(kGold, kDay);
    view->verticalScrollBar()->setValue(0);
    paint(view);
    const ValueChartState& chart = view->chartState();
    int row = 0;
    while (row < chart.layout.rows - 2 && chart.grid.at(row, 1).empty())
        ++row;
    ASSERT_LT(24 + 20 * row + 16, view->viewport()->height());
    const QPoint onMark(76 + 10, 24 + 20 * row + 8);

    movePointer(view, onMark);
    // The level's price as its label shows it.
    EXPECT_EQ(frame->statusBar()->currentMessage(),
              QStringLiteral("价位 ") + QString::fromStdString(chart.grid.at(row, 0).text));

    askForTip(view, onMark);
    const TpoCell& mark = chart.grid.at(row, 1);
    const BarRecord& bar = session.barStore.Series(kGold, kDay).bars[mark.sequence];
    EXPECT_TRUE(QToolTip::text().startsWith(QString::fromStdString(bar.time)))
        << QToolTip::text().toStdString();
    EXPECT_TRUE(
        QToolTip::text().contains(bar.isUp() ? QStringLiteral("阳线") : QStringLiteral("阴线")));

    // Off the marks no tip; leaving the view clears the status bar.
    askForTip(view, QPoint(4, 24 + 20 * row + 8));
    EXPECT_TRUE(QTest::qWaitFor([] { return !QToolTip::isVisible(); }));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view->viewport(), &leave);
    EXPECT_TRUE(frame->statusBar()->currentMessage().isEmpty());
}

TEST_F(MainWindowTest, QuoteBoardIgnoresNavigationAndOnlySavesItsPicture)
{
    COrbaltView* chart = openChart(kEuro, kDay);
    frame->OnCommand(ID_SHOW_QUOTES);
    COrbaltView* board = activeView();
    ASSERT_NE(board, chart);
    EXPECT_EQ(frame->activeChartView(), nullptr);
    const int cursor = session.barStore.Series(kEuro, kDay).cursor;
    for (int id :
         {ID_PREV_TIME_UNIT, ID_CYCLE_PERIOD, ID_NEXT_COMMODITY, ID_PERIOD_WEEK, ID_CURRENT_PRICE})
        frame->OnCommand(id);
    key(Qt::Key_Left);
    EXPECT_EQ(board->document()->kind, kQuoteBoardKind);
    EXPECT_EQ(board->document()->period, 0);
    EXPECT_EQ(chart->document()->period, kDay);
    EXPECT_EQ(session.barStore.Series(kEuro, kDay).cursor, cursor);

    // Nor does it print or carry the profile layer; it is saved as the picture on the screen.
    std::unique_ptr<QMenu> boardMenu(board->makeContextMenu(nullptr));
    EXPECT_EQ(boardMenu->findChild<QAction*>(QStringLiteral("print")), nullptr);
    EXPECT_EQ(boardMenu->findChild<QAction*>(QStringLiteral("profileLayer")), nullptr);
    EXPECT_EQ(board->renderImage().size(), board->viewport()->size());
    EXPECT_EQ(QFileInfo(board->proposedImagePath()).fileName(),
              QStringLiteral("行情-") + QDate::currentDate().toString(Qt::ISODate) +
                  QStringLiteral(".png"));
}

// A refresh retitles the windows in the back too, with the shared cursor's time and the new quote.
TEST_F(MainWindowTest, WindowsOnTheSameSeriesShareTheCursor)
{
    COrbaltView* first = openChart(kEuro, kDay);
    COrbaltView* sameSeries = openChart(kEuro, kDay);
    openChart(kEuro, kHalfHour);
    bringToFront(first);
    key(Qt::Key_Left);
    key(Qt::Key_Left);
    const std::string before = TitleOf(sameSeries);
    session.catalogue[kEuro].lastPrice = "1.08510";
    frame->refreshViews();
    EXPECT_EQ(session.barStore.Series(kEuro, kDay).cursor, 97);
    EXPECT_EQ(session.barStore.Series(kEuro, kHalfHour).cursor, 199);
    EXPECT_NE(TitleOf(sameSeries), before);
    EXPECT_NE(TitleOf(sameSeries).find(session.barStore.Series(kEuro, kDay).bars[97].time),
              std::string::npos);
    EXPECT_NE(TitleOf(sameSeries).find(" 1.08510价值图"), std::string::npos);
}

TEST_F(MainWindowTest, NewWindowSharesTheDocumentAndTheLastCloseEndsIt)
{
    COrbaltView* view = openChart(kGold, kDay);
    COrbaltDoc* doc = view->document();
    frame->OnCommand(ID_WINDOW_NEW);
    ASSERT_EQ(doc->views().size(), 2u);
    CDocTemplate* charts = app->templates()[0];
    const auto documentsBefore = charts->documents().size();

    activeView()->parentWidget()->close();
    QCoreApplication::processEvents();
    EXPECT_EQ(charts->documents().size(), documentsBefore);
    view->parentWidget()->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(charts->documents().size(), documentsBefore - 1);
}

TEST_F(MainWindowTest, ChartViewDrawsTheEngineResultAndReportsFailuresOnce)
{
    COrbaltView* view = openChart(kGold, kDay);
    const ValueChartState& chart = view->chartState();
    ASSERT_GT(chart.layout.rows, 0);
    const DrawList& drawing = view->lastDrawing();
    ASSERT_TRUE(drawing.page.has_value());
    EXPECT_EQ(drawing.page->height, 20 * (chart.layout.rows + 1));
    int marks = 0;
    for (const DrawOp& op : drawing.ops) {
        const auto* text = std::get_if<TextOp>(&op);
        if (text && text->x >= 76 && text->colour != kCurrentPriceColour)
            ++marks;
    }
    EXPECT_EQ(marks, chart.layout.upCount + chart.layout.downCount);

    // A commodity without data: the data message, shown once however often it repaints.
    key(Qt::Key_Up); // gold to NZDUSD, which has no bars
    paint(view);
    paint(view);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0], "数据无法达到分析要求,请在数据管理中同步!");
    EXPECT_TRUE(view->lastDrawing().ops.empty());
    // The title keeps the old commodity until the refresh retitles it.
    EXPECT_EQ(TitleOf(view).rfind("LLGUSD-", 0), 0u);
    session.catalogue[11].lastPrice = "0.61230";
    frame->refreshViews();
    EXPECT_EQ(TitleOf(view), QStringLiteral("NZDUSD-外汇纽元-日线  0.61230价值图 U:%1-D:%2")
                                 .arg(chart.layout.upCount, 3, 10, QLatin1Char('0'))
                                 .arg(chart.layout.downCount, 3, 10, QLatin1Char('0'))
                                 .toStdString());

    view->document()->period = 7;
    paint(view);
    EXPECT_EQ(prompts.messages.back(), "商品参数异常");
}

// Copy, save and print reach the same drawing as the screen.
TEST_F(MainWindowTest, ViewMenuExportsWhatTheViewDraws)
{
    COrbaltView* chart = openChart(kGold, kDay);
    std::unique_ptr<QMenu> menu(chart->makeContextMenu(nullptr));
    QStringList names;
    for (QAction* action : menu->actions())
        if (!action->isSeparator())
            names << action->objectName();
    EXPECT_EQ(names, QStringList({QStringLiteral("copyImage"), QStringLiteral("saveImage"),
                                  QStringLiteral("profileLayer"), QStringLiteral("print"),
                                  QStringLiteral("printPreview")}));

    const PageSize page = *chart->lastDrawing().page;
    menu->findChild<QAction*>(QStringLiteral("copyImage"))->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(page.width, page.height));

    const velmora::test::TempDir dir;
    std::string error;
    const QString png = QString::fromStdString((dir / "c.png").string());
    ASSERT_TRUE(chart->exportImage(png, ImageFormat::Png, &error)) << error;
    EXPECT_EQ(QImage(png).size(), QSize(page.width, page.height));
    const QString svg = QString::fromStdString((dir / "c.svg").string());
    ASSERT_TRUE(chart->exportImage(svg, ImageFormat::Svg, &error)) << error;
    EXPECT_GT(std::filesystem::file_size((dir / "c.svg")), 1000u);
    EXPECT_FALSE(
        chart->exportImage(QStringLiteral("/nonexistent/c.png"), ImageFormat::Png, &error));

    // The save dialog proposes the chart's code, period and the day of the bar at the cursor.
    const BarSeries& series = session.barStore.Series(kGold, kDay);
    const QString day = QString::fromStdString(
                            series.bars[static_cast<std::size_t>(series.cursor)].time.substr(0, 10))
                            .replace(QLatin1Char('.'), QLatin1Char('-'));
    EXPECT_EQ(chart->proposedImagePath(),
              QDir::home().filePath(QStringLiteral("LLGUSD-日线-") + day + QStringLiteral(".png")));
}

// The layer is off at first: every chart draws exactly its own drawing and the current price.
// The toolbar button or any chart's menu turns it on for every chart window, with the same
// drawing on the screen and in an export; the choice outlives the program.
TEST_F(MainWindowTest, ProfileLayerOnEveryChartOnceTurnedOn)
{
    COrbaltView* gold = openChart(kGold, kDay);
    COrbaltView* euro = openChart(kEuro, kDay);
    QAction* button = frame->action(ID_PROFILE_LAYER);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isCheckable());
    EXPECT_FALSE(button->isChecked());

    const auto withMarker = [this](const COrbaltView* view) {
        DrawList drawing = EngineDrawing(view);
        if (const auto price =
                CurrentPriceOf(session.catalogue[view->document()->kind],
                               session.barStore.Series(view->document()->kind, kDay)))
            AddCurrentPriceMarker(drawing, view->chartState().layout, *price);
        return drawing;
    };
    for (COrbaltView* view : {gold, euro}) {
        bringToFront(view);
        EXPECT_FALSE(view->drawnProfile());
        const DrawList expected = withMarker(view);
        ASSERT_EQ(view->lastDrawing().ops.size(), expected.ops.size());
        ASSERT_TRUE(view->lastDrawing().ops == expected.ops);
    }

    // On from the chart's menu: the button follows and both windows draw the layer.
    std::unique_ptr<QMenu> menu(gold->makeContextMenu(nullptr));
    QAction* item = menu->findChild<QAction*>(QStringLiteral("profileLayer"));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QStringLiteral("价值区"));
    EXPECT_FALSE(item->isChecked());
    item->trigger();
    EXPECT_TRUE(button->isChecked());
    for (COrbaltView* view : {gold, euro}) {
        bringToFront(view);
        const auto& profile = view->drawnProfile();
        ASSERT_TRUE(profile);
        DrawList expected = EngineDrawing(view);
        AddProfileLayer(expected, view->chartState().layout, *profile);
        ASSERT_GT(view->lastDrawing().ops.size(), expected.ops.size());
        ASSERT_TRUE(
            std::equal(expected.ops.begin(), expected.ops.end(), view->lastDrawing().ops.begin()));
    }
    std::unique_ptr<QMenu> again(euro->makeContextMenu(nullptr));
    EXPECT_TRUE(again->findChild<QAction*>(QStringLiteral("profileLayer"))->isChecked());

    // An export carries it; the pointer names the point of control with its price.
    const QImage image = gold->renderImage();
    const int poc = gold->drawnProfile()->poc;
    EXPECT_EQ(image.pixel(80, 22 + 20 * poc), qRgb(255, 236, 160));
    bringToFront(gold);
    gold->verticalScrollBar()->setValue(20 * poc);
    paint(gold);
    const QPoint onPoc(600, 24 + 20 * poc + 8 - gold->verticalScrollBar()->value());
    movePointer(gold, onPoc);
    EXPECT_TRUE(frame->statusBar()->currentMessage().startsWith(QStringLiteral("控制点 POC")))
        << frame->statusBar()->currentMessage().toStdString();
    askForTip(gold, onPoc);
    EXPECT_TRUE(QToolTip::text().contains(
        QString::fromStdString(LevelPriceText(gold->chartState().layout, poc))))
        << QToolTip::text().toStdString();

    // Kept in the settings store; the button turns it off again.
    EXPECT_TRUE(ReadProfileLayerShown());
    frame->OnCommand(ID_PROFILE_LAYER);
    EXPECT_FALSE(button->isChecked());
    EXPECT_FALSE(ReadProfileLayerShown());
    bringToFront(euro);
    EXPECT_FALSE(euro->drawnProfile());
    EXPECT_EQ(euro->lastDrawing().ops.size(), withMarker(euro).ops.size());
}

TEST_F(MainWindowTest, SuggestionEnlargesTheUnitAndRepaints)
{
    session.catalogue[kGold].yunit[kDay] = "0.01";
    COrbaltView* view = openChart(kGold, kDay);
    QTest::qWait(20); // the repaint the suggestion asked for
    paint(view);
    EXPECT_TRUE(session.yunitOverride.active);
    EXPECT_EQ(TitleOf(view).find("参数非法"), std::string::npos);
    EXPECT_GT(view->chartState().layout.yunit, 0.01);
    EXPECT_FALSE(view->lastDrawing().ops.empty());
}

TEST_F(MainWindowTest, OrderlyExitAsksAndLogsOutOnlyALoggedInUser)
{
    int logouts = 0;
    app->hooks().logout = [&] { ++logouts; };
    prompts.answers = {false};
    frame->OnCommand(ID_SYSTEM_EXIT);
    ASSERT_EQ(prompts.questions.size(), 1u);
    EXPECT_EQ(prompts.questions[0], "您确认要退出Velmora系统?");
    EXPECT_EQ(logouts, 0);

    prompts.answers = {true};
    frame->OnCommand(ID_SYSTEM_EXIT);
    EXPECT_EQ(logouts, 0);
    session.CurrentUser.loggedIn = true;
    prompts.answers = {true};
    frame->OnCommand(ID_SYSTEM_EXIT);
    EXPECT_EQ(logouts, 1);
    // The quit requests are queued for an event loop that is not running here.
    EXPECT_TRUE(frame->isVisible());
}

TEST_F(MainWindowTest, WebsiteAndLaterCommandsUseTheirHooks)
{
    QString opened;
    int syncs = 0;
    app->hooks().openUrl = [&](const QString& url) { opened = url; };
    app->hooks().syncAll = [&] { ++syncs; };
    frame->OnCommand(ID_WEBSITE);
    EXPECT_TRUE(opened.startsWith(QStringLiteral("http")));
    frame->OnCommand(ID_SYNC_DATA);
    EXPECT_EQ(syncs, 1);
    // Commands whose parts are not plugged in do nothing visible.
    for (int id : {ID_DATA_MANAGEMENT, ID_USER_CENTER, ID_ONLINE_HELP})
        frame->OnCommand(id);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(frame->mdiArea()->subWindowList().size(), 1);
}

TEST_F(MainWindowTest, PrintingRunsTheChartPassOnThePrinter)
{
    COrbaltView* view = openChart(kGold, kDay);
    velmora::test::TempDir dir;
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString((dir / "chart.pdf").string()));
    view->printTo(printer);
    EXPECT_GT(std::filesystem::file_size(dir / "chart.pdf"), 2000u);
    EXPECT_TRUE(prompts.messages.empty());

    // A chart taller than a sheet goes on over further sheets, fitted to the paper's width.
    session.catalogue[kGold].yunit[kDay] = "0.2";
    paint(view);
    const DrawList& drawing = view->lastDrawing();
    ASSERT_TRUE(drawing.page);
    const QSize sheet = printer.pageLayout().paintRectPixels(printer.resolution()).size();
    const PrintPlan plan = PlanPrint(drawing, sheet, 1.0);
    EXPECT_GE(plan.sheets, 2);
    EXPECT_LE(UsedWidth(drawing) * plan.scale, sheet.width());
    EXPECT_EQ(plan.sheetHeight % 20, 0);
    EXPECT_GE(plan.sheets * plan.sheetHeight, drawing.page->height);
    printer.setOutputFileName(QString::fromStdString((dir / "tall.pdf").string()));
    view->printTo(printer);
    const std::string pdf = velmora::test::ReadWholeFile(dir / "tall.pdf");
    std::size_t pages = 0;
    for (std::size_t at = pdf.find("/Type /Page\n"); at != std::string::npos;
         at = pdf.find("/Type /Page\n", at + 1))
        ++pages;
    EXPECT_EQ(pages, static_cast<std::size_t>(plan.sheets));
}

// With VELMORA_SCREENSHOTS=DIR the main window and dialogs are saved as PNG files there.
TEST_F(MainWindowTest, Screenshots)
{
    const char* dir = std::getenv("VELMORA_SCREENSHOTS");
    if (!dir)
        GTEST_SKIP() << "set VELMORA_SCREENSHOTS to a folder to save screenshots";
    frame->resize(1280, 800);
    for (int i = 0; i < kCommodityCount; ++i) {
        CommodityEntry& entry = session.catalogue[i];
        const double price = i == kGold ? 2401.5 : 1.0 + i * 0.1;
        const auto format = [decimals = price >= 10 ? 3 : 5](double value) {
            return QString::number(value, 'f', decimals).toStdString();
        };
        entry.lastPrice = format(price);
        entry.todayOpen = format(price * (i % 2 ? 1.002 : 0.998));
        entry.prevClose = format(price * 0.999);
        entry.high = format(price * 1.004);
        entry.low = format(price * 0.995);
        entry.bid = format(price);
        entry.ask = format(price * 1.0002);
        entry.quoteTime = "2026-12-07 10:15:30";
    }
    const auto save = [dir](QWidget* widget, const char* name) {
        widget->show();
        QCoreApplication::processEvents();
        widget->grab().save(QDir(QString::fromUtf8(dir)).filePath(QString::fromUtf8(name)));
    };
    save(frame, "main-quote-board.png");
    openChart(kGold, kDay);
    save(frame, "main-value-chart.png");
    CAboutDlg about(frame);
    save(&about, "about.png");
    CPasswordDlg password(frame);
    save(&password, "access-code.png");
    CAnalysisSelectDlg select(session.catalogue, frame);
    save(&select, "analysis-dialog.png");
}
