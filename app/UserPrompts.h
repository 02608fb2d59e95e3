#pragma once

#include "platform/MessageSink.h"

#include <deque>
#include <string>
#include <vector>

class QWidget;

namespace velmora {

// The program's modal message boxes, with the program's name as caption. Logic reports
// through the MessageSink half; the windows also ask Yes/No questions.
class UserPrompts : public MessageSink {
public:
    virtual bool askYesNo(std::string_view question) = 0;
};

// Real message boxes.
class MessageBoxPrompts final : public UserPrompts {
public:
    explicit MessageBoxPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }
    void showMessage(std::string_view text) override;
    bool askYesNo(std::string_view question) override;

private:
    QWidget* m_parent;
};

// For tests: records every box and answers questions from a queue (No when it is empty).
class ScriptedPrompts final : public UserPrompts {
public:
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    bool askYesNo(std::string_view question) override;

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::deque<bool> answers;
};

} // namespace velmora
