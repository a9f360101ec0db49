#include "ui/screens/steps/RestartStepBody.h"

#include "ui/drawings/RestartIllustration.h"
#include "ui/widgets/TextLabels.h"

#include <QVBoxLayout>

namespace pelwick {

RestartStepBody::RestartStepBody(FlasherStore& store, QWidget* parent) : StepBody(store, parent) {
    column()->addWidget(new RestartIllustration(this));
    column()->addWidget(TextLabels::paragraph(
        "Press RESET on the cable switch-box, then turn the calculator ON. “Pr Error” in the "
        "display is expected. Press any key to see 0.0000.",
        this));
}

} // namespace pelwick
