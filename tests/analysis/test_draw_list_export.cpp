// The image files of a drawing list: the SVG must be the PNG's page with its texts as text.

#include "analysis/DrawListExport.h"
#include "analysis/DrawListPainter.h"
#include "tests/support/GuiEnvironment.h"
#include "tests/support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace velmora;
using velmora::test::TempDir;

namespace {

[[maybe_unused]] const auto* const kGui =
    ::testing::AddGlobalTestEnvironment(new velmora::test::GuiEnvironment);

struct Element {
    QString name;
    QXmlStreamAttributes attributes;
    QString text; // of a text element
    int number(const char* key) const { return attributes.value(QLatin1StringView(key)).toInt(); }
    QString value(const char* key) const
    {
        return attributes.value(QLatin1StringView(key)).toString();
    }
};

// The elements of an SVG file in document order; fails the test on a parse error.
std::vector<Element> ReadSvg(const std::filesystem::path& path)
{
    std::vector<Element> elements;
    QXmlStreamReader xml(QByteArray::fromStdString(velmora::test::ReadWholeFile(path)));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        Element element{xml.name().toString(), xml.attributes(), {}};
        if (element.name == u"text")
            element.text = xml.readElementText();
        elements.push_back(std::move(element));
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return elements;
}

} // namespace

TEST(DrawListExport, SvgWritesEachTextAsTextAtThePaintersBaseline)
{
    const Font normal{kSongFace, 16, kNormalWeight};
    const Font bold{kSongFace, 16, kBoldWeight};
    DrawList list;
    list.add(RectOp{0, 0, 200, 100, kWhite, Pen{kWhite, 1}});
    list.add(TextOp{8, 24, "2313.50", kBlack, normal});
    list.add(TextOp{76, 44, "01A", kRed, bold});
    list.add(TextOp{106, 44, "<&\"'>", kBlue, normal, kWhite, false});
    list.add(TextOp{136, 64, "", kBlue, normal}); // nothing to draw
    list.add(TextOp{136, 64, std::string("0\x01"), kBlue, normal});

    TempDir dir;
    std::string error;
    ASSERT_TRUE(WriteDrawListImage(list, 200, 100, QString::fromStdString((dir / "a.svg").string()),
                                   ImageFormat::Svg, &error))
        << error;
    const std::vector<Element> svg = ReadSvg(dir / "a.svg");
    std::vector<Element> texts;
    for (const Element& element : svg) {
        EXPECT_NE(element.name, u"path");
        if (element.name == u"text")
            texts.push_back(element);
    }
    const FittedTextFont fit = FitTextFont(normal);
    ASSERT_EQ(texts.size(), 4u);
    struct Expected {
        int x, top;
        const char16_t* text;
        const char16_t* fill;
        const char16_t* weight;
    };
    const Expected expected[] = {{8, 24, u"2313.50", u"#000000", u""},
                                 {76, 44, u"01A", u"#ff0000", u"700"},
                                 {106, 44, u"<&\"'>", u"#0000ff", u""},
                                 {136, 64, u"0\uFFFD", u"#0000ff", u""}};
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(texts[i].text, QStringView(expected[i].text));
        EXPECT_EQ(texts[i].number("x"), expected[i].x);
        EXPECT_EQ(texts[i].number("y"), expected[i].top + fit.ascent);
        EXPECT_EQ(texts[i].value("fill"), QStringView(expected[i].fill));
        EXPECT_EQ(texts[i].value("font-weight"), QStringView(expected[i].weight));
        EXPECT_EQ(texts[i].number("font-size"), fit.font.pixelSize());
    }
    // The Song face first, then faces a Linux viewer has.
    const auto group =
        std::find_if(svg.begin(), svg.end(), [](const Element& e) { return e.name == u"g"; });
    ASSERT_NE(group, svg.end());
    EXPECT_TRUE(group->value("font-family").startsWith(u"'宋体', 'Noto Serif CJK SC'"));
}

