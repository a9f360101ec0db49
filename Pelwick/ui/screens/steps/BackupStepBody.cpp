#include "ui/screens/steps/BackupStepBody.h"

#include "store/FlasherStore.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/TextLabels.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace pelwick {

BackupStepBody::BackupStepBody(FlasherStore& store, QWidget* parent)
    : StepBody(store, parent),
      readPrompt_(TextLabels::paragraph(
          "Read the firmware on the calculator to see which version it has.", this)),
      check_(new ActionButton("Check Firmware", ActionButton::Role::primary, this)),
      checking_(TextLabels::paragraph("Checking the firmware on the calculator…", this)),
      currentHeading_(TextLabels::heading("Your current firmware:", this)),
      verdict_(new NoticeBox(NoticeBox::Tone::neutral, {}, {}, this)),
      question_(TextLabels::paragraph("Do you want to save a backup of this firmware? You can "
                                      "use it to restore the calculator later.",
                                      this)),
      save_(new ActionButton("Save Backup…", ActionButton::Role::primary, this)),
      skip_(new ActionButton("Skip", ActionButton::Role::secondary, this)),
      saved_(new ElidedLabel(ToneLabel::Tone::primary, {}, this)),
      skipped_(new ToneLabel(ToneLabel::Tone::caution,
                             "Backup skipped. You may not have a copy of this firmware to restore "
                             "later.",
                             this)) {
    check_->setMnemonic('F');
    save_->setMnemonic('S');
    skip_->setMnemonic('k');
    column()->addWidget(readPrompt_);
    checkRow_ = addButtonRow({check_});
    column()->addWidget(checking_);
    column()->addWidget(currentHeading_);
    column()->addWidget(verdict_);
    column()->addWidget(question_);
    saveRow_ = addButtonRow({save_, skip_});
    column()->addWidget(saved_);
    column()->addWidget(skipped_);

    connect(check_, &QPushButton::clicked, this, [this] { store_.checkCurrentFirmware(); });
    connect(save_, &QPushButton::clicked, this, [this] { store_.backup(); });
    connect(skip_, &QPushButton::clicked, this, [this] { store_.setConfirmSkipBackup(true); });
}

void BackupStepBody::refresh() {
    const bool busy = store_.wizard().isBusy;
    const bool read = store_.currentFirmware().has_value() && store_.backupAssessment();
    readPrompt_->setVisible(!read && !busy);
    checkRow_->setVisible(!read && !busy);
    check_->setEnabled(!busy);
    checking_->setVisible(!read && busy);

    currentHeading_->setVisible(read);
    verdict_->setVisible(read);
    question_->setVisible(read);
    saveRow_->setVisible(read);
    if (read) {
        showVerdict(*verdict_, *store_.backupAssessment(), true);
    }
    save_->setEnabled(store_.canSaveBackup());
    skip_->setEnabled(!busy);

    const bool saved = read && !store_.backupSkipped() && store_.backupFileName();
    saved_->setVisible(saved);
    if (saved) {
        saved_->setText("Backup saved as " + TextLabels::of(*store_.backupFileName()) + ".");
    }
    skipped_->setVisible(read && store_.backupSkipped());
}

} // namespace pelwick
