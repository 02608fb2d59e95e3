// Renders the toolbar's SVG icons side by side into the 24-bit BMP strip the main window loads.
//
//   velmora-make-toolbar-strip [--preview PNG] OUT.bmp (DIR | SVG...)
//   velmora-make-toolbar-strip --check STRIP.bmp
//
// Every icon becomes one 32x32 cell. Pixels the icon leaves fully transparent get the key colour
// magenta; every other pixel is the icon composited onto the light toolbar grey-blue, so
// antialiased edges blend towards the toolbar and never towards pink. The toolbar takes the key
// colour from the first pixel of the BMP data (bottom-left), which therefore has to be key.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QStringList>
#include <QSvgRenderer>
#include <cstdio>

namespace {

constexpr int kCell = 32;
constexpr QRgb kKey = 0xffff00ff;        // RGB(255,0,255)
constexpr QRgb kBackground = 0xffececf0; // RGB(236,236,240)

void Fail(const QString& message)
{
    std::fprintf(stderr, "velmora-make-toolbar-strip: %s\n", qPrintable(message));
}

// One icon, antialiased, on a fully transparent cell.
bool RenderIcon(const QString& path, QImage* cell)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) {
        Fail(QStringLiteral("cannot read SVG %1").arg(path));
        return false;
    }
    *cell = QImage(kCell, kCell, QImage::Format_ARGB32_Premultiplied);
    cell->fill(Qt::transparent);
    QPainter painter(cell);
    painter.setRenderHint(QPainter::Antialiasing, true);
    renderer.render(&painter, QRectF(0, 0, kCell, kCell));
    return true;
}

// Premultiplied icon pixel over the opaque background; fully transparent pixels become key.
QRgb Flatten(QRgb premultiplied)
{
    const int a = qAlpha(premultiplied);
    if (a == 0)
        return kKey;
    const int inv = 255 - a;
    const auto over = [inv](int src, int bg) { return qMin(255, src + (bg * inv + 127) / 255); };
    QRgb out = qRgb(over(qRed(premultiplied), qRed(kBackground)),
                    over(qGreen(premultiplied), qGreen(kBackground)),
                    over(qBlue(premultiplied), qBlue(kBackground)));
    // A drawn pixel must never read as transparent.
    if (out == kKey)
        out = qRgb(254, 0, 254);
    return out;
}

QImage BuildStrip(const QStringList& svgs, bool* ok)
{
    QImage strip(kCell * int(svgs.size()), kCell, QImage::Format_RGB32);
    strip.fill(kKey);
    *ok = true;
    for (int i = 0; i < svgs.size(); ++i) {
        QImage cell;
        if (!RenderIcon(svgs.at(i), &cell)) {
            *ok = false;
            return {};
        }
        for (int y = 0; y < kCell; ++y)
            for (int x = 0; x < kCell; ++x)
                strip.setPixel(i * kCell + x, y, Flatten(cell.pixel(x, y)));
    }
    return strip;
}

