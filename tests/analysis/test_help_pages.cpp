// The help pages against the program: the colours they name are the colours drawn, and what
// they say about the data management dialog and the keys matches what is there.

#include "analysis/ChartAids.h"
#include "analysis/QuoteBoardDrawing.h"
#include "analysis/ValueChartDrawing.h"
#include "analysis/ValueProfile.h"
#include "tests/support/TestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace velmora;

namespace {

struct Page {
    std::string name;
    std::string html;
};

std::vector<Page> HelpPages()
{
    std::vector<Page> pages;
    for (const auto& entry : std::filesystem::directory_iterator(VELMORA_HELP_DIR)) {
        if (entry.path().extension() == ".html")
            pages.push_back(
                {entry.path().filename().string(), velmora::test::ReadWholeFile(entry.path())});
    }
    return pages;
}

std::string ColourWord(Rgb colour)
{
    if (colour == kRed)
        return "红色";
    if (colour == kBlue)
        return "蓝色";
    if (colour == kGreen || colour == kCurrentPriceColour)
        return "绿色";
    if (colour == kStaleGrey)
        return "灰色";
    if (colour == Rgb{255, 236, 160})
        return "浅黄色";
    if (colour == Rgb{150, 0, 150})
        return "紫色";
    if (colour == Rgb{240, 130, 0})
        return "橙色";
    return "?";
}

// The page's text without tags, cut into sentences.
std::vector<std::string> Sentences(const std::string& html)
{
    const std::string text = std::regex_replace(html, std::regex("<[^>]*>"), "");
    std::vector<std::string> sentences;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        current += text[i];
        for (const std::string_view end : {"。", "；", "\n"}) {
            if (current.size() >= end.size() &&
                current.compare(current.size() - end.size(), end.size(), end) == 0) {
                sentences.push_back(current);
                current.clear();
                break;
            }
        }
    }
    sentences.push_back(current);
    return sentences;
}

bool Contains(const std::string& text, std::string_view part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

// Each colour word the help marks with what it describes (class="up-mark" and so on) is the
// colour the program draws that thing in.
TEST(HelpPages, ColourWordsAreTheDrawnColours)
{
    auto grid = std::make_unique<TpoGrid>();
    ValueChartLayout layout;
    layout.rows = 4;
    layout.widest = 2;
    layout.longZ = 0;
    layout.shortZ = 1;
    grid->at(0, 1).text = "001-U-2026.12.08 00:00:00";
    grid->at(0, 1).label = "08";
    grid->at(0, 2).text = "002-D-2026.12.09 00:00:00";
    grid->at(0, 2).label = "09";
    // Rows of two, one and two marks: row 1 is a single print.
    grid->at(1, 1) = grid->at(0, 1);
    grid->at(2, 1) = grid->at(0, 1);
    grid->at(2, 2) = grid->at(0, 2);
    const DrawList list = DrawValueChart(layout, *grid, 1280);
    std::map<std::string, std::string> drawn;
    std::vector<Rgb> averages;
    for (const DrawOp& op : list.ops) {
        if (const auto* text = std::get_if<TextOp>(&op)) {
            if (text->text == "08")
                drawn["up-mark"] = ColourWord(text->colour);
            if (text->text == "09")
                drawn["down-mark"] = ColourWord(text->colour);
        }
        if (const auto* line = std::get_if<LineOp>(&op))
            averages.push_back(line->pen.colour);
    }
    ASSERT_EQ(averages.size(), 2u); // the long average first
    drawn["long-average"] = ColourWord(averages[0]);
    drawn["short-average"] = ColourWord(averages[1]);
    // The board's rows: red at or above the day's open, green below.
    drawn["board-up"] = ColourWord(kRed);
    drawn["board-down"] = ColourWord(kGreen);
    drawn["stale"] = ColourWord(kStaleGrey);
    drawn["now-mark"] = ColourWord(kCurrentPriceColour);

    // The profile layer: the band right after the page, then its bracket, the single print's
    // square and the counts after the chart's ops.
    const auto profile = ProfileOf(layout, *grid);
    ASSERT_TRUE(profile);
    DrawList layered = list;
    AddProfileLayer(layered, layout, *profile);
    drawn["poc-band"] = ColourWord(std::get<RectOp>(layered.ops[1]).brush);
    for (std::size_t i = list.ops.size() + 1; i < layered.ops.size(); ++i) {
        if (const auto* line = std::get_if<LineOp>(&layered.ops[i]))
            drawn["value-area"] = ColourWord(line->pen.colour);
        if (const auto* square = std::get_if<RectOp>(&layered.ops[i]))
            drawn["single-print"] = ColourWord(square->brush);
        if (const auto* text = std::get_if<TextOp>(&layered.ops[i]); text && text->text == "1")
            drawn["row-count"] = ColourWord(text->colour);
    }

    std::set<std::string> named;
    const std::regex word("class=\"([a-z-]+)\">([^<]*)<");
    for (const Page& page : HelpPages()) {
        for (auto it = std::sregex_iterator(page.html.begin(), page.html.end(), word);
             it != std::sregex_iterator(); ++it) {
            const std::string what = (*it)[1];
            if (!drawn.count(what))
                continue;
            named.insert(what);
            EXPECT_EQ((*it)[2].str(), drawn[what]) << page.name << ": " << what;
        }
    }
    for (const auto& [what, colour] : drawn)
        EXPECT_TRUE(named.count(what)) << "no help page names the colour of " << what;
}

// No sentence gives an up or down bar's marks the board's green.
TEST(HelpPages, NoMarkIsCalledGreen)
{
    for (const Page& page : HelpPages()) {
        for (const std::string& sentence : Sentences(page.html)) {
            if (Contains(sentence, "阴线") || Contains(sentence, "阳线")) {
                EXPECT_FALSE(Contains(sentence, "绿")) << page.name << ": " << sentence;
            }
        }
    }
}

// The dialog's buttons and the keys by the names the program shows; no editing in the list.
TEST(HelpPages, NameTheButtonsAndKeysAsTheProgramDoes)
{
    std::string all;
    for (const Page& page : HelpPages())
        all += page.html;
    for (const std::string_view name :
         {"“清空数据”", "“更新记录”", "“全部商品数据同步”", "“MT4数据目录”", "“浏   览”",
          "<kbd>End</kbd>", "<kbd>F8</kbd>", "<kbd>←</kbd>", "<kbd>↑</kbd>", "涨跌幅度"})
        EXPECT_TRUE(Contains(all, name)) << name;
    for (const Page& page : HelpPages()) {
        for (const std::string& sentence : Sentences(page.html)) {
            EXPECT_FALSE(Contains(sentence, "双击") && Contains(sentence, "修改"))
                << page.name << ": " << sentence;
        }
    }
}

TEST(HelpPages, LinksReachPagesThatExist)
{
    const std::regex link("(href|src)=\"([^\"#:]+)\"");
    for (const Page& page : HelpPages()) {
        for (auto it = std::sregex_iterator(page.html.begin(), page.html.end(), link);
             it != std::sregex_iterator(); ++it)
            EXPECT_TRUE(
                std::filesystem::exists(std::filesystem::path(VELMORA_HELP_DIR) / (*it)[2].str()))
                << page.name << " -> " << (*it)[2];
    }
}
