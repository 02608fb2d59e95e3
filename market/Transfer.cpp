#include "market/Transfer.h"

namespace velmora {

namespace {
TransferRunner& Runner()
{
    static TransferRunner runner;
    return runner;
}
} // namespace

void SetTransferRunner(TransferRunner runner) { Runner() = std::move(runner); }

void RunTransfer(const std::function<void()>& transfer)
{
    if (Runner())
        Runner()(transfer);
    else
        transfer();
}

} // namespace velmora
