#include "app/ImageToolBar.h"

#include <QAction>
#include <QActionEvent>
#include <QBitmap>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QtEndian>

namespace velmora {

namespace {

QString BitmapPath(int id) { return QStringLiteral(":/res/toolbar/toolbar%1.bmp").arg(id); }

} // namespace

CImageToolBar::CImageToolBar(QWidget* parent) : QToolBar(parent)
{
    setIconSize(QSize(32, 32));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
}

bool CImageToolBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip)
        return true;
    return QToolBar::eventFilter(watched, event);
}

void CImageToolBar::actionEvent(QActionEvent* event)
{
    QToolBar::actionEvent(event);
    if (event->type() == QEvent::ActionAdded) {
        if (QWidget* button = widgetForAction(event->action()))
            button->installEventFilter(this);
    }
}

std::optional<QColor> CImageToolBar::keyColour(const QByteArray& bmp)
{
    if (bmp.size() < 54 || !bmp.startsWith("BM"))
        return std::nullopt;
    const auto offset = qFromLittleEndian<quint32>(bmp.constData() + 10);
    if (offset + 3 > quint32(bmp.size()))
        return std::nullopt;
    const auto* pixel = reinterpret_cast<const uchar*>(bmp.constData()) + offset;
    return QColor(pixel[2], pixel[1], pixel[0]);
}

bool CImageToolBar::LoadImageStrips(int buttonWidth, int normalBitmap, int hotBitmap,
                                    int disabledBitmap)
{
    // Buttons in order, separators skipped.
    QList<QAction*> buttons;
    for (QAction* action : actions()) {
        if (!action->isSeparator())
            buttons.append(action);
    }
    const std::pair<int, QIcon::Mode> strips[] = {{normalBitmap, QIcon::Normal},
                                                  {hotBitmap, QIcon::Active},
                                                  {disabledBitmap, QIcon::Disabled}};
    std::vector<QIcon> icons(buttons.size());
    for (int i = 0; i < buttons.size(); ++i)
        icons[i] = buttons[i]->icon();

    for (const auto& [bitmap, mode] : strips) {
        if (bitmap == 0)
            continue;
        QFile file(BitmapPath(bitmap));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray bytes = file.readAll();
        const std::optional<QColor> key = keyColour(bytes);
        QImage strip = QImage::fromData(bytes, "BMP");
        if (!key || strip.isNull() || buttonWidth <= 0)
            return false;
        QPixmap pixmap = QPixmap::fromImage(strip);
        pixmap.setMask(QBitmap::fromImage(strip.createMaskFromColor(key->rgb(), Qt::MaskInColor)));
        const int count = strip.width() / buttonWidth;
        for (int i = 0; i < buttons.size() && i < count; ++i)
            icons[i].addPixmap(pixmap.copy(i * buttonWidth, 0, buttonWidth, strip.height()), mode);
        for (int i = 0; i < buttons.size(); ++i)
            buttons[i]->setIcon(icons[i]);
    }
    return true;
}

} // namespace velmora