// The SVG, drawn, has every pixel of the PNG: the same ground, rectangles, outlines, lines and
// text cells. Glyphs are left out of both, since two rasterisers never agree on them.
TEST(DrawListExport, SvgShapesCoverThePixelsOfThePng)
{
    // A board-like page: a black ground ruled in red, texts on black cells, and a chart's
    // pieces: an outlined rectangle, wide and narrow lines either way, texts on white cells.
    DrawList list;
    list.add(RectOp{0, 0, 780, 400, kBlack, Pen{kBlack, 1}});
    const Font small{kSongFace, 11, kNormalWeight};
    for (int row = 0; row < 14; ++row) {
        for (int column = 0; column < 11; ++column)
            list.add(TextOp{63 + 60 * column, 33 + 25 * row, row % 2 ? "1.2345" : "2313.50",
                            row % 3 ? kRed : kGreen, small, kBlack});
    }
    for (int i = 0; i < 15; ++i)
        list.add(LineOp{{60, 25 * (i + 1)}, {720, 25 * (i + 1)}, Pen{kRed, 1}});
    for (int i = 0; i < 12; ++i)
        list.add(LineOp{{60 * (i + 1), 25}, {60 * (i + 1), 375}, Pen{kRed, 1}});
    list.add(RectOp{700, 300, 760, 340, kBlue, Pen{kRed, 1}});
    list.add(LineOp{{10, 380}, {300, 380}, Pen{kRed, 2}});
    list.add(LineOp{{320, 395}, {320, 370}, Pen{kGreen, 1}});
    list.add(RectOp{400, 380, 780, 400, kBlue, Pen{kBlue, 1}});
    list.add(TextOp{410, 382, "01A", kRed, Font{kSongFace, 16, kBoldWeight}});
    list.add(TextOp{440, 382, "1.2345", kBlack, Font{kSongFace, 16, kNormalWeight}});
    list.add(TextOp{500, 382, "08", kBlack, Font{kSongFace, 16, kNormalWeight}, kGreen});

    TempDir dir;
    std::string error;
    const QString svgPath = QString::fromStdString((dir / "b.svg").string());
    ASSERT_TRUE(WriteDrawListImage(list, 780, 400, svgPath, ImageFormat::Svg, &error)) << error;
    for (DrawOp& op : list.ops) {
        if (auto* text = std::get_if<TextOp>(&op))
            text->colour = text->background;
    }
    const QImage png = RenderDrawList(list, 780, 400);

    QString svg = QString::fromStdString(velmora::test::ReadWholeFile(dir / "b.svg"));
    const qsizetype texts = svg.count(QStringLiteral("<text "));
    svg.remove(QRegularExpression(QStringLiteral("<text [^>]*>[^<]*</text>")));
    ASSERT_GT(texts, 40);
    ASSERT_EQ(svg.count(QStringLiteral("<text ")), 0);
    QSvgRenderer renderer(svg.toUtf8());
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.defaultSize(), QSize(780, 400));
    QImage drawn(780, 400, QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
        QPainter painter(&drawn);
        renderer.render(&painter);
    }

    int compared = 0;
    int differing = 0;
    for (int y = 0; y < 400; ++y) {
        for (int x = 0; x < 780; ++x) {
            ++compared;
            if (drawn.pixel(x, y) != png.pixel(x, y) && differing++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": svg " << std::hex
                              << drawn.pixel(x, y) << ", png " << png.pixel(x, y);
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(compared, 780 * 400);
}

TEST(DrawListExport, UnwritableSvgLeavesNoFile)
{
    TempDir dir;
    DrawList list;
    list.add(TextOp{8, 24, "1.2345", kBlack, Font{kSongFace, 16, kNormalWeight}});
    std::string error;
    EXPECT_FALSE(WriteDrawListImage(list, 100, 50,
                                    QString::fromStdString((dir / "no" / "c.svg").string()),
                                    ImageFormat::Svg, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "no"));
}
