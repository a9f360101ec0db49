#pragma once

#include "ui/screens/Screen.h"
#include "wizard/WizardState.h"

#include <array>
#include <functional>
#include <optional>
#include <string>

class QMessageBox;
class QPushButton;
class QScrollArea;

namespace pelwick {

class ActionButton;
class ChipLine;
class FlashPagePreview;
class LabelledProgress;
class NoticeBox;
class ScreenHeader;
class StepBody;
class StepList;

/// The single-calculator wizard: the step list and "Back to welcome" on the left; on the right
/// the header, the current step's body, progress and messages, and Back / Continue (Done on the
/// last step). Raises the flash and skip-backup confirmations when the store asks for them.
///
/// What it shows follows the store as it is: the progress bar only while an operation runs; an
/// error in a box with what to do next, on the step where it happened, until the step changes;
/// the connection in the header and in the step list from the same source.
class WizardScreen : public Screen {
public:
    /// `quit` ends the application (Done on the last step).
    WizardScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent = nullptr);

    void refresh() override;
    QPushButton* returnButton() const override;
    QPushButton* escapeButton() const override;

    StepList* stepList() const { return steps_; }
    ScreenHeader* header() const { return header_; }
    ChipLine* chipLine() const { return chip_; }
    StepBody* body(WizardStep step) const { return bodies_.at(std::size_t(step)); }
    LabelledProgress* progress() const { return progress_; }
    FlashPagePreview* pagePreview() const { return preview_; }
    NoticeBox* successBox() const { return success_; }
    /// The failure of the last operation, its next action as the note.
    NoticeBox* errorBox() const { return error_; }
    ActionButton* welcomeButton() const { return welcome_; }
    ActionButton* backButton() const { return back_; }
    ActionButton* continueButton() const { return continue_; }
    ActionButton* doneButton() const { return done_; }
    /// The open confirmation, if any.
    QMessageBox* confirmation() const { return confirmation_; }

private:
    enum class Asking { nothing, flash, skipBackup, leave };

    void showError();
    void revealNewMessages();
    void syncConfirmation();
    void raiseConfirmation(Asking what);
    void closeConfirmation();
    /// Back to the welcome screen, asking first when the session has something to lose.
    void leaveSession();

    std::function<void()> quit_;
    StepList* steps_;
    ActionButton* welcome_;
    ScreenHeader* header_;
    ChipLine* chip_;
    QScrollArea* scroll_;
    std::array<bool, 4> messageShown_{};
    std::array<StepBody*, wizardStepCount> bodies_{};
    LabelledProgress* progress_;
    FlashPagePreview* preview_;
    NoticeBox* success_;
    NoticeBox* error_;
    ActionButton* back_;
    ActionButton* continue_;
    ActionButton* done_;
    QMessageBox* confirmation_ = nullptr;
    Asking asking_ = Asking::nothing;
    WizardStep shownStep_ = WizardStep::cable;
    // The error shown and the step it happened on.
    std::optional<std::string> errorText_;
    WizardStep errorStep_ = WizardStep::cable;
};

} // namespace pelwick
