#pragma once

#include "store/Platform.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pelwick::testing {

/// Dialogs that answer what the test scripted, in order per kind; an unscripted dialog is
/// cancelled. Every request is recorded, and `whileOpen` runs while a dialog is "on screen".
class ScriptedDialogs : public Dialogs {
public:
    enum class Kind { saveFile, openFile, chooseFolder };

    struct Request {
        Kind kind;
        std::string title;
        std::string detail; ///< the proposed name of a save dialog, the message of the others
    };

    using Answer = std::optional<std::filesystem::path>;

    std::optional<std::filesystem::path> saveFile(const std::string& title,
                                                  const std::string& proposedName) override {
        return answer(Kind::saveFile, title, proposedName, saveAnswers);
    }

    std::optional<std::filesystem::path> openFile(const std::string& title,
                                                  const std::string& message) override {
        return answer(Kind::openFile, title, message, openAnswers);
    }

    std::optional<std::filesystem::path> chooseFolder(const std::string& title,
                                                      const std::string& message) override {
        return answer(Kind::chooseFolder, title, message, folderAnswers);
    }

    std::deque<Answer> saveAnswers;
    std::deque<Answer> openAnswers;
    std::deque<Answer> folderAnswers;
    std::vector<Request> requests;
    std::function<void()> whileOpen;

private:
    Answer answer(Kind kind, const std::string& title, const std::string& detail,
                  std::deque<Answer>& answers) {
        requests.push_back({kind, title, detail});
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
