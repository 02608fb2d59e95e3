#pragma once

#include <QImage>
#include <string_view>

namespace velmora {

// `text` as a QR code (error correction level M): black modules of `scale` pixels on white,
// with the standard quiet zone of four modules. A null image when the text does not fit.
QImage QrCodeImage(std::string_view text, int scale);

} // namespace velmora
