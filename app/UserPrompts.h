#pragma once

#include "platform/MessageSink.h"

#include <string_view>

class QWidget;

namespace velmora {

// The program's modal message boxes, with the program's name as caption. Logic reports
// through the MessageSink half; the windows also ask Yes/No questions.
class UserPrompts : public MessageSink {
public:
    // `defaultNo` makes 否 the button that Enter presses.
    virtual bool askYesNo(std::string_view question, bool defaultNo = false) = 0;
};

// Real message boxes.
class MessageBoxPrompts final : public UserPrompts {
public:
    explicit MessageBoxPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    void showMessage(std::string_view text) override;
    bool askYesNo(std::string_view question, bool defaultNo = false) override;

private:
    QWidget* m_parent;
};

} // namespace velmora
