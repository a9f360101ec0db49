#pragma once

#include "store/Platform.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace pelwick::testing {

/// Dialogs that answer what the test scripted, in order per kind; an unscripted dialog is
/// cancelled. `whileOpen` runs while a dialog is "on screen".
class ScriptedDialogs : public Dialogs {
public:
    using Answer = std::optional<std::filesystem::path>;

    Answer saveFile(const std::string&, const std::string&) override { return answer(saveAnswers); }
    Answer openFile(const std::string&, const std::string&) override { return answer(openAnswers); }
    Answer chooseFolder(const std::string&, const std::string&) override {
        return answer(folderAnswers);
    }

    std::deque<Answer> saveAnswers;
    std::deque<Answer> openAnswers;
    std::deque<Answer> folderAnswers;
    std::function<void()> whileOpen;

private:
    Answer answer(std::deque<Answer>& answers) {
        if (whileOpen) {
            whileOpen();
        }
        if (answers.empty()) {
            return std::nullopt;
        }
        Answer next = answers.front();
        answers.pop_front();
        return next;
    }
};

} // namespace pelwick::testing
