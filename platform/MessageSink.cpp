#include "platform/MessageSink.h"

#include <cstdio>

namespace velmora {

void StderrMessageSink::showMessage(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

} // namespace velmora
