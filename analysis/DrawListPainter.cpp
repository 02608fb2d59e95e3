#include "analysis/DrawListPainter.h"

#include "platform/QtText.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QImage>
#include <QList>
#include <QPaintEngine>
#include <QPainter>
#include <QString>
#include <QTextLayout>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace velmora {

namespace {

QColor ToColor(Rgb rgb) { return QColor(rgb.r, rgb.g, rgb.b); }

// Flat caps: a GDI line leaves out its last pixel, and so does a flat-capped painter line;
// square caps would add one pixel at either end.
QPen ToPen(const Pen& pen)
{
    return QPen(ToColor(pen.colour), pen.width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

// An opaque text as the device shows it: its cell filled and its glyphs drawn on that.
struct Stamp {
    Rgb colour;
    Rgb background;
    QImage image;
};

// A text laid out once in a font: a chart repeats a few dozen labels thousands of times, and
// every repaint of a view draws them again.
struct ShapedText {
    int advance = 0;
    QPointF origin; // of the glyph runs, from the baseline's start
    QList<QGlyphRun> runs;
    bool inkInCell = false; // no glyph pixel outside the cell an opaque text fills
    int inkRatio = 1;       // the pixel ratio inkInCell was found at
    QImage::Format stampFormat = QImage::Format_Invalid;
    int stampRatio = 1;
    std::vector<Stamp> stamps;
};

// A font as the device realises it, with the metrics that place its text.
struct FittedFont {
    Font spec;
    QFont font;
    int ascent = 0;
    int cellHeight = 0;
    std::unordered_map<std::string, ShapedText> texts;
    int dpiX = 0; // of the devices it was fitted for
    int dpiY = 0;
};

// Enough for every label of a few charts; a font that has seen more starts afresh.
constexpr std::size_t kMaxTextsPerFont = 4096;

using FontCache = std::vector<std::unique_ptr<FittedFont>>;

// The fonts and texts of the painting thread, kept while the application lives: fonts must
// not outlive it.
FontCache& ThreadFonts()
{
    thread_local std::unique_ptr<FontCache> fonts;
    if (!fonts) {
        fonts = std::make_unique<FontCache>();
        if (QCoreApplication::instance() != nullptr &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            qAddPostRoutine([] { fonts.reset(); });
    }
    return *fonts;
}

// The chart asks for a Song face whose text cell is its em square and whose Latin letters are
// half an em wide. The faces that stand in for it on Linux have taller line metrics and
// Latin letters of about 0.6 em: fitting their line height into the cell would shrink the
// text by a third, while a full-cell em would make "00A" as wide as its 30-pixel column. An
// em of 13/16 of the cell keeps the labels at their widths. The em box is centred in the
// cell; a CJK em box reaches 0.88 em above the baseline.
constexpr double kEmPerCell = 13.0 / 16.0;
constexpr double kEmAscent = 0.88;

FittedFont Fit(const Font& spec, QPaintDevice*)
{
    QFont font(ToQString(spec.face));
    font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.weight, 100, 900)));
    if (spec.height <= 0)
        return {spec, font, 0, 0, {}, 0, 0}; // nothing to draw
    const int em = std::max(1, static_cast<int>(kEmPerCell * spec.height + 0.5));
    font.setPixelSize(em);
    const int ascent = (spec.height - em) / 2 + static_cast<int>(kEmAscent * em + 0.5);
    return {spec, font, ascent, spec.height, {}, 0, 0};
}

// The first pixel row or column of a wide line across its length: a 2-pixel line at y covers
// y - 1 and y, as a painter's own wide line does.
int Across(int centre, int width) { return centre - width / 2; }

// The one conversion from the top of a text cell to the baseline Qt draws on.
int BaselineY(int top, const FittedFont& font) { return top + font.ascent; }

// The image the painter draws on, when a stamp drawn there shows exactly the pixels the text
// itself would: a plain 32-bit image, a whole pixel ratio (a scaled screen's backing store),
// no other scaling, whole-pixel offsets, no clip of the painter's own, plain source-over.
struct StampTarget {
    QImage::Format format = QImage::Format_Invalid; // Invalid: no stamps
    int ratio = 1;
};

StampTarget StampTargetOf(const QPainter& painter)
{
    QPaintEngine* engine = painter.paintEngine();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster)
        return {};
    const QPaintDevice* target = engine->paintDevice();
    if (target == nullptr || target->devType() != QInternal::Image)
        return {};
    const qreal ratio = target->devicePixelRatio();
    if (ratio != std::floor(ratio) || ratio < 1 || ratio > 4)
        return {};
    const QImage::Format format = static_cast<const QImage*>(target)->format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied)
        return {};
    const QTransform transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxScale || transform.m11() != ratio ||
        transform.m22() != ratio || transform.dx() != std::floor(transform.dx()) ||
        transform.dy() != std::floor(transform.dy()))
        return {};
    if (painter.hasClipping() || painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver)
        return {};
    return {format, static_cast<int>(ratio)};
}

