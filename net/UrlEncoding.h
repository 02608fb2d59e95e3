#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Every byte outside the unreserved set (letters, digits, "-._~") as "%XX" with upper-case
// hex digits, a space included: the result can stand as a query or form value whatever the
// bytes were, and "&", "=", "+", "%", "#" or ";" inside it never reach the parser as syntax.
std::string PercentEncode(std::string_view bytes);

} // namespace velmora
