#pragma once

#include "ui/screens/steps/StepBody.h"

class QPushButton;

namespace pelwick {

class NoticeBox;
class ProminentButton;
class ToneLabel;

/// Step 3: reading the calculator's firmware, then saving or skipping a backup of it.
class BackupStepBody : public StepBody {
public:
    BackupStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    ProminentButton* checkButton() const { return check_; }
    ProminentButton* saveButton() const { return save_; }
    QPushButton* skipButton() const { return skip_; }

private:
    ToneLabel* readPrompt_;
    ProminentButton* check_;
    QWidget* checkRow_;
    ToneLabel* checking_;
    ToneLabel* currentHeading_;
    NoticeBox* verdict_;
    ToneLabel* question_;
    ProminentButton* save_;
    QPushButton* skip_;
    QWidget* saveRow_;
    ToneLabel* saved_;
    ToneLabel* skipped_;
};

} // namespace pelwick
