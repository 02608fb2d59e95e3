#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Conversions for the wire formats that carry GBK; everything inside the program is UTF-8.
// Bad input never fails a conversion: an undecodable GBK byte becomes U+FFFD and decoding
// resumes at the next byte, and anything GBK cannot hold (including malformed UTF-8) becomes
// '?', one per character.

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// Replaces GBK text in place by its UTF-8 form.
void ToUtf8(std::string& text);

// Text from outside for a line-oriented output (a CSV record, a report line): backslash,
// newline, carriage return and tab become \\, \n, \r and \t, every other control byte and
// DEL \xHH, so that one record always stays one line and the escapes read back unambiguously.
std::string EscapeControlBytes(std::string_view text);

// The same escape appended to `out`, with the bytes of `alsoAsHex` (a format's own delimiters)
// written \xHH too.
void AppendControlEscaped(std::string_view text, std::string& out, std::string_view alsoAsHex);

// The value of a hexadecimal digit of either case, or -1.
int HexDigitValue(char c);

} // namespace velmora
