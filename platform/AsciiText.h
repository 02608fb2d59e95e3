#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace velmora {

// ASCII letters and digits, whatever the locale says.
constexpr bool IsAsciiAlnum(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

constexpr char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The C0 control bytes and DEL: what a line-oriented text must not carry as they are.
constexpr bool IsAsciiControl(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

// The upper-case hex digit of the low four bits of `value`.
constexpr char UpperHexDigit(unsigned value) { return "0123456789ABCDEF"[value & 0x0F]; }

// The letters A to Z lowered; every other byte (UTF-8 and GBK ones too) kept.
inline std::string AsciiLowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), AsciiLower);
    return text;
}

// Names that differ at most in the case of ASCII letters: header, key and section names.
inline bool SameAsciiName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

// The bytes a URL carries as they are: letters, digits, '-', '.', '_' and '~'.
constexpr bool IsUrlUnreserved(char c)
{
    return IsAsciiAlnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

} // namespace velmora
