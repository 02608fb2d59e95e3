#include "app/OrbaltView.h"

#include "analysis/AnalysisParams.h"
#include "analysis/ChartAids.h"
#include "analysis/DrawListPainter.h"
#include "analysis/QuoteBoardDrawing.h"
#include "analysis/ValueChartDrawing.h"
#include "app/ImageName.h"
#include "app/LiveData.h"
#include "app/OrbaltDoc.h"
#include "app/ProfileLayer.h"
#include "app/UserPrompts.h"
#include "market/BarStore.h"
#include "market/Catalogue.h"
#include "platform/Failure.h"
#include "session/Session.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QScreen>
#include <QScrollBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolTip>
#include <filesystem>

namespace velmora {

namespace {

constexpr std::string_view kDocumentInvalid = "商品参数异常";

int ScreenWidth()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().width() : 1024;
}

} // namespace

COrbaltView::COrbaltView(COrbaltDoc* document, UserPrompts& prompts,
                         ProfileLayerSwitch& profileLayer)
    : CView(document), m_prompts(prompts), m_profileLayer(profileLayer),
      m_chart(std::make_unique<ValueChartState>())
{
    viewport()->setAutoFillBackground(false);
    // The level under the pointer goes to the status bar.
    viewport()->setMouseTracking(true);
    connect(&m_profileLayer, &ProfileLayerSwitch::shownChanged, this, [this] { Invalidate(); });
}

COrbaltView::~COrbaltView() = default;

COrbaltDoc* COrbaltView::document() const { return static_cast<COrbaltDoc*>(GetDocument()); }

Session& COrbaltView::session() const { return document()->session(); }

void COrbaltView::nextTimeUnit()
{
    // The series belongs to the store; every view of it moves with the cursor.
    auto* series = const_cast<BarSeries*>(m_chart->series);
    if (series && series->cursor < series->count - 1)
        ++series->cursor;
}

void COrbaltView::prevTimeUnit()
{
    auto* series = const_cast<BarSeries*>(m_chart->series);
    const int period = document()->period;
    if (series && IsValidPeriod(period) &&
        series->cursor > document()->session().analysisParams.tpoBars[period])
        --series->cursor;
}

void COrbaltView::Retitle()
{
    const COrbaltDoc* doc = document();
    if (!IsValidCommodity(doc->kind))
        return;
    if (auto title = RetitleValueChart(session().catalogue[doc->kind], doc->period, *m_chart))
        document()->SetTitle(*title);
    if (drawnChart() && IsValidPeriod(doc->period)) {
        const auto price = CurrentPriceOf(session().catalogue[doc->kind],
                                          session().barStore.Series(doc->kind, doc->period));
        if ((price ? price->text : std::string()) != m_markedPrice)
            Invalidate();
    }
}

void COrbaltView::centreOnCurrentPrice()
{
    m_centredFor.reset();
    Invalidate();
}

const ValueChartLayout* COrbaltView::drawnChart() const
{
    return m_lastDrawing.page && !isQuoteBoard() ? &m_chart->layout : nullptr;
}

bool COrbaltView::centreIfDue()
{
    const COrbaltDoc* doc = document();
    const std::pair<int, int> shown{doc->kind, doc->period};
    if (!drawnChart() || m_centredFor == shown)
        return false;
    m_centredFor = shown;
    const auto price = CurrentPriceOf(session().catalogue[doc->kind],
                                      session().barStore.Series(doc->kind, doc->period));
    if (!price)
        return false;
    const int before = verticalScrollBar()->value();
    verticalScrollBar()->setValue(
        CentredScrollTop(m_chart->layout, price->value, viewport()->height()));
    return verticalScrollBar()->value() != before;
}

void COrbaltView::reportOnce(std::string_view message)
{
    // A box that covers the view makes it repaint; the same failure in the same state is
    // shown once, not on every repaint.
    const COrbaltDoc* doc = document();
    std::string key(message);
    key += '|' + std::to_string(doc->kind) + '|' + std::to_string(doc->period);
    if (IsValidCommodity(doc->kind) && IsValidPeriod(doc->period)) {
        const BarSeries& series = session().barStore.Series(doc->kind, doc->period);
        key += '|' + std::to_string(series.count) + '|' + std::to_string(series.cursor) + '|' +
               session().catalogue[doc->kind].yunit[doc->period];
    }
    if (key == m_lastReported)
        return;
    m_lastReported = key;
    // Not from inside the paint: the box runs its own event loop.
    QTimer::singleShot(0, this,
                       [this, text = std::string(message)] { m_prompts.showMessage(text); });
}

