#include "app/ProfileLayerSetting.h"

#include "platform/RegistryKey.h"
#include "platform/SettingsStore.h"

#include <string>
#include <string_view>

namespace velmora {

namespace {

constexpr std::string_view kProfileLayerName = "VELMORA_PROFILE";

} // namespace

bool ReadProfileLayerShown()
{
    const std::filesystem::path store = SettingsStore::defaultPath();
    std::string value;
    return !store.empty() && ReadProgramSetting(store, kProfileLayerName, value) && value == "1";
}

void WriteProfileLayerShown(bool shown)
{
    const std::filesystem::path store = SettingsStore::defaultPath();
    if (store.empty())
        return;
    const SettingsStore settings(store);
    if (settings.prepare())
        settings.write(kRegistry.subKey, kProfileLayerName, shown ? "1" : "0");
}

} // namespace velmora
