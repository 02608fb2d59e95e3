#pragma once

#include <optional>

namespace velmora {

struct LockKeyState {
    bool capsLock = false;
    bool numLock = false;
    bool scrollLock = false;
};

// The keyboard's lock states, where the windowing system lets us read them; nullopt
// elsewhere (for instance without a display).
std::optional<LockKeyState> ReadLockKeys();

} // namespace velmora
