#pragma once

#include "analysis/DrawList.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <string>

class QPagedPaintDevice;
class QPainter;

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
// answers false with the reason in `*error`; no partial file is left. Needs a running
// QGuiApplication (fonts).
bool WriteDrawListImage(const DrawList& list, int width, int height, const QString& path,
                        ImageFormat format, std::string* error);

// How a scrolled page goes onto paper: the width its drawing uses, scaled to the sheet's width
// (never larger than `maxScale`), and its rows continued on as many sheets as they need, each
// sheet ending on a whole row.
struct PrintPlan {
    int width = 0; // the page's units across a sheet
    double scale = 1.0;
    int sheetHeight = 0; // the page's units on one sheet
    int sheets = 0;
};
PrintPlan PlanPrint(const DrawList& list, QSize sheet, double maxScale);

// The width the list's lines and texts reach (the ground of the page aside); the page's width
// when they reach no further. Needs fonts, like the painter.
int UsedWidth(const DrawList& list);

// Prints a scrolled page over as many sheets as the plan says, or a drawing without a page as
// it is; `painter` is active on `device`, whose sheets are `sheet` device pixels.
void PrintDrawList(QPainter& painter, QPagedPaintDevice& device, const DrawList& list, QSize sheet,
                   double maxScale);

} // namespace velmora
