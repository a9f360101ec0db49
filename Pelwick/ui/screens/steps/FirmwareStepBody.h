#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class NoticeBox;
class ProminentButton;
class ToneLabel;

/// Step 4: choosing the firmware file and its verdict.
class FirmwareStepBody : public StepBody {
public:
    FirmwareStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    ProminentButton* chooseButton() const { return choose_; }

private:
    ToneLabel* currentHeading_;
    NoticeBox* current_;
    ProminentButton* choose_;
    ToneLabel* selectedHeading_;
    ToneLabel* fileName_;
    ToneLabel* fileDetail_;
    NoticeBox* verdict_;
};

} // namespace pelwick
