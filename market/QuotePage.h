#pragma once

#include <string_view>

namespace velmora {

// Writes the quotes of a quote page into the catalogue and lets each quote's selling price
// extend the newest half-hour bar of its commodity.
void ParseQuotes(std::string_view body);

} // namespace velmora