class Executor {
public:
    Executor(QPainter& painter, const std::optional<QRect>& exposed)
        : m_painter(painter), m_fonts(ThreadFonts()), m_stamps(StampTargetOf(painter))
    {
        // What a paint can change, in the list's own coordinates: the part the caller exposes
        // and the painter's clip. Never derived from the device: a widget's device transform
        // also holds its offset in the window and the screen's pixel ratio.
        if (exposed)
            m_reach = *exposed;
        if (painter.hasClipping()) {
            const QRect clip = painter.clipBoundingRect().toAlignedRect();
            m_reach = m_reach ? m_reach->intersected(clip) : clip;
        }
    }

    void operator()(const RectOp& op)
    {
        const int width = op.right - op.left;
        const int height = op.bottom - op.top;
        if (width <= 0 || height <= 0)
            return;
        m_painter.fillRect(op.left, op.top, width, height, ToColor(op.brush));
        // A stroked QRect covers its size plus the pen; one pixel less on each axis keeps the
        // outline on the rectangle's last row and column, where GDI puts it.
        m_painter.setPen(ToPen(op.pen));
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawRect(op.left, op.top, width - 1, height - 1);
    }

    // Level and upright lines, the only ones the drawings make, are filled as bands so that the
    // left-out pixel is the end point whichever way the line runs; a painter line leaves out
    // the end with the larger coordinate instead.
    void operator()(const LineOp& op)
    {
        const Point& a = op.from;
        const Point& b = op.to;
        const int width = std::max(op.pen.width, 1);
        const QColor colour = ToColor(op.pen.colour);
        if (a.y == b.y && a.x != b.x) {
            const int left = a.x < b.x ? a.x : b.x + 1;
            m_painter.fillRect(left, Across(a.y, width), std::abs(b.x - a.x), width, colour);
        } else if (a.x == b.x && a.y != b.y) {
            const int top = a.y < b.y ? a.y : b.y + 1;
            m_painter.fillRect(Across(a.x, width), top, width, std::abs(b.y - a.y), colour);
        } else if (a != b) {
            m_painter.setPen(ToPen(op.pen));
            m_painter.drawLine(a.x, a.y, b.x, b.y);
        }
    }

    void operator()(const TextOp& op)
    {
        if (op.text.empty() || op.font.height <= 0)
            return;
        FittedFont& font = fitted(op.font);
        // A cell's glyphs may reach a little beyond it; a whole cell either way is ample.
        if (m_reach && (op.y + 2 * font.cellHeight <= m_reach->top() ||
                        op.y - font.cellHeight > m_reach->bottom()))
            return;
        ShapedText& shaped = shape(font, op.text);
        const bool inkInCell = this->inkInCell(font, shaped);
        const QRect cell(op.x, op.y, shaped.advance, font.cellHeight);
        if (m_reach && inkInCell && !m_reach->intersects(cell))
            return;
        // Drawing a few glyphs costs far more than copying the pixels they leave.
        if (op.opaque && inkInCell && m_stamps.format != QImage::Format_Invalid &&
            shaped.advance > 0) {
            m_painter.drawImage(op.x, op.y, stamp(font, shaped, op));
            return;
        }
        if (op.opaque)
            m_painter.fillRect(op.x, op.y, shaped.advance, font.cellHeight, ToColor(op.background));
        if (m_textColour != op.colour || !m_textPen) {
            m_painter.setPen(ToColor(op.colour));
            m_textColour = op.colour;
            m_textPen = true;
        }
        const QPointF at = QPointF(op.x, BaselineY(op.y, font)) + shaped.origin;
        for (const QGlyphRun& run : shaped.runs)
            m_painter.drawGlyphRun(at, run);
    }

    // The rectangles set pens of their own.
    void forgetPen() { m_textPen = false; }

private:
    // A chart draws thousands of texts in two fonts; fit each font once per list.
    FittedFont& fitted(const Font& spec)
    {
        if (m_lastFont != nullptr && m_lastFont->spec == spec)
            return *m_lastFont;
        const QPaintDevice* device = m_painter.device();
        const int dpiX = device->logicalDpiX();
        const int dpiY = device->logicalDpiY();
        for (const std::unique_ptr<FittedFont>& font : m_fonts) {
            if (font->spec == spec && font->dpiX == dpiX && font->dpiY == dpiY)
                return *(m_lastFont = font.get());
        }
        auto font = std::make_unique<FittedFont>(Fit(spec, m_painter.device()));
        font->dpiX = dpiX;
        font->dpiY = dpiY;
        m_fonts.push_back(std::move(font));
        return *(m_lastFont = m_fonts.back().get());
    }

