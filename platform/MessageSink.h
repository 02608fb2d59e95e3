#pragma once

#include <string_view>

namespace velmora {

// Where logic code sends the messages the user must see. The program shows each one as a
// modal message box; tests record them; command-line tools print them.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(std::string_view text) = 0;
};

// Writes each message as a line on standard error.
class StderrMessageSink final : public MessageSink {
public:
    void showMessage(std::string_view text) override;
};

} // namespace velmora
