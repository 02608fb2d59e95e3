#pragma once

#include "analysis/DrawList.h"

#include <QImage>
#include <QString>
#include <string>

namespace velmora {

// A drawing list on a white image of the given size, through the same painter as the
// windows; a null image when the size is empty or too large to allocate.
QImage RenderDrawList(const DrawList& list, int width, int height);

enum class ImageFormat { Png, Svg };

// The format a file name asks for: SVG for ".svg", else PNG.
ImageFormat ImageFormatOf(const QString& path);

// Writes the drawing as an image file. The SVG is the same page as the PNG: the rectangles and
// lines at the pixels the painter covers, each text as a text element with its string, font
// and colour on the painter's baseline, an opaque text's cell filled behind it. On failure
// answers false and says why in `error`; no partial file is left. Needs a running
// QGuiApplication (fonts).
bool WriteDrawListImage(const DrawList& list, int width, int height, const QString& path,
                        ImageFormat format, std::string& error);

} // namespace velmora
