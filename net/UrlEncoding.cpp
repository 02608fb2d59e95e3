#include "net/UrlEncoding.h"

#include "platform/AsciiText.h"
#include "platform/TextCodec.h"

namespace velmora {

std::string PercentEncode(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (IsUrlUnreserved(c)) {
            out += c;
        } else {
            out += '%';
            out += UpperHexDigit(b >> 4u);
            out += UpperHexDigit(b);
        }
    }
    return out;
}

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace velmora
