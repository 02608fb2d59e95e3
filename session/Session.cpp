#include "session/Session.h"

namespace velmora {

Session::Session() { InitCatalogue(catalogue); }

Session::~Session() = default;

} // namespace velmora
