#include "session/Session.h"

namespace velmora {

Session::Session() = default;

Session::~Session() = default;

} // namespace velmora
