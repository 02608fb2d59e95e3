#pragma once

#include <functional>

namespace velmora {

// Runs one blocking network transfer. The program replaces the default (run it right here)
// by one that moves the transfer off the window's thread and keeps the window painting
// until it ends; the caller still sees a synchronous call.
using TransferRunner = std::function<void(const std::function<void()>& transfer)>;

void SetTransferRunner(TransferRunner runner);
void RunTransfer(const std::function<void()>& transfer);

} // namespace velmora
