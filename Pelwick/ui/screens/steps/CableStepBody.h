#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class NoticeBox;
class ToneLabel;

/// Step 1: seating the pogo plug and plugging in the cable.
class CableStepBody : public StepBody {
public:
    static const char* const warning;

    CableStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

private:
    ToneLabel* insertPlug_;
    ToneLabel* plugUsb_;
    ToneLabel* demo_;
    NoticeBox* warning_;
};

} // namespace pelwick
