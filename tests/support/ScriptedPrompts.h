#pragma once

#include "app/UserPrompts.h"

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Records every box and answers questions from a queue (No when it is empty).
class ScriptedPrompts final : public UserPrompts {
public:
    void showMessage(std::string_view text) override { messages.emplace_back(text); }
    bool askYesNo(std::string_view question, bool defaultNo = false) override
    {
        questions.emplace_back(question);
        questionDefaultsNo.push_back(defaultNo);
        if (answers.empty())
            return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<bool> questionDefaultsNo;
    std::deque<bool> answers;
};

} // namespace velmora
