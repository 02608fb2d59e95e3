// velmora-tool's --png, run as a binary: the image must be the chart's page, painted.

#include "market/HstFile.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>

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

// The same page as vector graphics, with its texts as text.
TEST_F(ChartPngTest, SvgHoldsThePageWithItsTexts)
{
    ASSERT_EQ(run("--tpo 20 --svg '" + (dir / "c.svg").string() + "' --png '" +
                  (dir / "c.png").string() + "'"),
              0);
    std::ifstream in(dir / "c.svg");
    const std::string svg{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(svg.find("<svg"), std::string::npos);
    const QSize page = image("c.png").size();
    EXPECT_NE(svg.find("viewBox=\"0 0 " + std::to_string(page.width()) + " " +
                       std::to_string(page.height()) + "\""),
              std::string::npos);
    EXPECT_NE(svg.find("<text"), std::string::npos);
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
