#pragma once

#include "analysis/DrawList.h"

#include <QFont>
#include <QRect>
#include <optional>

class QPainter;

namespace velmora {

// Maps the Song face the drawings ask for to the Song face installed on Linux, for machines
// whose fontconfig lacks the project's alias file. Safe to call more than once.
void InstallChartFontSubstitution();

// Executes a drawing list with a painter, as GDI would have drawn it. Needs a running
// QGuiApplication (fonts). The painter's state is restored afterwards.
//
// Text: a font height is the height of the text cell (ascent + descent), as a positive GDI
// height means, not the em size. The font gets the largest pixel size whose ascent + descent
// fits that height, so with a face whose line metrics are taller than its em (the CJK
// fallbacks) the glyphs come out smaller, exactly as GDI would scale the same face. The text
// is then drawn on the baseline at the text's top + that font's ascent, so that the cell
// starts at the given y and stays within the height.
//
// `exposed` is the part of the list's coordinates that needs painting (a widget's exposed
// rectangle, moved by its scroll position); texts wholly outside it and outside the
// painter's clip are skipped. Without it every text is drawn.
void PaintDrawList(QPainter& painter, const DrawList& list,
                   const std::optional<QRect>& exposed = std::nullopt);

// The font a text in `spec` is drawn with (pixel-sized) and the distance from the top of its
// cell to the baseline, as PaintDrawList fits them; for writers that place texts themselves.
struct FittedTextFont {
    QFont font;
    int ascent = 0;
    int cellHeight = 0;
};
FittedTextFont FitTextFont(const Font& spec);

} // namespace velmora