// Reads the file back and checks what the toolbar relies on: 24 bits per pixel, one row of
// 32x32 cells, each with something drawn, and the key colour in the bottom-left pixel.
bool CheckBmp(const QString& path, QImage* decoded)
{
    const auto bad = [&path](const QString& why) {
        Fail(QStringLiteral("%1: %2").arg(path, why));
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return bad(QStringLiteral("cannot open the file"));
    const QByteArray header = file.read(30);
    QImage image;
    if (header.size() < 30 || !header.startsWith("BM") || !image.load(path, "BMP"))
        return bad(QStringLiteral("not a BMP file"));
    if (header.at(28) != 24 || header.at(29) != 0)
        return bad(QStringLiteral("expected 24 bits per pixel"));
    const int w = image.width();
    const int h = image.height();
    if (h != kCell || w <= 0 || w % kCell != 0)
        return bad(QStringLiteral("size %1x%2 is not a row of 32x32 cells").arg(w).arg(h));
    image = image.convertToFormat(QImage::Format_RGB32);
    if (image.pixel(0, h - 1) != kKey)
        return bad(QStringLiteral("the bottom-left pixel is not the key colour"));
    for (int cell = 0; cell < w / kCell; ++cell) {
        bool drawn = false;
        for (int y = 0; y < kCell && !drawn; ++y)
            for (int x = 0; x < kCell && !drawn; ++x)
                drawn = image.pixel(cell * kCell + x, y) != kKey;
        if (!drawn)
            return bad(QStringLiteral("cell %1 is empty").arg(cell + 1));
    }
    if (decoded)
        *decoded = image;
    return true;
}

// The strip enlarged four times without smoothing: as stored (key visible) above, and on the
// toolbar background below.
bool WritePreview(const QImage& strip, const QString& path)
{
    constexpr int scale = 4;
    const int w = strip.width() * scale;
    const int h = strip.height() * scale;
    QImage onToolbar = strip.copy();
    for (int y = 0; y < onToolbar.height(); ++y)
        for (int x = 0; x < onToolbar.width(); ++x)
            if (onToolbar.pixel(x, y) == kKey)
                onToolbar.setPixel(x, y, kBackground);
    QImage preview(w, 2 * h + scale * 4, QImage::Format_RGB32);
    preview.fill(Qt::white);
    QPainter painter(&preview);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRect(0, 0, w, h), strip);
    painter.drawImage(QRect(0, h + scale * 4, w, h), onToolbar);
    painter.end();
    if (!preview.save(path, "PNG")) {
        Fail(QStringLiteral("cannot write %1").arg(path));
        return false;
    }
    return true;
}

QStringList CollectSvgs(const QStringList& args)
{
    if (args.size() == 1 && QFileInfo(args.first()).isDir()) {
        QDir dir(args.first());
        QStringList out;
        const QStringList names = dir.entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
        for (const QString& name : names)
            out << dir.filePath(name);
        return out;
    }
    return args;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: velmora-make-toolbar-strip [--preview PNG] OUT.bmp (DIR | SVG...)\n"
                 "       velmora-make-toolbar-strip --check STRIP.bmp [--preview PNG]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QStringList args = app.arguments().mid(1);
    QString preview;
    QString check;
    for (int i = 0; i < args.size();) {
        const QString& a = args.at(i);
        if ((a == QStringLiteral("--preview") || a == QStringLiteral("--check")) &&
            i + 1 < args.size()) {
            (a == QStringLiteral("--preview") ? preview : check) = args.at(i + 1);
            args.remove(i, 2);
        } else if (a.startsWith(QStringLiteral("--"))) {
            return Usage();
        } else {
            ++i;
        }
    }

    if (!check.isEmpty()) {
        if (!args.isEmpty())
            return Usage();
        QImage decoded;
        if (!CheckBmp(check, &decoded))
            return 1;
        if (!preview.isEmpty() && !WritePreview(decoded, preview))
            return 1;
        return 0;
    }

    if (args.size() < 2)
        return Usage();
    const QString outPath = args.takeFirst();
    const QStringList svgs = CollectSvgs(args);
    if (svgs.isEmpty()) {
        Fail(QStringLiteral("no SVG files given"));
        return 1;
    }

    bool ok = false;
    const QImage strip = BuildStrip(svgs, &ok);
    if (!ok)
        return 1;
    if (strip.pixel(0, kCell - 1) != kKey) {
        Fail(QStringLiteral("%1 draws into its bottom-left pixel, which must stay transparent")
                 .arg(svgs.first()));
        return 1;
    }

    // An image without alpha is written as a 24-bit bottom-up BMP, rows padded with zeros.
    QImage bmp = strip.convertToFormat(QImage::Format_RGB888);
    bmp.setDotsPerMeterX(2835); // 72 dpi
    bmp.setDotsPerMeterY(2835);
    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || !bmp.save(&out, "BMP") ||
        !out.commit()) {
        Fail(QStringLiteral("cannot write %1").arg(outPath));
        return 1;
    }
    QImage decoded;
    if (!CheckBmp(outPath, &decoded) || decoded != strip) {
        Fail(QStringLiteral("%1 does not read back as written").arg(outPath));
        return 1;
    }
    if (!preview.isEmpty() && !WritePreview(strip, preview))
        return 1;
    std::printf("%s: %d icons, %dx%d\n", qPrintable(outPath), int(svgs.size()), strip.width(),
                strip.height());
    return 0;
}
