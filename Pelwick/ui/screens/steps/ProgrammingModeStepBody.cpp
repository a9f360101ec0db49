#include "ui/screens/steps/ProgrammingModeStepBody.h"

#include "store/FlasherStore.h"
#include "ui/drawings/ProgrammingModeIllustration.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/TextLabels.h"

#include <QVBoxLayout>

namespace pelwick {

ProgrammingModeStepBody::ProgrammingModeStepBody(FlasherStore& store, QWidget* parent)
    : StepBody(store, parent),
      holdErase_(TextLabels::paragraph(
          "On the cable's switch box, hold ERASE, press RESET, then release ERASE. The display "
          "stays off. The calculator's ON button is ignored in this state.",
          this)),
      recognized_(TextLabels::paragraph("Once your calculator is recognized (“Connected: "
                                        "ATSAM4LC2C” is shown), continue with the next step.",
                                        this)),
      demo_(TextLabels::paragraph(
          "DEMO connects the simulated calculator automatically. Continue when it appears below.",
          this)),
      status_(new ConnectionStatusBlock(this)) {
    column()->addWidget(new ProgrammingModeIllustration(this));
    column()->addWidget(holdErase_);
    column()->addWidget(recognized_);
    column()->addWidget(demo_);
    column()->addWidget(status_);
}

void ProgrammingModeStepBody::refresh() {
    const bool demo = store_.usingSimulator();
    holdErase_->setVisible(!demo);
    recognized_->setVisible(!demo);
    demo_->setVisible(demo);
    status_->show(store_.status(), store_.portPath(), store_.sambaVersion(),
                  store_.portUsbIdentity(), store_.portOpenHelp());
}

} // namespace pelwick
