#include "market/TextNumbers.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace velmora {

namespace {

// Skips leading blanks and one sign; answers whether the sign was a minus.
bool SkipBlanksAndSign(std::string_view text, std::size_t& i)
{
    i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    return negative;
}

} // namespace

double LeadingDouble(std::string_view text)
{
    std::size_t i = 0;
    const bool negative = SkipBlanksAndSign(text, i);
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        return 0.0;
    double value = 0.0;
    const auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
    if (result.ec != std::errc{})
        return 0.0;
    return negative ? -value : value;
}

std::int32_t LeadingInt32(std::string_view text)
{
    std::size_t i = 0;
    const bool negative = SkipBlanksAndSign(text, i);
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{INT32_MAX} + 1)
            break;
    }
    value = negative ? -value : value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

std::int32_t Low32OfTruncated(double value)
{
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18)
        return 0;
    const auto whole = static_cast<std::int64_t>(value);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(whole & 0xffffffff));
}

std::vector<std::string_view> SplitFields(std::string_view record)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = record.find(',', start);
        fields.push_back(
            record.substr(start, comma == std::string_view::npos ? record.npos : comma - start));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return fields;
}

std::string FixedDecimals(double value, int decimals)
{
    // Room for the largest double written out in full.
    char text[400];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc{})
        return {};
    return std::string(text, result.ptr);
}

std::string FormatQuotePrice(double value) { return FixedDecimals(value, value >= 10 ? 3 : 5); }

} // namespace velmora
