#include "ui/screens/steps/FirmwareStepBody.h"

#include "store/FlasherStore.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/TextLabels.h"

#include <QVBoxLayout>

namespace pelwick {

FirmwareStepBody::FirmwareStepBody(FlasherStore& store, QWidget* parent)
    : StepBody(store, parent), currentHeading_(TextLabels::heading("Your current firmware:", this)),
      current_(new NoticeBox(NoticeBox::Tone::neutral, {}, {}, this)),
      choose_(new ActionButton("Choose Firmware…", ActionButton::Role::primary, this)),
      selectedHeading_(TextLabels::heading("Selected firmware:", this)),
      fileName_(new ElidedLabel(ToneLabel::Tone::primary, {}, this)),
      fileDetail_(new ElidedLabel(ToneLabel::Tone::secondary, {}, this)),
      verdict_(new NoticeBox(NoticeBox::Tone::neutral, {}, {}, this)) {
    choose_->setMnemonic('F');
    column()->addWidget(currentHeading_);
    column()->addWidget(current_);
    column()->addWidget(TextLabels::paragraph("Choose a 114,688 (0x1C000) byte file with .bin "
                                              "extension. This app does not download HP firmware.",
                                              this));
    addButtonRow({choose_});
    column()->addWidget(selectedHeading_);
    auto* file = new QWidget(this);
    auto* fileColumn = new QVBoxLayout(file);
    fileColumn->setContentsMargins(0, 0, 0, 0);
    fileColumn->setSpacing(2);
    QFont bold = fileName_->font();
    bold.setBold(true);
    fileName_->setFont(bold);
    fileName_->setParent(file);
    fileDetail_->setParent(file);
    fileColumn->addWidget(fileName_);
    fileColumn->addWidget(fileDetail_);
    column()->addWidget(file);
    column()->addWidget(verdict_);
    connect(choose_, &QPushButton::clicked, this, [this] { store_.chooseFirmware(); });
}

void FirmwareStepBody::refresh() {
    const auto& backup = store_.backupAssessment();
    currentHeading_->setVisible(backup.has_value());
    current_->setVisible(backup.has_value());
    if (backup) {
        showVerdict(*current_, *backup, false);
    }
    choose_->setEnabled(!store_.wizard().isBusy);

    const auto& url = store_.firmwareURL();
    selectedHeading_->setVisible(url.has_value());
    fileName_->parentWidget()->setVisible(url.has_value());
    if (url) {
        fileName_->setText(TextLabels::of(url->filename().string()));
        fileDetail_->setText(TextLabels::of(store_.firmwareDetail()));
    }
    const auto& assessment = store_.firmwareAssessment();
    verdict_->setVisible(url && assessment);
    if (url && assessment) {
        showVerdict(*verdict_, *assessment, true);
    }
}

} // namespace pelwick
