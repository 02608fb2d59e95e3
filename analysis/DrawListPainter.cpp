#include "analysis/DrawListPainter.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <mutex>
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

QString ToText(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A font as the device realises it, with the metrics that place its text.
struct FittedFont {
    Font spec;
    QFont font;
    int ascent = 0;
    int cellHeight = 0;
};

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
    QFont font(ToText(spec.face));
    font.setWeight(static_cast<QFont::Weight>(std::clamp(spec.weight, 100, 900)));
    if (spec.height <= 0)
        return {spec, font, 0, 0}; // nothing to draw
    const int em = std::max(1, static_cast<int>(kEmPerCell * spec.height + 0.5));
    font.setPixelSize(em);
    const int ascent = (spec.height - em) / 2 + static_cast<int>(kEmAscent * em + 0.5);
    return {spec, font, ascent, spec.height};
}

// The first pixel row or column of a wide line across its length: a 2-pixel line at y covers
// y - 1 and y, as a painter's own wide line does.
int Across(int centre, int width) { return centre - width / 2; }

// The one conversion from the top of a text cell to the baseline Qt draws on.
int BaselineY(int top, const FittedFont& font) { return top + font.ascent; }

class Executor {
public:
    explicit Executor(QPainter& painter) : m_painter(painter) {}

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
        const FittedFont& font = fitted(op.font);
        const QString text = ToText(op.text);
        if (op.opaque) {
            const int advance = QFontMetrics(font.font, m_painter.device()).horizontalAdvance(text);
            m_painter.fillRect(op.x, op.y, advance, font.cellHeight, ToColor(op.background));
        }
        m_painter.setFont(font.font);
        m_painter.setPen(ToColor(op.colour));
        m_painter.drawText(op.x, BaselineY(op.y, font), text);
    }

private:
    // A chart draws thousands of texts in two fonts; fit each font once per list.
    const FittedFont& fitted(const Font& spec)
    {
        for (const FittedFont& font : m_fonts) {
            if (font.spec == spec)
                return font;
        }
        m_fonts.push_back(Fit(spec, m_painter.device()));
        return m_fonts.back();
    }

    QPainter& m_painter;
    std::vector<FittedFont> m_fonts;
};

} // namespace

void InstallChartFontSubstitution()
{
    static std::once_flag once;
    std::call_once(once, [] {
        QFont::insertSubstitution(ToText(std::string(kSongFace)),
                                  QStringLiteral("Noto Serif CJK SC"));
    });
}

void PaintDrawList(QPainter& painter, const DrawList& list)
{
    InstallChartFontSubstitution();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBackgroundMode(Qt::TransparentMode);
    Executor executor(painter);
    for (const DrawOp& op : list.ops)
        std::visit(executor, op);
    painter.restore();
}

} // namespace velmora
