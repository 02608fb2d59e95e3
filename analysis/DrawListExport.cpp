#include "analysis/DrawListExport.h"

#include "analysis/DrawListPainter.h"
#include "platform/Failure.h"
#include "platform/QtText.h"

#include <QFontMetrics>
#include <QImage>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QSaveFile>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>

namespace velmora {

namespace {

// The Song face first, then what stands in for it on Linux; viewers take the first they have.
constexpr std::string_view kSongFamilies = "'宋体', 'Noto Serif CJK SC', 'AR PL UMing CN', serif";

QString SvgColour(Rgb rgb)
{
    return QStringLiteral("#%1%2%3")
        .arg(rgb.r, 2, 16, QLatin1Char('0'))
        .arg(rgb.g, 2, 16, QLatin1Char('0'))
        .arg(rgb.b, 2, 16, QLatin1Char('0'));
}

// A character XML cannot carry (control bytes of a damaged bar time) is written as U+FFFD.
// Not the backslash escape of the text files: an SVG's readers show its text as it stands.
QString XmlText(std::string_view text)
{
    QString out = ToQString(text);
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D) || u == 0xFFFE || u == 0xFFFF)
            c = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

// The drawing as SVG elements in list order, at the pixels the painter covers: shapes as
// rectangles and lines, texts as text on the painter's baseline in the painter's fitted font.
class SvgWriter {
public:
    explicit SvgWriter(QXmlStreamWriter& xml) : m_xml(xml) {}

    void operator()(const RectOp& op)
    {
        const int width = op.right - op.left;
        const int height = op.bottom - op.top;
        if (width <= 0 || height <= 0)
            return;
        // The outline as the pen's band along the first and last rows and columns, the brush
        // inside it: exact in any viewer, unlike a stroke's corners.
        if (op.pen.colour == op.brush) {
            rect(op.left, op.top, width, height, op.brush);
            return;
        }
        const int pen = std::clamp(op.pen.width, 1, std::min(width, height));
        rect(op.left, op.top, width, height, op.pen.colour);
        if (width > 2 * pen && height > 2 * pen)
            rect(op.left + pen, op.top + pen, width - 2 * pen, height - 2 * pen, op.brush);
    }

    // Level and upright lines cover the band the painter fills: from the start point up to
    // the end point less one pixel, a wide line centred as the painter centres it.
    void operator()(const LineOp& op)
    {
        const Point& a = op.from;
        const Point& b = op.to;
        const int width = std::max(op.pen.width, 1);
        if (a == b)
            return;
        m_xml.writeEmptyElement(QStringLiteral("line"));
        if (a.y == b.y) {
            const int left = a.x < b.x ? a.x : b.x + 1;
            const double y = a.y - width / 2 + width / 2.0;
            attribute("x1", left);
            attribute("y1", y);
            attribute("x2", left + std::abs(b.x - a.x));
            attribute("y2", y);
        } else if (a.x == b.x) {
            const int top = a.y < b.y ? a.y : b.y + 1;
            const double x = a.x - width / 2 + width / 2.0;
            attribute("x1", x);
            attribute("y1", top);
            attribute("x2", x);
            attribute("y2", top + std::abs(b.y - a.y));
        } else {
            attribute("x1", a.x);
            attribute("y1", a.y);
            attribute("x2", b.x);
            attribute("y2", b.y);
        }
        m_xml.writeAttribute(QStringLiteral("stroke"), SvgColour(op.pen.colour));
        attribute("stroke-width", width);
    }

    void operator()(const TextOp& op)
    {
        if (op.text.empty() || op.font.height <= 0)
            return;
        const Fitted& font = fitted(op.font);
        const QString text = XmlText(op.text);
        if (op.opaque) {
            const int advance = font.metrics.horizontalAdvance(ToQString(op.text));
            if (advance > 0)
                rect(op.x, op.y, advance, font.fit.cellHeight, op.background);
        }
        m_xml.writeStartElement(QStringLiteral("text"));
        attribute("x", op.x);
        attribute("y", op.y + font.fit.ascent);
        m_xml.writeAttribute(QStringLiteral("fill"), SvgColour(op.colour));
        if (op.font.face != kSongFace)
            m_xml.writeAttribute(QStringLiteral("font-family"), QLatin1Char('\'') +
                                                                    ToQString(op.font.face) +
                                                                    QStringLiteral("', serif"));
        attribute("font-size", font.fit.font.pixelSize());
        if (op.font.weight != kNormalWeight)
            attribute("font-weight", std::clamp(op.font.weight, 100, 900));
        m_xml.writeCharacters(text);
        m_xml.writeEndElement();
    }

private:
    struct Fitted {
        FittedTextFont fit;
        QFontMetrics metrics;
    };

    // The advance is measured on an image, the device the PNG export paints on.
    const Fitted& fitted(const Font& spec)
    {
        const auto key =
            std::make_pair(std::string(spec.face), std::make_pair(spec.height, spec.weight));
        auto found = m_fonts.find(key);
        if (found == m_fonts.end()) {
            FittedTextFont fit = FitTextFont(spec);
            QFontMetrics metrics(fit.font, &m_device);
            found = m_fonts.emplace(key, Fitted{std::move(fit), metrics}).first;
        }
        return found->second;
    }

    void rect(int x, int y, int width, int height, Rgb fill)
    {
        m_xml.writeEmptyElement(QStringLiteral("rect"));
        attribute("x", x);
        attribute("y", y);
        attribute("width", width);
        attribute("height", height);
        m_xml.writeAttribute(QStringLiteral("fill"), SvgColour(fill));
    }

