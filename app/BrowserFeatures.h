#pragma once

#include <array>
#include <string_view>

namespace velmora {

// The help view's browser switches, in the order they are applied at every start of the
// browser engine (when the first help window opens):
//   FEATURE_BROWSER_EMULATION 10000  standards mode (the engine knows no other)
//   FEATURE_BLOCK_LMZ_IMG / _OBJECT / _SCRIPT  no images, objects or scripts from local files
//   FEATURE_Cross_Domain_Redirect_Mitigation    local content never leads to another origin
//   FEATURE_ENABLE_SCRIPT_PASTE_URLACTION_IF_PROMPT  scripts may paste
//   FEATURE_LOCALMACHINE_LOCKDOWN   local content reaches no other local files
//   FEATURE_GPU_RENDERING           GPU rendering (WebGL, accelerated canvas)
struct BrowserFeature {
    std::string_view name;
    unsigned value;
};

inline constexpr std::array<BrowserFeature, 8> kBrowserFeatures{{
    {"FEATURE_BROWSER_EMULATION", 10000},
    {"FEATURE_BLOCK_LMZ_IMG", 1},
    {"FEATURE_BLOCK_LMZ_OBJECT", 1},
    {"FEATURE_BLOCK_LMZ_SCRIPT", 1},
    {"FEATURE_Cross_Domain_Redirect_Mitigation", 1},
    {"FEATURE_ENABLE_SCRIPT_PASTE_URLACTION_IF_PROMPT", 1},
    {"FEATURE_LOCALMACHINE_LOCKDOWN", 1},
    {"FEATURE_GPU_RENDERING", 1},
}};

} // namespace velmora
