#include "ui/screens/BatchScreen.h"

#include "store/FlasherStore.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/PlainButton.h"
#include "ui/widgets/ProminentButton.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/Separator.h"
#include "ui/widgets/TextLabels.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace pelwick {

namespace {

QVBoxLayout* columnOf(QWidget* widget, int spacing = 10) {
    auto* column = new QVBoxLayout(widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

QWidget* leftAligned(QWidget* parent, std::initializer_list<QWidget*> widgets) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(12);
    for (QWidget* widget : widgets) {
        widget->setParent(row);
        layout->addWidget(widget);
    }
    layout->addStretch(1);
    return row;
}

} // namespace

BatchScreen::BatchScreen(FlasherStore& store, QWidget* parent)
    : Screen(store, parent), header_(new ScreenHeader(this)),
      chooseFirmware_(new ProminentButton("Choose Firmware…")),
      firmwareFile_(TextLabels::secondary({}, nullptr)),
      expectedChecksum_(TextLabels::paragraph({}, nullptr)),
      backupPicker_(new SegmentedPicker({"Skip backup", "Save to folder…"})),
      chooseFolder_(new PlainButton("Choose folder…")), folder_(TextLabels::paragraph({}, nullptr)),
      folderNaming_(TextLabels::secondary(
          "Each unit saves as hp15c-YYYYMMDD-HHMMSS-NNN.bin in that folder.", nullptr)),
      waiting_(TextLabels::paragraph(
          "Hold ERASE, press RESET, then release ERASE. The app connects automatically.", nullptr)),
      progress_(new LabelledProgress), preview_(new FlashPagePreview),
      doneChecksum_(TextLabels::paragraph({}, nullptr)),
      failed_(
          TextLabels::paragraph("Batch step failed. Fix the issue, then retry or stop.", nullptr)),
      error_(TextLabels::error(nullptr)), errorHelp_(TextLabels::help(nullptr)),
      status_(new ConnectionStatusBlock), back_(new PlainButton("Back to welcome", this)),
      start_(new ProminentButton("Start batch", this)), stop_(new PlainButton("Stop batch", this)),
      next_(new ProminentButton("Next unit", this)), retry_(new ProminentButton("Retry", this)) {
    auto* content = new QWidget;
    auto* column = columnOf(content, 14);
    column->setContentsMargins(0, 0, 14, 8);

    // Setup: the firmware and the backup choice, chosen once.
    setup_ = new QWidget(content);
    auto* setup = columnOf(setup_, 10);
    setup->addWidget(TextLabels::paragraph(
        "Flash many Collector’s Editions in sequence with the same firmware. Choose settings once, "
        "then repeat ERASE+RESET for each unit.",
        setup_));
    setup->addWidget(new ToneLabel(ToneLabel::Tone::caution,
                                   "For experienced operators. Not for first-time users.", setup_));
    setup->addSpacing(8);
    setup->addWidget(TextLabels::heading("Firmware", setup_));
    setup->addWidget(TextLabels::paragraph(
        "Choose a 114,688 (0x1C000) byte .bin file. This app does not download HP firmware.",
        setup_));
    setup->addWidget(leftAligned(setup_, {chooseFirmware_}));
    firmwareFile_->setParent(setup_);
    expectedChecksum_->setParent(setup_);
    QFont bold = expectedChecksum_->font();
    bold.setBold(true);
    expectedChecksum_->setFont(bold);
    setup->addWidget(expectedChecksum_);
    setup->addWidget(firmwareFile_);
    setup->addSpacing(8);
    setup->addWidget(TextLabels::heading("Backup for each unit", setup_));
    setup->addWidget(leftAligned(setup_, {backupPicker_}));
    folderRow_ = new QWidget(setup_);
    auto* folderColumn = columnOf(folderRow_, 6);
    chooseFolder_->setMinimumHeight(34);
    auto* folderLine = new QHBoxLayout;
    folderLine->setSpacing(12);
    chooseFolder_->setParent(folderRow_);
    folder_->setParent(folderRow_);
    folderLine->addWidget(chooseFolder_);
    folderLine->addWidget(folder_, 1);
    folderColumn->addLayout(folderLine);
    folderNaming_->setParent(folderRow_);
    folderColumn->addWidget(folderNaming_);
    setup->addWidget(folderRow_);
    column->addWidget(setup_);

    // The running phases.
    waiting_->setParent(content);
    column->addWidget(waiting_);
    progress_->setParent(content);
    column->addWidget(progress_);
    preview_->setParent(content);
    column->addWidget(preview_);
    unitDone_ = new QWidget(content);
    auto* done = columnOf(unitDone_, 10);
    done->addWidget(
        new NoticeBox(NoticeBox::Tone::success, "Success", "Flashed and verified.", unitDone_));
    doneChecksum_->setParent(unitDone_);
    done->addWidget(doneChecksum_);
    done->addWidget(TextLabels::paragraph(
        "Press RESET on the cable, then turn the calculator ON. “Pr Error” is expected.",
        unitDone_));
    column->addWidget(unitDone_);
    failed_->setParent(content);
    column->addWidget(failed_);
    error_->setParent(content);
    column->addWidget(error_);
    errorHelp_->setParent(content);
    column->addWidget(errorHelp_);
    column->addSpacing(4);
    status_->setParent(content);
    column->addWidget(status_);
    column->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(back_);
    buttons->addStretch(1);
    buttons->addWidget(stop_);
    buttons->addWidget(start_);
    buttons->addWidget(next_);
    buttons->addWidget(retry_);

    layOutPage(header_, content, buttons);

    connect(chooseFirmware_, &QPushButton::clicked, this, [this] { store_.chooseFirmware(); });
    backupPicker_->onPick([this](int index) {
        store_.setBatchBackupChoice(index == 0 ? BatchBackupChoice::skip
                                               : BatchBackupChoice::autoSave);
    });
    connect(chooseFolder_, &QPushButton::clicked, this,
            [this] { store_.chooseBatchBackupFolder(); });
    connect(back_, &QPushButton::clicked, this, [this] { store_.returnToWelcome(); });
    connect(start_, &QPushButton::clicked, this, [this] { store_.startBatch(); });
    connect(stop_, &QPushButton::clicked, this, [this] { store_.stopBatch(); });
    connect(next_, &QPushButton::clicked, this, [this] { store_.prepareNextBatchUnit(); });
    connect(retry_, &QPushButton::clicked, this, [this] { store_.retryBatchUnit(); });
}

void BatchScreen::refresh() {
    const BatchPhase phase = store_.batchPhase();
    const bool setup = phase == BatchPhase::setup;
    header_->show("BATCH", TextLabels::of(store_.appTitle()),
                  setup ? "BATCH — sequential flash"
                        : "BATCH — unit " + QString::number(std::max(1, store_.batchUnitNumber())));

    setup_->setVisible(setup);
    if (setup) {
        const bool chosen = store_.wizard().firmwareOK && store_.firmwareURL();
        chooseFirmware_->setEnabled(!store_.wizard().isBusy);
        expectedChecksum_->setVisible(chosen);
        firmwareFile_->setVisible(chosen);
        if (chosen) {
            expectedChecksum_->setText("Expected checksum: " +
                                       TextLabels::of(store_.expectedChecksumShort()));
            firmwareFile_->setText(TextLabels::of(store_.firmwareDetail()));
        }
        const bool autoSave = store_.batchBackupChoice() == BatchBackupChoice::autoSave;
        backupPicker_->setSelected(autoSave ? 1 : 0);
        folderRow_->setVisible(autoSave);
        const auto& folder = store_.batchBackupFolder();
        folder_->setText(folder ? TextLabels::of(folder->string()) : "No folder chosen");
        folder_->setTone(folder ? ToneLabel::Tone::primary : ToneLabel::Tone::secondary);
    }

    waiting_->setVisible(phase == BatchPhase::waiting);
    const auto& progress = store_.progress();
    const bool working = phase == BatchPhase::backingUp || phase == BatchPhase::flashing;
    progress_->setVisible(working && progress.has_value());
    if (working && progress) {
        const LabelledProgress::Tint tint =
            store_.progressIsVerify()       ? LabelledProgress::Tint::verifying
            : phase == BatchPhase::flashing ? LabelledProgress::Tint::flashing
                                            : LabelledProgress::Tint::accent;
        progress_->show(*progress,
                        phase == BatchPhase::backingUp ? "Saving backup…" : "Writing firmware…",
                        tint, store_.progressBarID());
    }
    const bool previewShown = phase == BatchPhase::flashing && store_.flashPageHeader();
    preview_->setVisible(previewShown);
    if (previewShown) {
        preview_->show(*store_.flashPageHeader(), store_.flashPageLines());
    }
    unitDone_->setVisible(phase == BatchPhase::unitDone);
    doneChecksum_->setText("Expected checksum on calculator: " +
                           TextLabels::of(store_.expectedChecksumShort()) + " (test menu 2.C).");
    failed_->setVisible(phase == BatchPhase::error);
    // A refused firmware file in the setup explains itself too.
    const auto& lastError = store_.lastError();
    const bool errorShown = lastError && (phase == BatchPhase::error || setup);
    error_->setVisible(errorShown);
    error_->setText(errorShown ? TextLabels::of(*lastError) : QString());
    const auto errorHelp = errorShown ? store_.lastErrorHelp() : std::nullopt;
    errorHelp_->setVisible(errorHelp.has_value());
    errorHelp_->setText(errorHelp ? TextLabels::of(*errorHelp) : QString());
    status_->show(store_.status(), store_.portPath(), store_.sambaVersion(),
                  store_.portUsbIdentity(), store_.portOpenHelp());

    start_->setVisible(setup);
    start_->setEnabled(store_.canStartBatch());
    stop_->setVisible(phase == BatchPhase::waiting || phase == BatchPhase::unitDone ||
                      phase == BatchPhase::error);
    next_->setVisible(phase == BatchPhase::unitDone);
    retry_->setVisible(phase == BatchPhase::error);
}

QPushButton* BatchScreen::returnButton() const {
    switch (store_.batchPhase()) {
    case BatchPhase::setup:
        return start_;
    case BatchPhase::unitDone:
        return next_;
    default:
        return nullptr;
    }
}

} // namespace pelwick
