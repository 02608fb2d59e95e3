#include "analysis/DrawListPainter.h"
#include "analysis/QuoteBoardDrawing.h"
#include "tests/support/GuiEnvironment.h"

#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <memory>

using namespace velmora;

namespace {

[[maybe_unused]] const auto* const kGui =
    ::testing::AddGlobalTestEnvironment(new velmora::test::GuiEnvironment);

const QRgb kGround = qRgb(0, 128, 0);

QImage Paint(const DrawList& list, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kGround);
    QPainter painter(&image);
    PaintDrawList(painter, list);
    return image;
}

QRgb ToQRgb(Rgb c) { return qRgb(c.r, c.g, c.b); }

// The bounding box of every pixel that is not the ground; empty when there is none.
QRect Touched(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != kGround)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

int DarkPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            count += qRed(pixel) < 80 && qGreen(pixel) < 80 && qBlue(pixel) < 80 ? 1 : 0;
        }
    }
    return count;
}

DrawList Text(const std::string& text, int weight, bool opaque, int height = 16)
{
    DrawList list;
    list.add(TextOp{5, 10, text, kBlack, Font{"宋体", height, weight}, kWhite, opaque});
    return list;
}

} // namespace

TEST(DrawListPainter, RectangleCoversLeftToRightLessOneLikeGdi)
{
    DrawList list;
    list.add(RectOp{2, 2, 8, 6, kBlue, Pen{kRed, 1}});
    const QImage image = Paint(list, 10, 10);
    EXPECT_EQ(Touched(image), QRect(QPoint(2, 2), QPoint(7, 5)));
    for (const QPoint p : {QPoint(2, 2), QPoint(7, 2), QPoint(2, 5), QPoint(7, 5), QPoint(4, 2)})
        EXPECT_EQ(image.pixel(p), ToQRgb(kRed)) << p.x() << "," << p.y();
    EXPECT_EQ(image.pixel(4, 3), ToQRgb(kBlue));
    EXPECT_EQ(image.pixel(6, 4), ToQRgb(kBlue));
}

TEST(DrawListPainter, LinesLeaveOutTheirLastPixel)
{
    DrawList list;
    list.add(LineOp{{3, 5}, {10, 5}, Pen{kRed, 1}});
    list.add(LineOp{{3, 20}, {3, 12}, Pen{kBlue, 1}}); // upwards: 20 down to 13
    list.add(LineOp{{0, 30}, {20, 30}, Pen{kBlue, 2}});
    const QImage image = Paint(list, 24, 34);
    EXPECT_EQ(image.pixel(2, 5), kGround);
    for (int x = 3; x <= 9; ++x)
        EXPECT_EQ(image.pixel(x, 5), ToQRgb(kRed)) << x;
    EXPECT_EQ(image.pixel(10, 5), kGround);
    EXPECT_EQ(image.pixel(3, 20), ToQRgb(kBlue));
    EXPECT_EQ(image.pixel(3, 13), ToQRgb(kBlue));
    EXPECT_EQ(image.pixel(3, 12), kGround);
    EXPECT_EQ(image.pixel(3, 21), kGround);

    // A 2-pixel line on its row and the one above, nowhere else.
    EXPECT_EQ(image.pixel(8, 30), ToQRgb(kBlue));
    EXPECT_EQ(image.pixel(8, 29), ToQRgb(kBlue));
    EXPECT_EQ(image.pixel(8, 31), kGround);
    EXPECT_EQ(image.pixel(8, 28), kGround);
}

TEST(DrawListPainter, OpaqueTextFillsItsCellFromTheTopLeftCorner)
{
    const QImage image = Paint(Text("01A 2313.50", kNormalWeight, true), 140, 40);
    const QRect cell = Touched(image);
    EXPECT_EQ(cell.topLeft(), QPoint(5, 10));
    EXPECT_EQ(cell.height(), 16);
    EXPECT_GT(cell.width(), 40);
    EXPECT_EQ(image.pixel(5, 10), ToQRgb(kWhite));
    EXPECT_GT(DarkPixels(image), 30); // the glyphs themselves
}

TEST(DrawListPainter, TransparentTextStaysInsideItsCell)
{
    for (const int height : {16, 11, 24}) {
        const QImage image = Paint(Text("价值图 01A", kNormalWeight, false, height), 200, 50);
        const QRect glyphs = Touched(image);
        ASSERT_FALSE(glyphs.isEmpty()) << height;
        // The em box fills the cell; antialiased edges may touch one pixel beyond it.
        EXPECT_GE(glyphs.top(), 10 - 1) << height;
        EXPECT_LE(glyphs.bottom(), 10 + height) << height;
        EXPECT_GE(glyphs.left(), 5) << height;
        // Text of a usable size, not shrunk to fit taller line metrics.
        EXPECT_GE(glyphs.height(), height * 5 / 8) << height;
    }
}

