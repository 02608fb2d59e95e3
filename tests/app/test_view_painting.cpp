// The real views painted inside the main window: tiled, cascaded, maximised, scrolled, and at
// the pixel ratios of scaled desktops. Every text that lies in a visible part of a view must
// leave ink there, whatever the window's offset in the frame and the device's pixel ratio.

#include "analysis/AnalysisParams.h"
#include "analysis/DrawList.h"
#include "app/AppState.h"
#include "app/Commands.h"
#include "app/MainFrame.h"
#include "app/OrbaltApp.h"
#include "app/OrbaltDoc.h"
#include "app/OrbaltView.h"
#include "app/framework/ChildFrame.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "tests/app/AppFixture.h"

#include <QApplication>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QTest>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace velmora;

namespace {

// A chart of a few hundred rows: taller than any window.
void FillTallSeries(BarSeries& series)
{
    const int count = 120;
    for (int i = 0; i < count; ++i) {
        BarRecord& bar = series.bars[i];
        const double mid = 2300.0 + 1.5 * i + 25.0 * ((i * 7) % 5);
        bar.open = mid;
        bar.close = mid + (i % 2 ? -3.0 : 4.0);
        bar.high = mid + 12.0;
        bar.low = mid - 10.0;
        char time[32];
        std::snprintf(time, sizeof time, "2026.%02d.%02d 00:00:00", 1 + i % 12, 1 + i % 28);
        bar.time = time;
    }
    series.count = count;
    series.cursor = count - 1;
}

void FillQuotes(Catalogue& catalogue)
{
    for (int i = 0; i < kCommodityCount; ++i) {
        CommodityEntry& entry = catalogue[i];
        entry.quoteTime = "2026-12-08 10:15:30";
        for (std::string* price : {&entry.lastPrice, &entry.todayOpen, &entry.prevClose,
                                   &entry.high, &entry.low, &entry.bid, &entry.ask})
            *price = i % 2 ? "1.08123" : "2401.500";
    }
}

class ViewPaintingTest : public velmora::test::AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        if (HasFatalFailure())
            return;
        session.catalogue[12].yunit[kDay] = "1";
        frame->showNormal();
        frame->resize(1100, 760);
        FillQuotes(session.catalogue);
        FillTallSeries(session.barStore.Series(12, kDay));
        FillTallSeries(session.barStore.Series(12, kWeek));
        board = activeView();
        charts.push_back(openView(12, kDay));
        charts.push_back(openView(12, kWeek));
    }

    // The texts of `view`'s visible part that left no ink in the frame painted at `ratio`.
    std::vector<std::string> blankTexts(COrbaltView* view, qreal ratio)
    {
        QImage image((QSizeF(frame->size()) * ratio).toSize(), QImage::Format_RGB32);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::magenta);
        frame->render(&image);

        QWidget* viewport = view->viewport();
        const QRegion visible = viewport->visibleRegion();
        const QPoint origin = viewport->mapTo(frame, QPoint(0, 0));
        const QPoint scroll = view->scrollPosition();
        std::vector<std::string> blank;
        int checked = 0;
        for (const DrawOp& op : view->lastDrawing().ops) {
            const auto* text = std::get_if<TextOp>(&op);
            if (!text || text->text.empty())
                continue;
            // The first glyph's part of the cell.
            const QRect cell(QPoint(text->x, text->y) - scroll, QSize(10, text->font.height));
            if (!visible.boundingRect().contains(cell) || visible.intersected(cell) != cell)
                continue;
            ++checked;
            const QRect pixels(((QPointF(cell.topLeft() + origin)) * ratio).toPoint(),
                               (QSizeF(cell.size()) * ratio).toSize());
            const QRgb ground = qRgb(text->background.r, text->background.g, text->background.b);
            bool ink = false;
            for (int y = pixels.top(); y <= pixels.bottom() && !ink; ++y) {
                for (int x = pixels.left(); x <= pixels.right() && !ink; ++x)
                    ink = image.valid(x, y) && image.pixel(x, y) != ground;
            }
            if (!ink)
                blank.push_back(text->text + "@" + std::to_string(text->x) + "," +
                                std::to_string(text->y));
        }
        // A window almost hidden under another shows no whole text; the others do.
        bool roomy = false;
        for (const QRect& part : visible)
            roomy = roomy || (part.width() > 150 && part.height() > 100);
        if (roomy) {
            EXPECT_GT(checked, 0) << "no text visible in " << view->document()->GetTitle();
        }
        return blank;
    }

    void expectWhole(const char* layout)
    {
        for (const qreal ratio : {1.0, 1.25, 1.5, 2.0}) {
            for (COrbaltView* view : std::vector<COrbaltView*>{board, charts[0], charts[1]}) {
                if (view->viewport()->visibleRegion().isEmpty())
                    continue;
                const std::vector<std::string> blank = blankTexts(view, ratio);
                EXPECT_TRUE(blank.empty())
                    << layout << " at " << ratio << ": " << blank.size() << " blank, first "
                    << blank.front() << " in " << view->document()->GetTitle();
            }
        }
    }

    COrbaltView* board = nullptr;
    std::vector<COrbaltView*> charts;
};

} // namespace

TEST_F(ViewPaintingTest, EveryVisibleTextHasInkInEveryLayoutAndRatio)
{
    frame->OnCommand(ID_WINDOW_TILE);
    QCoreApplication::processEvents();
    expectWhole("tiled");

    // Scrolled to the middle and to the end of the page.
    for (COrbaltView* chart : charts) {
        QScrollBar* bar = chart->verticalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        bar->setValue(bar->maximum() / 2);
    }
    expectWhole("tiled, scrolled to the middle");
    for (COrbaltView* chart : charts)
        chart->verticalScrollBar()->setValue(chart->verticalScrollBar()->maximum());
    expectWhole("tiled, scrolled to the end");

    frame->OnCommand(ID_WINDOW_CASCADE);
    QCoreApplication::processEvents();
    // Cascaded windows stay large enough to read, not shrunk to their size hints.
    const QSize area = frame->mdiArea()->viewport()->size();
    for (QMdiSubWindow* child : frame->mdiArea()->subWindowList()) {
        EXPECT_GE(child->width(), area.width() * 2 / 3);
        EXPECT_GE(child->height(), area.height() * 2 / 3);
        EXPECT_TRUE(QRect(QPoint(0, 0), area).contains(child->geometry()));
    }
    expectWhole("cascaded");

    frame->mdiArea()->activeSubWindow()->showMaximized();
    QCoreApplication::processEvents();
    expectWhole("maximised");
}

TEST_F(ViewPaintingTest, ScrolledToTheEndTheLastRowIsInView)
{
    COrbaltView* chart = charts[1];
    chart->parentWidget()->showMaximized();
    QCoreApplication::processEvents();
    chart->verticalScrollBar()->setValue(chart->verticalScrollBar()->maximum());
    chart->viewport()->repaint();
    const int pageBottom = chart->scrollSizes().height();
    ASSERT_GT(pageBottom, chart->viewport()->height());
    EXPECT_EQ(chart->scrollPosition().y() + chart->viewport()->height(), pageBottom);
}
