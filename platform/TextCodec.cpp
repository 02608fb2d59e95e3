#include "platform/TextCodec.h"

#include "platform/AsciiText.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace velmora {

namespace {

// Descriptors are cached per thread: iconv_t carries conversion state and must not be
// shared, and opening one costs a module lookup that wire parsing would repeat per field.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(::iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            ::iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

// Length of the well-formed UTF-8 sequence starting `text`, or 0 if there is none.
std::size_t Utf8SequenceLength(const char* text, std::size_t size)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte, excluding overlong forms,
    unsigned char high = 0xBF; // surrogates and code points past U+10FFFF
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (size < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < low || byte > high)
            return 0;
        low = 0x80;
        high = 0xBF;
    }
    return length;
}

// How many input bytes a failure at `text` spoils; always at least one so conversion
// always moves on.
using SkipRule = std::size_t (*)(const char* text, std::size_t size, bool truncated);

std::size_t SkipGbk(const char*, std::size_t, bool) { return 1; }

std::size_t SkipUtf8(const char* text, std::size_t size, bool truncated)
{
    // A well-formed character GBK lacks is skipped whole; a character cut off by the end of
    // the input counts as one; any other bad byte stands alone.
    if (const std::size_t length = Utf8SequenceLength(text, size); length > 0)
        return length;
    return truncated ? size : 1;
}

std::string Convert(const Converter& converter, std::string_view input,
                    std::string_view replacement, SkipRule skip)
{
    std::string output;
    output.reserve(input.size() + input.size() / 2);
    if (converter.valid())
        ::iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);

    char* in = const_cast<char*>(input.data()); // iconv's signature; it does not write
    std::size_t inLeft = input.size();
    char chunk[4096];
    while (inLeft > 0) {
        int error = EILSEQ;
        if (converter.valid()) {
            char* out = chunk;
            std::size_t outLeft = sizeof chunk;
            const std::size_t result = ::iconv(converter.get(), &in, &inLeft, &out, &outLeft);
            error = errno;
            output.append(chunk, static_cast<std::size_t>(out - chunk));
            if (result != static_cast<std::size_t>(-1) || error == E2BIG)
                continue;
        } else if (static_cast<unsigned char>(*in) < 0x80) {
            // Without the system's converter ASCII still gets through intact.
            output += *in;
            ++in;
            --inLeft;
            continue;
        }
        const std::size_t spoiled = std::min(inLeft, skip(in, inLeft, error == EINVAL));
        output += replacement;
        in += spoiled;
        inLeft -= spoiled;
    }
    return output;
}

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    thread_local const Converter decoder("UTF-8", "GBK");
    return Convert(decoder, gbk, "\xEF\xBF\xBD", SkipGbk);
}

std::string Utf8ToGbk(std::string_view utf8)
{
    thread_local const Converter encoder("GBK", "UTF-8");
    return Convert(encoder, utf8, "?", SkipUtf8);
}

void ToUtf8(std::string& text) { text = GbkToUtf8(text); }

std::string EscapeControlBytes(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    AppendControlEscaped(text, out, {});
    return out;
}

void AppendControlEscaped(std::string_view text, std::string& out, std::string_view alsoAsHex)
{
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (IsAsciiControl(c) || alsoAsHex.find(c) != std::string_view::npos) {
                const auto byte = static_cast<unsigned char>(c);
                out += "\\x";
                out += UpperHexDigit(byte >> 4u);
                out += UpperHexDigit(byte);
            } else {
                out += c;
            }
        }
    }
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace velmora
