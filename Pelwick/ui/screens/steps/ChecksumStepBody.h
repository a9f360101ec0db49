#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class CalculatorDisplay;
class ToneLabel;

/// Step 7: reading the checksum in the calculator's test menu and comparing it.
class ChecksumStepBody : public StepBody {
public:
    ChecksumStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    CalculatorDisplay* display() const { return display_; }

private:
    CalculatorDisplay* display_;
    ToneLabel* congratulations_;
};

} // namespace pelwick
