#include "ui/screens/steps/FlashStepBody.h"

#include "store/FlasherStore.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/FastTransferOption.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/TextLabels.h"

#include <QVBoxLayout>

namespace pelwick {

FlashStepBody::FlashStepBody(FlasherStore& store, QWidget* parent)
    : StepBody(store, parent), currentHeading_(TextLabels::heading("Your current firmware:", this)),
      current_(new NoticeBox(NoticeBox::Tone::neutral, {}, {}, this)),
      selectedHeading_(TextLabels::heading("Selected firmware:", this)),
      selected_(new NoticeBox(NoticeBox::Tone::neutral, {}, {}, this)),
      fastTransfer_(new FastTransferOption(store, this)),
      flash_(new ActionButton("Flash Calculator", ActionButton::Role::primary, this)) {
    flash_->setMnemonic('F');
    column()->addWidget(currentHeading_);
    column()->addWidget(current_);
    column()->addWidget(selectedHeading_);
    column()->addWidget(selected_);
    column()->addWidget(TextLabels::paragraph("Write starts at address 0x04000. The SAM-BA "
                                              "bootloader below that address is left intact.",
                                              this));
    // The option sits beside the button it changes.
    QWidget* row = addButtonRow({flash_});
    fastTransfer_->setParent(row);
    static_cast<QBoxLayout*>(row->layout())->insertWidget(1, fastTransfer_);
    connect(flash_, &QPushButton::clicked, this, [this] { store_.setConfirmFlash(true); });
}

void FlashStepBody::refresh() {
    const auto& backup = store_.backupAssessment();
    currentHeading_->setVisible(backup.has_value());
    current_->setVisible(backup.has_value());
    if (backup) {
        showVerdict(*current_, *backup, false);
    }
    const auto& file = store_.firmwareAssessment();
    selectedHeading_->setVisible(file.has_value());
    selected_->setVisible(file.has_value());
    if (file) {
        showVerdict(*selected_, *file, false);
    }
    // After a successful flash, going on is the next step; flashing again stays possible.
    const bool flashed = store_.wizard().flashSucceeded;
    flash_->setText(flashed                   ? "Flash again"
                    : store_.usingSimulator() ? "Flash Simulated Calculator"
                                              : "Flash Calculator");
    flash_->setRole(flashed ? ActionButton::Role::secondary : ActionButton::Role::primary);
    flash_->updateGeometry();
    flash_->setEnabled(store_.canFlash());
    fastTransfer_->refresh();
}

} // namespace pelwick
