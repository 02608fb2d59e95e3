#pragma once

#include <functional>

namespace velmora {

// Runs a network transfer on a worker thread while this thread waits in a local event loop
// that keeps painting but takes no user input, so the window never freezes and the
// program's order of events stays as if the call were synchronous. Called off the GUI
// thread, or without an application object, the transfer simply runs in place.
void RunOffGuiThread(const std::function<void()>& transfer);

// Whether a transfer is running right now; timer work that would start another one waits.
bool TransferInProgress();

} // namespace velmora
