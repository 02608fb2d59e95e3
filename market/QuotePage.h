#pragma once

#include "market/BarStore.h"
#include "market/Catalogue.h"

#include <string_view>

namespace velmora {

// Writes the quotes of a quote page into `catalogue`. A quote whose time lies past the end
// of a period's newest bar begins that period's next bar at its selling price (the bar
// store's observer is told); then the selling price extends the newest half-hour bar of its
// commodity.
void ParseQuotes(std::string_view body, Catalogue& catalogue, BarStore& bars);

} // namespace velmora
