#include "app/ProfileLayerSetting.h"

#include "platform/RegistryKey.h"
#include "platform/SettingsStore.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmora {

namespace {

constexpr std::string_view kProfileLayerName = "VELMORA_PROFILE";

std::optional<bool> shownSetting;

} // namespace

bool ProfileLayerShown()
{
    if (!shownSetting) {
        const std::filesystem::path store = SettingsStore::DefaultPath();
        std::string value;
        shownSetting = !store.empty() &&
                       SettingsStore(store).Read(kRegistry.subKey, kProfileLayerName, value) &&
                       value == "1";
    }
    return *shownSetting;
}

void SetProfileLayerShown(bool shown)
{
    shownSetting = shown;
    const std::filesystem::path store = SettingsStore::DefaultPath();
    if (store.empty())
        return;
    const SettingsStore settings(store);
    if (settings.Prepare())
        settings.Write(kRegistry.subKey, kProfileLayerName, shown ? "1" : "0");
}

void ReloadProfileLayerSetting() { shownSetting.reset(); }

} // namespace velmora