TEST(DrawListPainter, BoldWeightDrawsHeavierGlyphs)
{
    const int normal = DarkPixels(Paint(Text("22B 23A", kNormalWeight, false), 120, 40));
    const int bold = DarkPixels(Paint(Text("22B 23A", kBoldWeight, false), 120, 40));
    EXPECT_GT(bold, normal + normal / 10);
}

TEST(DrawListPainter, SongFaceResolvesToAChineseFace)
{
    InstallChartFontSubstitution();
    const QFontInfo info(QFont(QString::fromUtf8("宋体")));
    EXPECT_TRUE(info.family().contains(QStringLiteral("CJK")) ||
                info.family().contains(QStringLiteral("UMing")))
        << info.family().toStdString();
}

TEST(DrawListPainter, QuoteBoardOnItsBlackGround)
{
    std::array<CommodityEntry, kCommodityCount> quotes;
    quotes[0] = {"LLGUSD",  "现货黄金", {},        "2034.50", "2024-05-06 10:30:05",
                 "2030.00", "2029.75",  "2021.25", "2040.50", "2034.30",
                 "2034.70"};
    const QImage image = Paint(DrawQuoteBoard(quotes, 780, 400), 780, 400);
    EXPECT_EQ(image.pixel(1, 1), ToQRgb(kBlack));
    EXPECT_EQ(image.pixel(779, 399), ToQRgb(kBlack));
    EXPECT_EQ(image.pixel(100, 25), ToQRgb(kRed));  // a horizontal rule
    EXPECT_EQ(image.pixel(120, 200), ToQRgb(kRed)); // a vertical rule
    EXPECT_EQ(image.pixel(30, 25), ToQRgb(kBlack)); // left of the rules
    int heading = 0;
    for (int y = 8; y < 8 + 11; ++y) {
        for (int x = 313; x < 313 + 13 * 11; ++x)
            heading += qRed(image.pixel(x, y)) > 128 ? 1 : 0;
    }
    EXPECT_GT(heading, 50);
}

TEST(DrawListPainter, RepeatedOpaqueTextsMatchTheirGlyphsDrawnOneByOne)
{
    // Texts as a chart repeats them, some twice, one partly off the image.
    auto texts = [](int dx, int dy) {
        DrawList list;
        list.add(RectOp{dx, dy, 300 + dx, 120 + dy, kWhite, Pen{kWhite, 1}});
        const Font normal{"宋体", 16, kNormalWeight};
        const Font bold{"宋体", 16, kBoldWeight};
        int x = 4;
        for (const char* text : {"30", "09B", "1237.00", "价值图", "30", "09B", "j_"}) {
            list.add(TextOp{x + dx, 10 + dy, text, kRed, normal});
            list.add(TextOp{x + dx, 40 + dy, text, kBlue, bold});
            list.add(TextOp{x + dx, 70 + dy, text, kBlack, normal, kGreen});
            x += 40;
        }
        list.add(TextOp{290 + dx, 110 + dy, "1237.00", kRed, normal});
        return list;
    };
    // At the pixel ratios of plain and scaled screens: the stamps of a plain paint against
    // the glyphs a clip makes the painter draw itself, and a scrolled view against both.
    for (const int ratio : {1, 2}) {
        auto image = [ratio] {
            QImage result(300 * ratio, 120 * ratio, QImage::Format_RGB32);
            result.setDevicePixelRatio(ratio);
            result.fill(kGround);
            return result;
        };
        QImage plain = image();
        {
            QPainter painter(&plain);
            PaintDrawList(painter, texts(0, 0));
        }
        QImage clipped = image();
        {
            QPainter painter(&clipped);
            painter.setClipRect(0, 0, 300, 120);
            PaintDrawList(painter, texts(0, 0));
        }
        EXPECT_EQ(plain, clipped) << "ratio " << ratio;

        QImage scrolled = image();
        {
            QPainter painter(&scrolled);
            painter.translate(-7, -13);
            PaintDrawList(painter, texts(7, 13));
        }
        EXPECT_EQ(plain, scrolled) << "ratio " << ratio;
    }
}