DrawList COrbaltView::drawPass(QSize clientSize)
{
    COrbaltDoc* doc = document();
    if (doc->kind < 0 || doc->kind > kQuoteBoardKind || !IsValidPeriod(doc->period)) {
        reportOnce(kDocumentInvalid);
        return {};
    }
    if (doc->kind == kQuoteBoardKind) {
        SetScrollSizes({0, 0});
        return DrawQuoteBoard(session().catalogue, clientSize.width(), clientSize.height(),
                              CurrentBoardMarks(doc->session().quoteFeed));
    }

    const ValueChartRequest request{doc->kind, doc->period, &session().catalogue[doc->kind],
                                    &session().barStore.Series(doc->kind, doc->period),
                                    &session().analysisParams};
    const ValueChartPass pass =
        RunValueChartPass(request, doc->GetTitle(), *m_chart, session().yunitOverride);
    // The pass that follows a suggestion comes with a repaint of its own.
    if (m_suggestionRepaints.followUp(pass) && !m_repaintQueued) {
        m_repaintQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_repaintQueued = false;
            Invalidate();
        });
    }
    switch (pass.outcome) {
    case ChartOutcome::Drawn: {
        m_lastReported.clear();
        DrawList drawing = DrawValueChart(m_chart->layout, m_chart->grid, ScreenWidth());
        m_profile.reset();
        if (m_profileLayer.shown()) {
            m_profile = ProfileOf(m_chart->layout, m_chart->grid);
            if (m_profile)
                AddProfileLayer(drawing, m_chart->layout, *m_profile);
        }
        // Added after the chart's own ops, which stay exactly as they are.
        const auto price = CurrentPriceOf(*request.entry, *request.series);
        m_markedPrice = price ? price->text : std::string();
        if (price)
            AddCurrentPriceMarker(drawing, m_chart->layout, *price);
        if (drawing.page)
            SetScrollSizes(QSize(drawing.page->width, drawing.page->height));
        doc->SetTitle(pass.title);
        return drawing;
    }
    case ChartOutcome::Message:
        reportOnce(pass.message);
        return {};
    case ChartOutcome::Suggestion:
        doc->SetTitle(pass.title);
        return {};
    }
    return {};
}

void COrbaltView::OnDraw(QPainter& painter)
{
    const QPoint placed = scrollPosition();
    m_lastDrawing = drawPass(viewport()->size());
    // The painter and the exposed part were placed for the position before the pass
    // scrolled.
    QRect exposed = exposedRect();
    if (centreIfDue()) {
        painter.translate(placed - scrollPosition());
        exposed.translate(scrollPosition() - placed);
    }
    PaintDrawList(painter, m_lastDrawing, exposed);
}

void COrbaltView::printTo(QPrinter& printer)
{
    QPainter painter(&printer);
    if (!painter.isActive())
        return;
    const QRect sheet = printer.pageLayout().paintRectPixels(printer.resolution());
    const DrawList drawing = drawPass(sheet.size());
    // A chart's page is fitted to the paper's width, no larger than on the screen, and goes on
    // over as many sheets as its rows need; the board fills the sheet.
    const double screenSize = printer.resolution() / static_cast<double>(logicalDpiY());
    PrintDrawList(painter, printer, drawing, sheet.size(), screenSize);
}

void COrbaltView::OnFilePrint()
{
    QPrinter printer;
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() == QDialog::Accepted)
        printTo(printer);
}

void COrbaltView::OnFilePrintPreview()
{
    QPrintPreviewDialog preview(this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* printer) { printTo(*printer); });
    preview.exec();
}

bool COrbaltView::isQuoteBoard() const { return document()->kind == kQuoteBoardKind; }

DrawList COrbaltView::exportPass(QSize& size)
{
    DrawList drawing = drawPass(viewport()->size());
    size = drawing.page ? QSize(drawing.page->width, drawing.page->height) : viewport()->size();
    return drawing;
}

QImage COrbaltView::renderImage()
{
    QSize size;
    const DrawList drawing = exportPass(size);
    if (drawing.ops.empty())
        return {};
    return RenderDrawList(drawing, size.width(), size.height());
}

void COrbaltView::copyImage()
{
    const QImage image = renderImage();
    if (!image.isNull())
        QGuiApplication::clipboard()->setImage(image);
}

bool COrbaltView::exportImage(const QString& path, ImageFormat format, std::string* error)
{
    QSize size;
    const DrawList drawing = exportPass(size);
    if (drawing.ops.empty())
        return Fail(error, "nothing is drawn");
    return WriteDrawListImage(drawing, size.width(), size.height(), path, format, error);
}

QString COrbaltView::proposedImagePath() const
{
    const COrbaltDoc* doc = document();
    std::string name;
    if (isQuoteBoard()) {
        const QDate today = QDate::currentDate();
        name = QuoteBoardImageName(today.year(), today.month(), today.day());
    } else if (IsValidCommodity(doc->kind)) {
        std::string_view barTime;
        if (IsValidPeriod(doc->period)) {
            const BarSeries& series = session().barStore.Series(doc->kind, doc->period);
            if (series.hasBarAt(series.cursor))
                barTime = series.bars[static_cast<std::size_t>(series.cursor)].time;
        }
        name = ChartImageName(session().catalogue[doc->kind].code, doc->period, barTime);
    } else {
        name = ChartImageName({}, -1, {});
    }
    const std::filesystem::path folder = ImageSaveFolder(QDir::homePath().toStdString());
    return QDir(QString::fromStdString(folder.string())).filePath(QString::fromStdString(name));
}

