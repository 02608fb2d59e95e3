#include "analysis/DrawListExport.h"

#include "analysis/DrawListPainter.h"

#include <QPainter>
#include <QSvgGenerator>

namespace velmora {

QImage RenderDrawList(const DrawList& list, int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintDrawList(painter, list);
    return image;
}

ImageFormat ImageFormatOf(const QString& path)
{
    return path.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive) ? ImageFormat::Svg
                                                                      : ImageFormat::Png;
}

bool WriteDrawListImage(const DrawList& list, int width, int height, const QString& path,
                        ImageFormat format, std::string& error)
{
    if (width <= 0 || height <= 0) {
        error = "empty image " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    if (format == ImageFormat::Svg) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(QSize(width, height));
        svg.setViewBox(QRect(0, 0, width, height));
        svg.setTitle(QStringLiteral("Velmora"));
        QPainter painter;
        if (!painter.begin(&svg)) {
            error = "cannot write " + path.toStdString();
            return false;
        }
        painter.fillRect(0, 0, width, height, Qt::white);
        PaintDrawList(painter, list);
        if (!painter.end()) {
            error = "cannot write " + path.toStdString();
            return false;
        }
        return true;
    }
    const QImage image = RenderDrawList(list, width, height);
    if (image.isNull()) {
        error =
            "cannot allocate a " + std::to_string(width) + "x" + std::to_string(height) + " image";
        return false;
    }
    if (!image.save(path, "PNG")) {
        error = "cannot write " + path.toStdString();
        return false;
    }
    return true;
}

} // namespace velmora
