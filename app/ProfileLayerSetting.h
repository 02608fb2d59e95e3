#pragma once

namespace velmora {

// Whether the chart windows draw the profile layer (价值区). Off until the user turns it on,
// then as last chosen: the choice is kept in the settings store, read the first time it is
// asked for.
bool ProfileLayerShown();

// Sets it for every chart window and keeps it in the settings store.
void SetProfileLayerShown(bool shown);

// Forgets what was read, so that the next question reads the store again.
void ReloadProfileLayerSetting();

} // namespace velmora
