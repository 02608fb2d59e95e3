#pragma once

#include "platform/MessageSink.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Keeps every message, in order.
class RecordingMessageSink final : public MessageSink {
public:
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    std::vector<std::string> messages;
};

} // namespace velmora
