#include "analysis/ValueChartDrawing.h"

#include <algorithm>
#include <cstdint>

namespace velmora {

namespace {

constexpr Pen kBackgroundPen{kWhite, 1};
constexpr Pen kLongAveragePen{kRed, 2};
constexpr Pen kShortAveragePen{kBlue, 2};

int RowTop(int row) { return kChartTextTop + kChartRowPitch * row; }

Font ChartFont(int weight) { return {kSongFace, kChartFontHeight, weight}; }

// An average far outside the price range has a row number near the integer limits; its line
// is kept far off the page instead of overflowing.
constexpr std::int64_t kFarOffPage = std::int64_t{1} << 24;

// The average lines sit two pixels above the text top of row Z + 2 and reach two column
// pitches past the end of the widest row.
LineOp AverageLine(int z, int widest, Pen pen)
{
    const std::int64_t exact =
        kChartTextTop - 2 + std::int64_t{kChartRowPitch} * (std::int64_t{z} + 2);
    const int y = static_cast<int>(std::clamp(exact, -kFarOffPage, kFarOffPage));
    return {{0, y}, {16 + kChartColumnPitch * (widest + 3), y}, pen};
}

} // namespace

DrawList DrawValueChart(const ValueChartLayout& layout, const TpoGrid& grid, int screenWidth)
{
    DrawList list;
    // Room for the background, the labels, the marks of a pass and the two averages.
    const std::int64_t expected = std::int64_t{3} + layout.rows + layout.upCount + layout.downCount;
    list.ops.reserve(static_cast<std::size_t>(
        std::clamp<std::int64_t>(expected, 0, std::int64_t{kTpoRows} * kTpoColumns + 3)));
    const PageSize page{screenWidth - kChartPageMargin, kChartRowPitch * (layout.rows + 1)};
    list.page = page;

    list.add(RectOp{0, 0, page.width, page.height, kWhite, kBackgroundPen});

    const Font normal = ChartFont(kNormalWeight);
    const Font bold = ChartFont(kBoldWeight);

    // The two lowest levels carry no label.
    const int lastLabelRow = std::min(layout.rows - 2, kTpoRows - 1);
    for (int r = 0; r <= lastLabelRow; ++r)
        list.add(TextOp{kChartLabelX, RowTop(r), grid.at(r, 0).text, kBlack, normal});

    // The whole grid, not just R rows: whatever a pass left in it is drawn.
    for (int r = 0; r < kTpoRows; ++r) {
        for (int q = 1; q < grid.usedColumns(r); ++q) {
            const TpoCell& cell = grid.at(r, q);
            if (cell.empty())
                continue;
            list.add(TextOp{kChartMarkX + kChartColumnPitch * (q - 1), RowTop(r),
                            std::string(cell.label.view()), cell.isUp() ? kRed : kBlue,
                            cell.edgeBar ? bold : normal});
        }
    }

    if (layout.longZ)
        list.add(AverageLine(*layout.longZ, layout.widest, kLongAveragePen));
    if (layout.shortZ)
        list.add(AverageLine(*layout.shortZ, layout.widest, kShortAveragePen));
    return list;
}

} // namespace velmora
