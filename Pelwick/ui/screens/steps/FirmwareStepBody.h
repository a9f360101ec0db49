#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class ActionButton;
class ElidedLabel;
class NoticeBox;
class ToneLabel;

/// Step 4: choosing the firmware file and its verdict.
class FirmwareStepBody : public StepBody {
public:
    FirmwareStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    ActionButton* chooseButton() const { return choose_; }
    NoticeBox* verdict() const { return verdict_; }

private:
    ToneLabel* currentHeading_;
    NoticeBox* current_;
    ActionButton* choose_;
    ToneLabel* selectedHeading_;
    ElidedLabel* fileName_;
    ElidedLabel* fileDetail_;
    NoticeBox* verdict_;
};

} // namespace pelwick
