#pragma once

#include "analysis/DrawListExport.h"
#include "analysis/ValueChart.h"

#include <string>

namespace velmora {

// The screen width a chart page is laid out for when none is given.
inline constexpr int kDefaultScreenWidth = 1280;

// The drawn chart of `state` on its page (page width and height) as PNG or SVG, through the
// same drawing list and export as the windows' 另存为图片. Starts an offscreen QGuiApplication
// for the duration when there is none. With `profile` the page carries the profile layer as a
// chart window draws it. On failure answers false with the reason in `*error`.
bool WriteChartImage(const ValueChartState& state, int screenWidth, bool profile,
                     const std::string& path, ImageFormat format, std::string* error);

} // namespace velmora
