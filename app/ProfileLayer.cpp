#include "app/ProfileLayer.h"

#include "app/ProfileLayerSetting.h"

namespace velmora {

CProfileLayerSwitch& CProfileLayerSwitch::instance()
{
    static CProfileLayerSwitch layerSwitch;
    return layerSwitch;
}

bool CProfileLayerSwitch::shown() const { return ProfileLayerShown(); }

void CProfileLayerSwitch::setShown(bool shown)
{
    const bool changed = shown != ProfileLayerShown();
    SetProfileLayerShown(shown);
    if (changed)
        emit shownChanged(shown);
}

} // namespace velmora
