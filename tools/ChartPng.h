#pragma once

#include "analysis/DrawList.h"
#include "analysis/ValueChart.h"

#include <string>

namespace velmora {

// The screen width a chart page is laid out for when none is given.
inline constexpr int kDefaultScreenWidth = 1280;

// Paints a drawing list into a white image of the given size through the same painter the
// windows use, and saves it as PNG. Starts an offscreen QGuiApplication for the duration when
// there is none. On failure answers false and says why in `error`.
bool WriteDrawListPng(const DrawList& list, int width, int height, const std::string& path,
                      std::string& error);

// The drawn chart of `state` on its page (page width and height) as PNG.
bool WriteChartPng(const ValueChartState& state, int screenWidth, const std::string& path,
                   std::string& error);

} // namespace velmora
