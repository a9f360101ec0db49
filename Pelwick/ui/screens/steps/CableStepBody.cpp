#include "ui/screens/steps/CableStepBody.h"

#include "store/FlasherStore.h"
#include "ui/drawings/CableIllustration.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/TextLabels.h"

#include <QVBoxLayout>

namespace pelwick {

const char* const CableStepBody::warning =
    "Use the POGO cable only on post-2015 Voyager calculators (15c CE, 16c CE, 12c). Do not use "
    "the cable on an HP 15c Limited Edition, a pre-2015 12c, an HP 20b, or an HP 30b, as it could "
    "permanently damage your calculator.";

CableStepBody::CableStepBody(FlasherStore& store, QWidget* parent)
    : StepBody(store, parent),
      insertPlug_(TextLabels::paragraph(
          "Open the calculator's battery door and insert the POGO cable. The connector is keyed; "
          "the POGO can only be inserted one way. Make sure the plug snaps securely into place.",
          this)),
      plugUsb_(TextLabels::paragraph(
          "Plug the other end of the cable (USB-A or USB-C) into this computer.", this)),
      demo_(TextLabels::paragraph("DEMO uses a simulated calculator. You do not need a cable. "
                                  "Follow the same steps so FLASH is familiar later.",
                                  this)),
      warning_(new NoticeBox(NoticeBox::Tone::caution, "Warning", warning, this)) {
    column()->addWidget(new CableIllustration(this));
    column()->addWidget(insertPlug_);
    column()->addWidget(plugUsb_);
    column()->addWidget(demo_);
    column()->addWidget(warning_);
}

void CableStepBody::refresh() {
    const bool demo = store_.usingSimulator();
    insertPlug_->setVisible(!demo);
    plugUsb_->setVisible(!demo);
    demo_->setVisible(demo);
}

} // namespace pelwick
