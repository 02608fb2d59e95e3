#include "platform/LockKeys.h"

#include <QGuiApplication>
#include <X11/XKBlib.h>

namespace velmora {

std::optional<LockKeyState> ReadLockKeys()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return std::nullopt;
    unsigned int indicators = 0;
    if (XkbGetIndicatorState(display, XkbUseCoreKbd, &indicators) != Success)
        return std::nullopt;
    // The core keyboard's first three indicators are Caps, Num and Scroll Lock.
    return LockKeyState{(indicators & 1u) != 0, (indicators & 2u) != 0, (indicators & 4u) != 0};
}

} // namespace velmora
