#pragma once

#include <string>

namespace velmora {

// Writes the quotes of a quote page into the catalogue and lets each quote's selling price
// extend the newest half-hour bar of its commodity.
void ParseQuotes(const std::string& body);

// One poll: fetches the quote page through the HTTP client, when there is one, and parses it.
void PollQuotes();

} // namespace velmora
