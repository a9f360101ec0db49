#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class NoticeBox;
class ProminentButton;
class ToneLabel;

/// Step 5: the summary of both firmware verdicts and the flash button.
class FlashStepBody : public StepBody {
public:
    FlashStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    ProminentButton* flashButton() const { return flash_; }

private:
    ToneLabel* currentHeading_;
    NoticeBox* current_;
    ToneLabel* selectedHeading_;
    NoticeBox* selected_;
    ProminentButton* flash_;
};

} // namespace pelwick
