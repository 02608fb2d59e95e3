#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Every byte outside the unreserved set (letters, digits, "-._~") as "%XX" with upper-case
// hex digits, a space included: the result can stand as a query or form value whatever the
// bytes were, and "&", "=", "+", "%", "#" or ";" inside it never reach the parser as syntax.
std::string PercentEncode(std::string_view bytes);

// The bytes of a form or query value: "%XX" decoded, "+" a blank; a "%" that starts no
// escape stays as it came.
std::string PercentDecode(std::string_view text);

} // namespace velmora
