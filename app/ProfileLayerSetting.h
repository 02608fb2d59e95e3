#pragma once

namespace velmora {

// Whether the chart windows draw the profile layer (价值区), as the settings store keeps it:
// off until the user turns it on, then as last chosen.
bool ReadProfileLayerShown();

// Keeps the choice in the settings store.
void WriteProfileLayerShown(bool shown);

} // namespace velmora
