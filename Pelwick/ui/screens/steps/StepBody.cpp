#include "ui/screens/steps/StepBody.h"

#include "firmware/FirmwareAssessment.h"
#include "store/FlasherStore.h"
#include "ui/DemoImage.h"
#include "ui/widgets/NoticeBox.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelwick {

StepBody::StepBody(FlasherStore& store, QWidget* parent)
    : QWidget(parent), store_(store), column_(new QVBoxLayout(this)) {
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(10);
}

QWidget* StepBody::addButtonRow(std::initializer_list<QPushButton*> buttons) {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(10);
    for (QPushButton* button : buttons) {
        button->setParent(row);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    column_->addWidget(row);
    return row;
}

bool StepBody::isDemoPattern(const std::optional<std::filesystem::path>& file) const {
    // Read once per chosen file, not at every refresh.
    if (file != demoCheckedFile_) {
        demoCheckedFile_ = file;
        demoPattern_ = file && DemoImage::isDemoPattern(*file);
    }
    return demoPattern_;
}

void StepBody::showVerdict(NoticeBox& box, const BackupChecksumAssessment& assessment, bool full) {
    const QString text = QString::fromStdString(full ? assessment.message() : assessment.summary());
    if (assessment.isRecognized()) {
        box.setContent(NoticeBox::Tone::neutral, "Known firmware", text);
    } else {
        box.setContent(NoticeBox::Tone::caution, "Unrecognized firmware", text);
    }
}

void StepBody::showVerdict(NoticeBox& box, const FirmwareFileAssessment& assessment,
                           bool full) const {
    const QString text = QString::fromStdString(full ? assessment.message() : assessment.summary());
    QString label = "Known firmware";
    switch (assessment.kind()) {
    case FirmwareFileAssessment::Kind::alreadyOnCalculator:
        label = "Already on the calculator";
        break;
    case FirmwareFileAssessment::Kind::known:
        if (assessment.isCaution()) {
            label = "Check the model";
        }
        break;
    case FirmwareFileAssessment::Kind::otherModel:
        label = "Different model";
        break;
    case FirmwareFileAssessment::Kind::unrecognized:
        label = "Unrecognized firmware";
        break;
    }
    const bool demoPattern = store_.usingSimulator() && isDemoPattern(store_.firmwareURL());
    box.setContent(assessment.isCaution() ? NoticeBox::Tone::caution : NoticeBox::Tone::neutral,
                   label, text,
                   demoPattern ? "This is Pelwick’s demo pattern for the simulated calculator, not "
                                 "calculator firmware."
                               : QString());
}

} // namespace pelwick
