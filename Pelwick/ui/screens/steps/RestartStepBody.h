#pragma once

#include "ui/screens/steps/StepBody.h"

namespace pelwick {

/// Step 6: restarting the calculator after the flash.
class RestartStepBody : public StepBody {
public:
    RestartStepBody(FlasherStore& store, QWidget* parent);
    void refresh() override {}
};

} // namespace pelwick
