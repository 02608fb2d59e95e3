#pragma once

#include <QToolBar>
#include <optional>

namespace velmora {

// Toolbar whose button images come from one strip of equal-width images with a key colour
// marking transparent pixels.
class CImageToolBar : public QToolBar {
    Q_OBJECT

public:
    explicit CImageToolBar(QWidget* parent = nullptr);

    // Gives the buttons their normal, hot and disabled images from bitmap resources (0 skips
    // one). Answers false when a strip cannot be loaded; the strips after it are not loaded.
    bool LoadImageStrips(int buttonWidth, int normalBitmap, int hotBitmap, int disabledBitmap);

    // The key colour of a bitmap file: the first three bytes of its pixel data, as blue,
    // green, red.
    static std::optional<QColor> keyColour(const QByteArray& bmpFile);

    // The buttons show their prompts in the status bar only, never as tooltips.
    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    void actionEvent(QActionEvent* event) override;
};

} // namespace velmora
