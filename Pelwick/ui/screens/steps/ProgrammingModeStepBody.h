#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

class ConnectionStatusBlock;
class ToneLabel;

/// Step 2: starting the calculator's SAM-BA monitor, with the live connection status.
class ProgrammingModeStepBody : public StepBody {
public:
    ProgrammingModeStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override;

    ConnectionStatusBlock* statusBlock() const { return status_; }

private:
    ToneLabel* holdErase_;
    ToneLabel* recognized_;
    ToneLabel* demo_;
    ConnectionStatusBlock* status_;
};

} // namespace pelwick
