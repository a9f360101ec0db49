#pragma once

#include "ui/screens/Screen.h"
#include "wizard/WizardState.h"

#include <array>
#include <memory>

class QMessageBox;
class QPushButton;
class QScrollArea;

namespace pelwick {

class ChipLine;
class FlashPagePreview;
class LabelledProgress;
class NoticeBox;
class ProminentButton;
class ScreenHeader;
class StepBody;
class StepList;
class ToneLabel;

/// The single-calculator wizard: the step list on the left; on the right the header, the current
/// step's body, progress and messages, and Back / Continue (Done on the last step). Raises the
/// flash and skip-backup confirmations when the store asks for them.
class WizardScreen : public Screen {
public:
    /// `quit` ends the application (Done on the last step).
    WizardScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent = nullptr);

    void refresh() override;
    QPushButton* returnButton() const override;

    StepList* stepList() const { return steps_; }
    ScreenHeader* header() const { return header_; }
    ChipLine* chipLine() const { return chip_; }
    StepBody* body(WizardStep step) const { return bodies_.at(std::size_t(step)); }
    LabelledProgress* progress() const { return progress_; }
    FlashPagePreview* pagePreview() const { return preview_; }
    NoticeBox* successBox() const { return success_; }
    ToneLabel* errorText() const { return error_; }
    /// Help under the error (a port that could not be opened).
    ToneLabel* errorHelp() const { return errorHelp_; }
    QPushButton* backButton() const { return back_; }
    ProminentButton* continueButton() const { return continue_; }
    ProminentButton* doneButton() const { return done_; }
    /// The open confirmation, if any.
    QMessageBox* confirmation() const { return confirmation_; }

private:
    enum class Asking { nothing, flash, skipBackup };

    void revealNewMessages();
    void syncConfirmation();
    void raiseConfirmation(Asking what);
    void closeConfirmation();

    std::function<void()> quit_;
    StepList* steps_;
    ScreenHeader* header_;
    ChipLine* chip_;
    QScrollArea* scroll_;
    std::array<bool, 5> messageShown_{};
    std::array<StepBody*, wizardStepCount> bodies_{};
    LabelledProgress* progress_;
    FlashPagePreview* preview_;
    NoticeBox* success_;
    ToneLabel* error_;
    ToneLabel* errorHelp_;
    QPushButton* back_;
    ProminentButton* continue_;
    ProminentButton* done_;
    QMessageBox* confirmation_ = nullptr;
    Asking asking_ = Asking::nothing;
    WizardStep shownStep_ = WizardStep::cable;
};

/// The header's connection line: a coloured dot and the chip's name, or "Not connected".
class ChipLine : public QWidget {
public:
    explicit ChipLine(QWidget* parent = nullptr);

    void show(const QString& text, bool connected, bool supported);
    const QString& text() const { return text_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    bool connected_ = false;
    bool supported_ = false;
};

} // namespace pelwick
