#include "app/QrCode.h"

#include <memory>
#include <qrencode.h>
#include <string>

namespace velmora {

QImage QrCodeImage(std::string_view text, int scale)
{
    constexpr int kQuietZone = 4;
    const std::string data(text);
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(data.c_str(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code || scale < 1)
        return {};
    const int modules = code->width;
    const int side = (modules + 2 * kQuietZone) * scale;
    QImage image(side, side, QImage::Format_Mono);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    image.fill(0);
    for (int y = 0; y < modules; ++y)
        for (int x = 0; x < modules; ++x) {
            if (!(code->data[y * modules + x] & 1))
                continue;
            for (int dy = 0; dy < scale; ++dy)
                for (int dx = 0; dx < scale; ++dx)
                    image.setPixel((kQuietZone + x) * scale + dx, (kQuietZone + y) * scale + dy, 1);
        }
    return image;
}

} // namespace velmora
