#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class ActionButton;
class FastTransferOption;
class NoticeBox;
class ToneLabel;

/// Step 5: the summary of both firmware verdicts and the flash button, which becomes the
/// secondary "Flash again" once the calculator has been flashed.
class FlashStepBody : public StepBody {
public:
    FlashStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    ActionButton* flashButton() const { return flash_; }
    FastTransferOption* fastTransfer() const { return fastTransfer_; }

private:
    ToneLabel* currentHeading_;
    NoticeBox* current_;
    ToneLabel* selectedHeading_;
    NoticeBox* selected_;
    FastTransferOption* fastTransfer_;
    ActionButton* flash_;
};

} // namespace pelwick
