#include "tools/ChartImage.h"

#include "analysis/DrawListExport.h"
#include "analysis/ValueChartDrawing.h"
#include "analysis/ValueProfile.h"

#include <QGuiApplication>
#include <QString>
#include <optional>

namespace velmora {

bool WriteChartImage(const ValueChartState& state, int screenWidth, bool profile,
                     const std::string& path, ImageFormat format, std::string* error)
{
    // Fonts need a GUI application; a tool run has no display, so unless told otherwise the
    // offscreen platform is used.
    int argc = 1;
    char name[] = "velmora-tool";
    char* argv[] = {name, nullptr};
    std::optional<QGuiApplication> application;
    if (QGuiApplication::instance() == nullptr) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application.emplace(argc, argv);
    }
    DrawList list = DrawValueChart(state.layout, state.grid, screenWidth);
    if (profile) {
        if (const auto measures = ProfileOf(state.layout, state.grid))
            AddProfileLayer(list, state.layout, *measures);
    }
    return WriteDrawListImage(list, list.page->width, list.page->height,
                              QString::fromStdString(path), format, error);
}

} // namespace velmora
