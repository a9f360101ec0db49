#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class ActionButton;
class ElidedLabel;
class NoticeBox;
class ToneLabel;

/// Step 3: reading the calculator's firmware, then saving or skipping a backup of it.
class BackupStepBody : public StepBody {
public:
    BackupStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    ActionButton* checkButton() const { return check_; }
    ActionButton* saveButton() const { return save_; }
    ActionButton* skipButton() const { return skip_; }

private:
    ToneLabel* readPrompt_;
    ActionButton* check_;
    QWidget* checkRow_;
    ToneLabel* checking_;
    ToneLabel* currentHeading_;
    NoticeBox* verdict_;
    ToneLabel* question_;
    ActionButton* save_;
    ActionButton* skip_;
    QWidget* saveRow_;
    ElidedLabel* saved_;
    ToneLabel* skipped_;
};

} // namespace pelwick
