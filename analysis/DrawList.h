#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace velmora {

// What a paint pass draws, as plain data: made without any toolkit and executed later by a
// painter. Coordinates are logical units, one unit = one pixel.

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kBlue{0, 0, 255};

inline constexpr int kNormalWeight = 400;
inline constexpr int kBoldWeight = 700;

// The Song face every chart and board text asks for.
inline constexpr std::string_view kSongFace = "宋体";

struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

// A solid pen.
struct Pen {
    Rgb colour;
    int width = 1;
    friend bool operator==(const Pen&, const Pen&) = default;
};

struct Font {
    std::string_view face; // a face name the program names, such as kSongFace
    int height = 0;        // the text cell (ascent + descent) in pixels, as a positive GDI height
    int weight = kNormalWeight;
    friend bool operator==(const Font&, const Font&) = default;
};

// A rectangle drawn the way GDI's Rectangle draws it: outlined with the pen and filled with
// the brush, covering the pixels left..right-1 and top..bottom-1.
struct RectOp {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    Rgb brush;
    Pen pen;
    friend bool operator==(const RectOp&, const RectOp&) = default;
};

// A straight line; like a GDI line, its last point is not drawn.
struct LineOp {
    Point from;
    Point to;
    Pen pen;
    friend bool operator==(const LineOp&, const LineOp&) = default;
};

// A text whose cell has its top-left corner at (x, y). An opaque text first fills its cell
// (the text's advance wide, the font's cell high) with the background colour.
struct TextOp {
    int x = 0;
    int y = 0;
    std::string text; // UTF-8
    Rgb colour;
    Font font;
    Rgb background = kWhite;
    bool opaque = true;
    friend bool operator==(const TextOp&, const TextOp&) = default;
};

using DrawOp = std::variant<RectOp, LineOp, TextOp>;

struct PageSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const PageSize&, const PageSize&) = default;
};

// Default scroll steps over a page: a page step is a tenth of the page, a line step a tenth of
// a page step.
PageSize PageStep(PageSize page);
PageSize LineStep(PageSize page);

struct DrawList {
    std::vector<DrawOp> ops;
    // The scrolled page the drawing lives on; none when the drawing fills the client area.
    std::optional<PageSize> page;

    template <typename Op> void add(Op&& op) { ops.emplace_back(std::forward<Op>(op)); }
};

} // namespace velmora
