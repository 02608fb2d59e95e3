#pragma once

#include <charconv>
#include <optional>
#include <string_view>

namespace velmora {

// A whole text read as one number, nothing before or after it (command-line values, query
// parameters, configuration entries). Independent of the C locale.
template <typename T> std::optional<T> ParseExactNumber(std::string_view text)
{
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// The same into an existing variable, which keeps its value when the text is not a number.
template <typename T> bool ParseExactNumber(std::string_view text, T& value)
{
    const std::optional<T> parsed = ParseExactNumber<T>(text);
    if (parsed)
        value = *parsed;
    return parsed.has_value();
}

} // namespace velmora
