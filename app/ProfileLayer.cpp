#include "app/ProfileLayer.h"

#include "app/ProfileLayerSetting.h"

namespace velmora {

bool ProfileLayerSwitch::shown() const
{
    if (!m_shown)
        m_shown = ReadProfileLayerShown();
    return *m_shown;
}

void ProfileLayerSwitch::setShown(bool shown)
{
    const bool changed = shown != this->shown();
    m_shown = shown;
    WriteProfileLayerShown(shown);
    if (changed)
        emit shownChanged(shown);
}

} // namespace velmora