    void attribute(const char* name, double value)
    {
        m_xml.writeAttribute(QLatin1StringView(name), QString::number(value));
    }

    QXmlStreamWriter& m_xml;
    QImage m_device{1, 1, QImage::Format_RGB32};
    std::map<std::pair<std::string, std::pair<int, int>>, Fitted> m_fonts;
};

bool WriteSvg(const DrawList& list, int width, int height, const QString& path, std::string* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Fail(error, "cannot write " + path.toStdString());
    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(0);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("svg"));
    xml.writeDefaultNamespace(QStringLiteral("http://www.w3.org/2000/svg"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    xml.writeAttribute(QStringLiteral("width"), QString::number(width));
    xml.writeAttribute(QStringLiteral("height"), QString::number(height));
    xml.writeAttribute(QStringLiteral("viewBox"),
                       QStringLiteral("0 0 %1 %2").arg(width).arg(height));
    xml.writeTextElement(QStringLiteral("title"), QStringLiteral("Velmora"));
    // Pixel-exact edges, and texts that keep their blanks.
    xml.writeStartElement(QStringLiteral("g"));
    xml.writeAttribute(QStringLiteral("shape-rendering"), QStringLiteral("crispEdges"));
    xml.writeAttribute(QStringLiteral("font-family"), ToQString(kSongFamilies));
    xml.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
    xml.writeEmptyElement(QStringLiteral("rect"));
    xml.writeAttribute(QStringLiteral("width"), QString::number(width));
    xml.writeAttribute(QStringLiteral("height"), QString::number(height));
    xml.writeAttribute(QStringLiteral("fill"), QStringLiteral("#ffffff"));
    SvgWriter writer(xml);
    for (const DrawOp& op : list.ops)
        std::visit(writer, op);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    if (xml.hasError() || !file.commit())
        return Fail(error, "cannot write " + path.toStdString());
    return true;
}

} // namespace

QImage RenderDrawList(const DrawList& list, int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintDrawList(painter, list);
    return image;
}

ImageFormat ImageFormatOf(const QString& path)
{
    return path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive) ? ImageFormat::Svg
                                                                      : ImageFormat::Png;
}

bool WriteDrawListImage(const DrawList& list, int width, int height, const QString& path,
                        ImageFormat format, std::string* error)
{
    if (width <= 0 || height <= 0)
        return Fail(error, "empty image " + std::to_string(width) + "x" + std::to_string(height));
    if (format == ImageFormat::Svg)
        return WriteSvg(list, width, height, path, error);
    const QImage image = RenderDrawList(list, width, height);
    if (image.isNull())
        return Fail(error, "cannot allocate a " + std::to_string(width) + "x" +
                               std::to_string(height) + " image");
    if (!image.save(path, "PNG"))
        return Fail(error, "cannot write " + path.toStdString());
    return true;
}

int UsedWidth(const DrawList& list)
{
    int used = 0;
    // A chart has thousands of texts in two fonts.
    std::map<std::tuple<std::string_view, int, int>, QFontMetrics> metrics;
    for (const DrawOp& op : list.ops) {
        if (const auto* line = std::get_if<LineOp>(&op)) {
            used = std::max({used, line->from.x, line->to.x});
        } else if (const auto* text = std::get_if<TextOp>(&op)) {
            if (text->text.empty() || text->font.height <= 0)
                continue;
            const std::tuple key(text->font.face, text->font.height, text->font.weight);
            auto found = metrics.find(key);
            if (found == metrics.end())
                found = metrics.emplace(key, QFontMetrics(FitTextFont(text->font).font)).first;
            used = std::max(used, text->x + found->second.horizontalAdvance(ToQString(text->text)));
        }
    }
    return used > 0 ? used : (list.page ? list.page->width : 0);
}

PrintPlan PlanPrint(const DrawList& list, QSize sheet, double maxScale)
{
    PrintPlan plan;
    if (!list.page || sheet.width() <= 0 || sheet.height() <= 0)
        return plan;
    // Everything drawn, marks beyond the page's width too, and a little room on the right.
    plan.width = UsedWidth(list) + 8;
    plan.scale = std::min(maxScale, static_cast<double>(sheet.width()) / plan.width);
    constexpr int kRowPitch = 20;
    const int rows = std::max(1, static_cast<int>(sheet.height() / plan.scale) / kRowPitch);
    plan.sheetHeight = rows * kRowPitch;
    plan.sheets = std::max(1, (list.page->height + plan.sheetHeight - 1) / plan.sheetHeight);
    return plan;
}

void PrintDrawList(QPainter& painter, QPagedPaintDevice& device, const DrawList& list, QSize sheet,
                   double maxScale)
{
    if (!list.page) {
        PaintDrawList(painter, list);
        return;
    }
    const PrintPlan plan = PlanPrint(list, sheet, maxScale);
    for (int k = 0; k < plan.sheets; ++k) {
        if (k > 0 && !device.newPage())
            return;
        const QRect band(0, k * plan.sheetHeight, plan.width, plan.sheetHeight);
        painter.save();
        painter.scale(plan.scale, plan.scale);
        painter.translate(0, -band.top());
        painter.setClipRect(band);
        PaintDrawList(painter, list, band);
        painter.restore();
    }
}

} // namespace velmora
