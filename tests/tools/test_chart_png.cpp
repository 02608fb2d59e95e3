// velmora-tool's --png, run as a binary: the image must be the chart's page, painted.

#include "market/HstFile.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QXmlStreamReader>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <vector>

using velmora::test::TempDir;
namespace hst = velmora::hst;

namespace {

class ChartPngTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(velmora::test::WriteGoldHistory(dir.path())); }

    // Runs a day chart of gold with `extra` options; answers the exit status.
    int run(const std::string& extra)
    {
        const std::string command = std::string("TZ=UTC '") + VELMORA_TOOL + "' chart --hst '" +
                                    dir.str() + "' --code LLGUSD --period 1 " + extra + " >'" +
                                    (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
        const int raw = std::system(command.c_str());
        json = QJsonDocument::fromJson(
                   QByteArray::fromStdString(velmora::test::ReadWholeFile(dir / "out")))
                   .object();
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }

    int number(const char* key) const { return json.value(QLatin1StringView(key)).toInt(-1); }

    QImage image(const std::string& name) const
    {
        return QImage(QString::fromStdString((dir / name).string()));
    }

    TempDir dir;
    QJsonObject json;
};

} // namespace

TEST_F(ChartPngTest, DrawnChartIsSavedAsItsPage)
{
    ASSERT_EQ(run("--tpo 20 --long 30 --short 5 --png '" + (dir / "c.png").string() + "'"), 0);
    const int rows = number("rows");
    ASSERT_GT(rows, 0);
    const QImage png = image("c.png");
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(1260, 20 * (rows + 1)));

    EXPECT_EQ(png.pixel(0, 0), qRgb(255, 255, 255));
    // The long average's line, left of the marks, and some black label ink.
    const int longY = 22 + 20 * (number("longZ") + 2);
    ASSERT_TRUE(longY >= 0 && longY < png.height()) << longY;
    EXPECT_EQ(png.pixel(3, longY), qRgb(255, 0, 0));
    int ink = 0;
    for (int y = 24; y < 40; ++y) {
        for (int x = 8; x < 70; ++x)
            ink += qGray(png.pixel(x, y)) < 100 ? 1 : 0;
    }
    EXPECT_GT(ink, 10);
}

// --profile puts the layer on the page: the light band shows around the point of control's
// marks; without it that spot stays white.
TEST_F(ChartPngTest, ProfileAddsTheLayer)
{
    ASSERT_EQ(run("--tpo 20 --png '" + (dir / "plain.png").string() + "'"), 0);
    ASSERT_EQ(run("--tpo 20 --profile --png '" + (dir / "layer.png").string() + "'"), 0);
    const int poc =
        json.value(QStringLiteral("profile")).toObject().value(QStringLiteral("poc")).toInt(-1);
    ASSERT_GE(poc, 0);
    const QPoint aboveFirstMark(80, 22 + 20 * poc);
    EXPECT_EQ(image("plain.png").pixel(aboveFirstMark), qRgb(255, 255, 255));
    EXPECT_EQ(image("layer.png").pixel(aboveFirstMark), qRgb(255, 236, 160));
    EXPECT_EQ(image("layer.png").size(), image("plain.png").size());
}

// The same page as vector graphics: every label and mark a text element with its string and
// colour at its cell, on one baseline per row; no glyph outlines, no empty texts.
TEST_F(ChartPngTest, SvgHoldsThePageWithItsTexts)
{
    ASSERT_EQ(run("--tpo 20 --long 30 --short 5 --svg '" + (dir / "c.svg").string() + "' --png '" +
                  (dir / "c.png").string() + "'"),
              0);
    struct SvgText {
        int x, y;
        QString fill, weight, text;
    };
    std::vector<SvgText> texts;
    int paths = 0;
    int lines = 0;
    QSize size;
    QXmlStreamReader xml(QByteArray::fromStdString(velmora::test::ReadWholeFile(dir / "c.svg")));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        const QStringView name = xml.name();
        if (name == u"svg")
            size = QSize(a.value(QLatin1StringView("width")).toInt(),
                         a.value(QLatin1StringView("height")).toInt());
        paths += name == u"path" ? 1 : 0;
        lines += name == u"line" ? 1 : 0;
        if (name == u"text")
            texts.push_back(
                {a.value(QLatin1StringView("x")).toInt(), a.value(QLatin1StringView("y")).toInt(),
                 a.value(QLatin1StringView("fill")).toString(),
                 a.value(QLatin1StringView("font-weight")).toString(), xml.readElementText()});
    }
    ASSERT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(size, image("c.png").size());
    EXPECT_EQ(paths, 0);
    EXPECT_EQ(lines, 2); // the two averages

    // Each text at its cell, in list order: the price labels, then the marks row by row.
    std::vector<SvgText> expected;
    for (const QJsonValue& label : json.value(QLatin1StringView("labels")).toArray()) {
        const int row = static_cast<int>(expected.size());
        expected.push_back({8, 24 + 20 * row, QStringLiteral("#000000"), {}, label.toString()});
    }
    int up = 0;
    for (const QJsonValue& value : json.value(QLatin1StringView("cells")).toArray()) {
        const QJsonObject cell = value.toObject();
        const bool isUp = cell.value(QLatin1StringView("text")).toString().contains(u"-U-");
        up += isUp ? 1 : 0;
        expected.push_back(
            {76 + 30 * (cell.value(QLatin1StringView("col")).toInt() - 1),
             24 + 20 * cell.value(QLatin1StringView("row")).toInt(),
             isUp ? QStringLiteral("#ff0000") : QStringLiteral("#0000ff"),
             cell.value(QLatin1StringView("bold")).toBool() ? QStringLiteral("700") : QString(),
             cell.value(QLatin1StringView("label")).toString()});
    }
    ASSERT_GT(up, 0);
    ASSERT_EQ(texts.size(), expected.size());
    const int baseline = texts[0].y - expected[0].y; // from the cell's top
    EXPECT_GT(baseline, 8);
    EXPECT_LE(baseline, 16);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(texts[i].text.isEmpty());
        EXPECT_EQ(texts[i].text, expected[i].text);
        EXPECT_EQ(texts[i].x, expected[i].x);
        EXPECT_EQ(texts[i].y - baseline, expected[i].y);
        EXPECT_EQ(texts[i].fill, expected[i].fill);
        EXPECT_EQ(texts[i].weight, expected[i].weight);
    }
}

TEST_F(ChartPngTest, ScreenWidthSetsThePageWidth)
{
    ASSERT_EQ(run("--tpo 20 --screen-width 800 --png '" + (dir / "c.png").string() + "'"), 0);
    EXPECT_EQ(image("c.png").width(), 780);
    EXPECT_EQ(run("--screen-width 20 --png '" + (dir / "c.png").string() + "'"), 2);
    EXPECT_EQ(run("--screen-width wide --png '" + (dir / "c.png").string() + "'"), 2);
}

TEST_F(ChartPngTest, NothingDrawnMeansNoFile)
{
    EXPECT_EQ(run("--tpo 20 --cursor 5 --png '" + (dir / "c.png").string() + "'"), 1);
    EXPECT_EQ(json.value(QLatin1StringView("outcome")).toString(), QStringLiteral("message"));
    EXPECT_FALSE(std::filesystem::exists(dir / "c.png"));
}

TEST_F(ChartPngTest, UnwritablePngFailsAfterTheReport)
{
    EXPECT_EQ(run("--tpo 20 --png '" + (dir / "missing" / "c.png").string() + "'"), 3);
    EXPECT_EQ(json.value(QLatin1StringView("outcome")).toString(), QStringLiteral("drawn"));
}