void COrbaltView::saveImage()
{
    const QString png = QStringLiteral("PNG 图片 (*.png)");
    const QString svg = QStringLiteral("SVG 矢量图 (*.svg)");
    QString filter = png;
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("另存为图片"), proposedImagePath(),
                                     png + QStringLiteral(";;") + svg, &filter);
    if (path.isEmpty())
        return;
    // The name decides; a name without a known suffix gets the chosen filter's.
    if (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) &&
        !path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive))
        path += filter == svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    std::string error;
    if (!exportImage(path, ImageFormatOf(path), &error)) {
        m_prompts.showMessage("图片保存失败：" + path.toStdString());
        return;
    }
    RememberImageSaveFolder(QFileInfo(path).absolutePath().toStdString());
}

QMenu* COrbaltView::makeContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("viewMenu"));
    const bool board = isQuoteBoard();
    auto add = [menu](const QString& text, const char* name, auto handler) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        QObject::connect(action, &QAction::triggered, menu, handler);
    };
    add(board ? QStringLiteral("复制") : QStringLiteral("复制图表"), "copyImage",
        [this] { copyImage(); });
    add(QStringLiteral("另存为图片..."), "saveImage", [this] { saveImage(); });
    if (!board) {
        menu->addSeparator();
        add(QStringLiteral("价值区"), "profileLayer", [this] { m_profileLayer.toggle(); });
        QAction* layer = menu->actions().back();
        layer->setCheckable(true);
        layer->setChecked(m_profileLayer.shown());
        menu->addSeparator();
        add(QStringLiteral("打印..."), "print", [this] { OnFilePrint(); });
        add(QStringLiteral("打印预览..."), "printPreview", [this] { OnFilePrintPreview(); });
    }
    return menu;
}

void COrbaltView::showStatus(const std::string& text)
{
    if (text == m_statusShown)
        return;
    m_statusShown = text;
    // Goes up to the main window, which shows it in its status bar.
    QStatusTipEvent tip(QString::fromStdString(text));
    QCoreApplication::sendEvent(this, &tip);
}

void COrbaltView::mouseMoveEvent(QMouseEvent* event)
{
    std::string status;
    if (const ValueChartLayout* layout = drawnChart()) {
        const QPoint page = event->position().toPoint() + scrollPosition();
        const ChartHit hit = HitTestChart(*layout, m_chart->grid, {page.x(), page.y()});
        if (hit.row >= 0) {
            status = profileLevelText(hit.row);
            if (status.empty())
                status = LevelStatusText(*layout, hit.row);
        }
    }
    showStatus(status);
    CView::mouseMoveEvent(event);
}

std::string COrbaltView::profileLevelText(int row) const
{
    const ValueChartLayout* layout = drawnChart();
    return layout && m_profile ? ProfileLevelText(*m_profile, *layout, row) : std::string();
}

bool COrbaltView::showChartToolTip(QHelpEvent* event)
{
    const ValueChartLayout* layout = drawnChart();
    if (!layout || !m_chart->series)
        return false;
    const QPoint page = event->pos() + scrollPosition();
    const ChartHit hit = HitTestChart(*layout, m_chart->grid, {page.x(), page.y()});
    if (hit.row < 0)
        return false;
    // The point of control, VAH and VAL name themselves anywhere on their rows, above the
    // bar of a mark there.
    std::string text = profileLevelText(hit.row);
    const MarkArea band = MarkAreaOf(hit.row, 1);
    QRect area(0, band.top, m_lastDrawing.page->width, band.height);
    if (hit.mark) {
        const auto bar = MarkToolTip(*hit.mark, *m_chart->series);
        if (bar)
            text += (text.empty() ? "" : "\n") + *bar;
        const MarkArea mark = MarkAreaOf(hit.row, hit.column);
        area = QRect(mark.left, mark.top, mark.width, mark.height);
    }
    if (text.empty())
        return false;
    // The tip goes when the pointer leaves the mark or the row.
    QToolTip::showText(event->globalPos(), QString::fromStdString(text), viewport(),
                       area.translated(-scrollPosition()));
    return true;
}

bool COrbaltView::viewportEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip:
        if (!showChartToolTip(static_cast<QHelpEvent*>(event)))
            QToolTip::hideText();
        return true;
    case QEvent::Leave:
        showStatus({});
        break;
    default:
        break;
    }
    return CView::viewportEvent(event);
}

void COrbaltView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = makeContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

} // namespace velmora
