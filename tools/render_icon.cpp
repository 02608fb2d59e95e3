// velmora-render-icon: the program's icon from its SVG at the sizes of the icon theme.
//   velmora-render-icon SVG OUTDIR SIZE...   writes OUTDIR/SIZExSIZE.png for each size

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc < 4) {
        std::fputs("usage: velmora-render-icon SVG OUTDIR SIZE...\n", stderr);
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "velmora-render-icon: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        if (size <= 0)
            return 2;
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString out =
            QStringLiteral("%1/%2x%2.png").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        if (!image.save(out)) {
            std::fprintf(stderr, "velmora-render-icon: cannot write %s\n", qPrintable(out));
            return 1;
        }
    }
    return 0;
}
