#include "analysis/ValueProfile.h"

#include "analysis/ChartAids.h"
#include "analysis/ValueChartDrawing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace velmora {

namespace {

// A row's level as its label shows it: two decimals on the whole-number grid, else four.
double RowPrice(const ValueChartLayout& layout, int row)
{
    const double scale = layout.ymax >= 10 ? 100.0 : 10000.0;
    return std::round((layout.ymax - row * layout.yunit) * scale) / scale;
}

int RowTop(int row) { return kChartTextTop + kChartRowPitch * row; }

// Small texts of the layer, so that they read as notes beside the chart's own texts.
constexpr int kNoteFontHeight = 12;
constexpr int kNoteTop = (kChartFontHeight - kNoteFontHeight) / 2; // below the row's text top
constexpr int kNoteGap = 4; // between a row's last mark column and its count

// The bracket runs in the gap between the price labels and the first mark column.
constexpr int kBracketX = kChartMarkX - 8;
constexpr int kBracketTick = 5;
constexpr int kSinglePrintSize = 4;

TextOp Note(int x, int row, std::string text, Rgb colour)
{
    TextOp note{x,
                RowTop(row) + kNoteTop,
                std::move(text),
                colour,
                {kSongFace, kNoteFontHeight, kNormalWeight}};
    note.opaque = false;
    return note;
}

} // namespace

std::optional<ValueProfile> ComputeProfile(std::vector<int> counts, const ValueChartLayout& layout)
{
    ValueProfile profile;
    profile.counts = std::move(counts);
    const std::vector<int>& k = profile.counts;
    const int rows = static_cast<int>(k.size());
    profile.first = -1;
    for (int r = 0; r < rows; ++r) {
        profile.total += k[r];
        if (k[r] > 0) {
            if (profile.first < 0)
                profile.first = r;
            profile.last = r;
        }
    }
    if (profile.total == 0)
        return std::nullopt;
    const int first = profile.first;
    const int last = profile.last;

    // The most marks; among equal rows the one nearest the middle of the marked rows, then
    // the upper one. Distances are doubled to stay in whole numbers.
    int poc = first;
    for (int r = first + 1; r <= last; ++r) {
        const int distance = std::abs(2 * r - (first + last));
        const int best = std::abs(2 * poc - (first + last));
        if (k[r] > k[poc] || (k[r] == k[poc] && distance < best))
            poc = r;
    }
    profile.poc = poc;

    // Grows from the point of control, a row at a time to the side whose next row holds more
    // marks (the upper one on a tie), until it holds seven tenths of all marks, rounded up.
    const long long target = (7LL * profile.total + 9) / 10;
    long long area = k[poc];
    int top = poc;
    int bottom = poc;
    while (area < target) {
        const int above = top - 1 >= first ? k[top - 1] : -1;
        const int below = bottom + 1 <= last ? k[bottom + 1] : -1;
        if (above < 0 && below < 0)
            break;
        if (above >= below)
            area += k[--top];
        else
            area += k[++bottom];
    }
    profile.vaTop = top;
    profile.vaBottom = bottom;

    for (int r = first + 1; r < last; ++r) {
        if (k[r] == 1)
            profile.singlePrints.push_back(r);
    }

    profile.pocPrice = RowPrice(layout, poc);
    profile.vah = RowPrice(layout, top);
    profile.val = RowPrice(layout, bottom);
    return profile;
}

std::optional<ValueProfile> ProfileOf(const ValueChartLayout& layout, const TpoGrid& grid)
{
    const int rows = std::clamp(layout.rows, 0, kTpoRows);
    std::vector<int> counts(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        int marks = 0;
        for (int q = 1; q < grid.usedColumns(r); ++q)
            marks += grid.at(r, q).empty() ? 0 : 1;
        counts[static_cast<std::size_t>(r)] = marks;
    }
    return ComputeProfile(std::move(counts), layout);
}

void AddProfileLayer(DrawList& list, const ValueChartLayout& layout, const ValueProfile& profile)
{
    const auto marksOf = [&](int row) { return profile.counts[static_cast<std::size_t>(row)]; };
    const int poc = profile.poc;

    // The band behind the point of control's marks, under everything but the page. The marks
    // are opaque texts: their cells take the band's colour so that it runs unbroken.
    const int bandTop = RowTop(poc) - (kChartRowPitch - kChartFontHeight) / 2;
    const RectOp band{
        kChartMarkX - 2,          bandTop,        kChartMarkX + kChartColumnPitch * marksOf(poc),
        bandTop + kChartRowPitch, kPocBandColour, {kPocBandColour, 1}};
    const auto afterBackground = list.ops.empty() ? list.ops.end() : std::next(list.ops.begin());
    list.ops.insert(afterBackground, band);
    for (DrawOp& op : list.ops) {
        auto* text = std::get_if<TextOp>(&op);
        if (text && text->y == RowTop(poc) && text->x >= kChartMarkX && text->opaque &&
            text->background == kWhite)
            text->background = kPocBandColour;
    }

    // The value area's bracket, its ends pointing at the first marks of VAH and VAL.
    const Pen bracketPen{kValueAreaColour, 1};
    const int top = RowTop(profile.vaTop);
    const int bottom = RowTop(profile.vaBottom) + kChartFontHeight - 1;
    list.add(LineOp{{kBracketX, top}, {kBracketX, bottom + 1}, bracketPen});
    list.add(LineOp{{kBracketX, top}, {kBracketX + kBracketTick, top}, bracketPen});
    list.add(LineOp{{kBracketX, bottom}, {kBracketX + kBracketTick, bottom}, bracketPen});

    // Single prints: a small square between the bracket and the mark.
    for (const int r : profile.singlePrints) {
        const int middle = RowTop(r) + kChartFontHeight / 2;
        const int left = kBracketX + 2;
        list.add(RectOp{left,
                        middle - kSinglePrintSize / 2,
                        left + kSinglePrintSize,
                        middle + kSinglePrintSize / 2,
                        kSinglePrintColour,
                        {kSinglePrintColour, 1}});
    }

    // Each row's count in the empty column after its last mark; VAH and VAL one column on.
    for (int r = profile.first; r <= profile.last; ++r) {
        if (marksOf(r) > 0)
            list.add(Note(kChartMarkX + kChartColumnPitch * marksOf(r) + kNoteGap, r,
                          std::to_string(marksOf(r)), kRowCountColour));
    }
    const auto edge = [&](int row, const char* name) {
        list.add(Note(kChartMarkX + kChartColumnPitch * (marksOf(row) + 1) + kNoteGap, row,
                      name + LevelPriceText(layout, row), kValueAreaColour));
    };
    if (profile.vaTop == profile.vaBottom) {
        edge(profile.vaTop, "VAH VAL ");
    } else {
        edge(profile.vaTop, "VAH ");
        edge(profile.vaBottom, "VAL ");
    }
}

std::string ProfileLevelText(const ValueProfile& profile, const ValueChartLayout& layout, int row)
{
    std::string names;
    const auto name = [&](bool applies, const char* text) {
        if (!applies)
            return;
        names += names.empty() ? "" : "、";
        names += text;
    };
    name(row == profile.poc, "控制点 POC");
    name(row == profile.vaTop, "价值区高点 VAH");
    name(row == profile.vaBottom, "价值区低点 VAL");
    return names.empty() ? names : names + " " + LevelPriceText(layout, row);
}

} // namespace velmora