    // The advance is the one the metrics give; the glyphs are the ones a drawn text shows.
    ShapedText& shape(FittedFont& font, const std::string& text)
    {
        auto found = font.texts.find(text);
        if (found != font.texts.end())
            return found->second;
        if (font.texts.size() >= kMaxTextsPerFont)
            font.texts.clear();
        const QString qtext = ToQString(text);
        ShapedText shaped;
        shaped.advance = QFontMetrics(font.font, m_painter.device()).horizontalAdvance(qtext);
        QTextLayout layout(qtext, font.font, m_painter.device());
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        shaped.origin = QPointF(0, -line.ascent());
        shaped.runs = layout.glyphRuns();
        shaped.inkInCell = inkInCellAt(font, shaped, 1);
        return font.texts.emplace(text, std::move(shaped)).first->second;
    }

    // Whether the text's glyphs stay in its cell at the stamps' pixel ratio.
    bool inkInCell(const FittedFont& font, ShapedText& shaped) const
    {
        const int ratio = m_stamps.format != QImage::Format_Invalid ? m_stamps.ratio : 1;
        if (shaped.inkRatio != ratio) {
            shaped.inkInCell = inkInCellAt(font, shaped, ratio);
            shaped.inkRatio = ratio;
        }
        return shaped.inkInCell;
    }

    // Draws the glyphs on a clear image one cell larger all round and looks for ink outside
    // the middle cell: such a text would draw over its neighbours, which a stamp cannot.
    bool inkInCellAt(const FittedFont& font, const ShapedText& shaped, int ratio) const
    {
        const int margin = std::max(font.cellHeight, 8);
        const QRectF reach(-margin, -margin, shaped.advance + 2 * margin,
                           font.cellHeight + 2 * margin);
        for (const QGlyphRun& run : shaped.runs) {
            if (!reach.contains(
                    run.boundingRect().translated(QPointF(0, font.ascent) + shaped.origin)))
                return false;
        }
        QImage scratch(ratio * (shaped.advance + 2 * margin),
                       ratio * (font.cellHeight + 2 * margin), QImage::Format_ARGB32_Premultiplied);
        scratch.setDevicePixelRatio(ratio);
        scratch.fill(Qt::transparent);
        {
            QPainter painter(&scratch);
            painter.setRenderHints(m_painter.renderHints());
            painter.setPen(Qt::black);
            for (const QGlyphRun& run : shaped.runs)
                painter.drawGlyphRun(QPointF(margin, margin + font.ascent) + shaped.origin, run);
        }
        const QRect cell(ratio * margin, ratio * margin, ratio * shaped.advance,
                         ratio * font.cellHeight);
        for (int y = 0; y < scratch.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(scratch.constScanLine(y));
            for (int x = 0; x < scratch.width(); ++x) {
                if (qAlpha(line[x]) != 0 && !cell.contains(x, y))
                    return false;
            }
        }
        return true;
    }

    const QImage& stamp(const FittedFont& font, ShapedText& shaped, const TextOp& op)
    {
        if (shaped.stampFormat != m_stamps.format || shaped.stampRatio != m_stamps.ratio) {
            shaped.stamps.clear();
            shaped.stampFormat = m_stamps.format;
            shaped.stampRatio = m_stamps.ratio;
        }
        for (const Stamp& stamp : shaped.stamps) {
            if (stamp.colour == op.colour && stamp.background == op.background)
                return stamp.image;
        }
        QImage image(m_stamps.ratio * shaped.advance, m_stamps.ratio * font.cellHeight,
                     m_stamps.format);
        image.setDevicePixelRatio(m_stamps.ratio);
        {
            QPainter painter(&image);
            painter.setRenderHints(m_painter.renderHints());
            painter.fillRect(0, 0, shaped.advance, font.cellHeight, ToColor(op.background));
            painter.setPen(ToColor(op.colour));
            for (const QGlyphRun& run : shaped.runs)
                painter.drawGlyphRun(QPointF(0, font.ascent) + shaped.origin, run);
        }
        shaped.stamps.push_back({op.colour, op.background, std::move(image)});
        return shaped.stamps.back().image;
    }

    QPainter& m_painter;
    FontCache& m_fonts;
    FittedFont* m_lastFont = nullptr;
    const StampTarget m_stamps;
    std::optional<QRect> m_reach; // none: the whole list
    Rgb m_textColour;
    bool m_textPen = false;
};

} // namespace

void InstallChartFontSubstitution()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QFont::insertSubstitution(ToQString(kSongFace), QStringLiteral("Noto Serif CJK SC"));
    });
}

FittedTextFont FitTextFont(const Font& spec)
{
    InstallChartFontSubstitution();
    FittedFont fitted = Fit(spec, nullptr);
    return {std::move(fitted.font), fitted.ascent, fitted.cellHeight};
}

void PaintDrawList(QPainter& painter, const DrawList& list, const std::optional<QRect>& exposed)
{
    InstallChartFontSubstitution();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBackgroundMode(Qt::TransparentMode);
    Executor executor(painter, exposed);
    for (const DrawOp& op : list.ops) {
        if (!std::holds_alternative<TextOp>(op))
            executor.forgetPen();
        std::visit(executor, op);
    }
    painter.restore();
}

} // namespace velmora
