#include "tools/ChartPng.h"

#include "analysis/DrawListPainter.h"
#include "analysis/ValueChartDrawing.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QString>
#include <optional>

namespace velmora {

bool WriteDrawListPng(const DrawList& list, int width, int height, const std::string& path,
                      std::string& error)
{
    if (width <= 0 || height <= 0) {
        error = "empty image " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }

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

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) {
        error =
            "cannot allocate a " + std::to_string(width) + "x" + std::to_string(height) + " image";
        return false;
    }
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        PaintDrawList(painter, list);
    }
    if (!image.save(QString::fromStdString(path), "PNG")) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

bool WriteChartPng(const ValueChartState& state, int screenWidth, const std::string& path,
                   std::string& error)
{
    const DrawList list = DrawValueChart(state.layout, state.grid, screenWidth);
    return WriteDrawListPng(list, list.page->width, list.page->height, path, error);
}

} // namespace velmora
