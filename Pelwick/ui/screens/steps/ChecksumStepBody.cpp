#include "ui/screens/steps/ChecksumStepBody.h"

#include "store/FlasherStore.h"
#include "ui/drawings/CalculatorDisplay.h"
#include "ui/drawings/ChecksumIllustration.h"
#include "ui/widgets/TextLabels.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace pelwick {

ChecksumStepBody::ChecksumStepBody(FlasherStore& store, QWidget* parent)
    : StepBody(store, parent), display_(new CalculatorDisplay(this)),
      congratulations_(TextLabels::paragraph({}, this)) {
    column()->addWidget(new ChecksumIllustration(this));
    column()->addWidget(TextLabels::paragraph(
        "Turn the calculator OFF (press ON button). Hold g and ENTER, then press ON. Release ON, "
        "then release g and ENTER.",
        this));
    column()->addWidget(
        TextLabels::paragraph("The display shows the test menu: “1.L 2.C 3.H”. Press 2.", this));
    column()->addWidget(TextLabels::heading("You should see", this));
    auto* displayRow = new QHBoxLayout;
    displayRow->setContentsMargins(0, 2, 0, 6);
    displayRow->addWidget(display_);
    displayRow->addStretch(1);
    column()->addLayout(displayRow);
    column()->addWidget(TextLabels::paragraph(
        "That value is the checksum of the installed firmware (the one you just flashed). Press "
        "ON a few times to exit the test menu.",
        this));
    column()->addWidget(congratulations_);
    column()->addWidget(TextLabels::paragraph(
        "If you received a different checksum, all is not lost. A retry with either the new "
        "firmware or the original backup is likely to succeed.",
        this));
}

void ChecksumStepBody::refresh() {
    display_->setText(TextLabels::of(store_.expectedChecksumLabel()));
    const std::string model = store_.flashedModelName().value_or("calculator");
    congratulations_->setText(TextLabels::of(
        "If you received the expected checksum of " + store_.expectedChecksumShort() +
        ", then congratulations — you have successfully updated the firmware on your " + model +
        "."));
}

} // namespace pelwick
