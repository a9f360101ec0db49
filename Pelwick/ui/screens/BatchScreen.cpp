#include "ui/screens/BatchScreen.h"

#include "store/FlasherStore.h"
#include "ui/drawings/ProgrammingModeIllustration.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/Badge.h"
#include "ui/widgets/Confirmation.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/FastTransferOption.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/SegmentedPicker.h"
#include "ui/widgets/TextLabels.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QTime>
#include <QTreeWidget>
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

enum Column { unitColumn, portColumn, backupColumn, resultColumn, timeColumn };

} // namespace

BatchScreen::BatchScreen(FlasherStore& store, QWidget* parent)
    : Screen(store, parent), header_(new ScreenHeader),
      done_(new Badge("0 done", Badge::Tone::success, "Units flashed and verified in this batch")),
      failed_(new Badge("0 failed", Badge::Tone::danger, "Units that failed in this batch")),
      chooseFirmware_(new ActionButton("Choose Firmware…", ActionButton::Role::primary)),
      firmwareFile_(new ElidedLabel(ToneLabel::Tone::secondary)),
      expectedChecksum_(TextLabels::paragraph({}, nullptr)),
      backupPicker_(new SegmentedPicker({"Skip backup", "Save to folder…"})),
      chooseFolder_(new ActionButton("Choose folder…", ActionButton::Role::secondary)),
      folder_(new ElidedLabel(ToneLabel::Tone::primary)),
      fastTransfer_(new FastTransferOption(store)), drawing_(new ProgrammingModeIllustration),
      progress_(new LabelledProgress), preview_(new FlashPagePreview),
      doneChecksum_(TextLabels::paragraph({}, nullptr)),
      error_(new NoticeBox(NoticeBox::Tone::danger, {}, {})), status_(new ConnectionStatusBlock),
      units_(new QTreeWidget),
      back_(new ActionButton("Back to welcome", ActionButton::Role::secondary)),
      start_(new ActionButton("Start batch", ActionButton::Role::primary)),
      stop_(new ActionButton("Stop batch", ActionButton::Role::secondary)),
      next_(new ActionButton("Next unit", ActionButton::Role::primary)),
      retry_(new ActionButton("Retry", ActionButton::Role::primary)) {
    chooseFirmware_->setMnemonic('F');
    chooseFolder_->setMnemonic('o');
    back_->setMnemonic('W');
    start_->setMnemonic('S');
    stop_->setMnemonic('t');
    next_->setMnemonic('N');
    retry_->setMnemonic('R');
    auto* counts = new QWidget;
    auto* countsRow = new QHBoxLayout(counts);
    countsRow->setContentsMargins(0, 0, 0, 0);
    countsRow->setSpacing(6);
    countsRow->addWidget(done_);
    countsRow->addWidget(failed_);
    header_->setTrailing(counts);

    auto* content = new QWidget;
    auto* column = columnOf(content, 12);
    column->setContentsMargins(0, 0, 12, 6);

    // Setup: the firmware and the backup choice, chosen once.
    setup_ = new QWidget(content);
    auto* setup = columnOf(setup_, 10);
    setup->addWidget(TextLabels::paragraph(
        "Flash many Collector’s Editions in sequence with the same firmware. Choose settings once, "
        "then repeat ERASE+RESET for each unit.",
        setup_));
    setup->addWidget(new ToneLabel(ToneLabel::Tone::caution,
                                   "For experienced operators. Not for first-time users.", setup_));
    setup->addSpacing(6);
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
    setup->addSpacing(6);
    setup->addWidget(TextLabels::heading("Backup for each unit", setup_));
    setup->addWidget(leftAligned(setup_, {backupPicker_}));
    folderRow_ = new QWidget(setup_);
    auto* folderColumn = columnOf(folderRow_, 6);
    auto* folderLine = new QHBoxLayout;
    folderLine->setSpacing(12);
    chooseFolder_->setParent(folderRow_);
    folder_->setParent(folderRow_);
    folderLine->addWidget(chooseFolder_);
    folderLine->addWidget(folder_, 1, Qt::AlignVCenter);
    folderColumn->addLayout(folderLine);
    folderColumn->addWidget(TextLabels::secondary(
        "Each unit saves as hp15c-YYYYMMDD-HHMMSS-NNN.bin in that folder.", folderRow_));
    setup->addWidget(folderRow_);
    setup->addSpacing(6);
    setup->addWidget(TextLabels::heading("Transfer", setup_));
    fastTransfer_->setParent(setup_);
    setup->addWidget(fastTransfer_, 0, Qt::AlignLeft);
    column->addWidget(setup_);

    // The running phases: what to do, or what is being done, for the current unit.
    waiting_ = new QWidget(content);
    auto* waiting = columnOf(waiting_, 8);
    drawing_->setParent(waiting_);
    waiting->addWidget(drawing_);
    waiting->addWidget(TextLabels::paragraph(
        "Hold ERASE, press RESET, then release ERASE. The app connects automatically.", waiting_));
    column->addWidget(waiting_);
    progress_->setParent(content);
    column->addWidget(progress_);
    preview_->setParent(content);
    column->addWidget(preview_);
    unitDone_ = new QWidget(content);
    auto* done = columnOf(unitDone_, 8);
    doneNotice_ =
        new NoticeBox(NoticeBox::Tone::success, "Success", "Flashed and verified.", unitDone_);
    done->addWidget(doneNotice_);
    doneChecksum_->setParent(unitDone_);
    done->addWidget(doneChecksum_);
    done->addWidget(TextLabels::paragraph(
        "Press RESET on the cable, then turn the calculator ON. “Pr Error” is expected.",
        unitDone_));
    column->addWidget(unitDone_);
    error_->setParent(content);
    column->addWidget(error_);
    status_->setParent(content);
    column->addWidget(status_);

    // This session's units, newest first.
    unitsSection_ = new QWidget(content);
    auto* section = columnOf(unitsSection_, 6);
    section->addWidget(TextLabels::heading("Units in this session", unitsSection_));
    noUnits_ = TextLabels::secondary("No unit has finished yet.", unitsSection_);
    section->addWidget(noUnits_);
    units_->setParent(unitsSection_);
    units_->setColumnCount(5);
    units_->setHeaderLabels({"Unit", "Port", "Backup file", "Result", "Time"});
    units_->setRootIsDecorated(false);
    units_->setUniformRowHeights(true);
    units_->setTextElideMode(Qt::ElideMiddle);
    units_->setSelectionMode(QAbstractItemView::NoSelection);
    // Room for a few units at the default window size, a dozen on a large screen; more scroll.
    const int row = QFontMetrics(units_->font()).lineSpacing() + 2;
    units_->setMinimumHeight(4 * row + 30);
    units_->setMaximumHeight(12 * row + 30);
    units_->header()->setStretchLastSection(false);
    units_->header()->setSectionResizeMode(unitColumn, QHeaderView::ResizeToContents);
    units_->header()->setSectionResizeMode(portColumn, QHeaderView::Stretch);
    units_->header()->setSectionResizeMode(backupColumn, QHeaderView::Stretch);
    units_->header()->setSectionResizeMode(resultColumn, QHeaderView::ResizeToContents);
    units_->header()->setSectionResizeMode(timeColumn, QHeaderView::ResizeToContents);
    units_->setAccessibleName("Units in this session");
    units_->setAccessibleDescription("Number, port, backup file, result and time of each unit");
    section->addWidget(units_, 1);
    column->addWidget(unitsSection_, 1);
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
    connect(back_, &QPushButton::clicked, this, [this] { leave(); });
    connect(start_, &QPushButton::clicked, this, [this] { store_.startBatch(); });
    connect(stop_, &QPushButton::clicked, this, [this] { stop(); });
    connect(next_, &QPushButton::clicked, this, [this] { store_.prepareNextBatchUnit(); });
    connect(retry_, &QPushButton::clicked, this, [this] { store_.retryBatchUnit(); });
}

void BatchScreen::refresh() {
    const BatchPhase phase = store_.batchPhase();
    const bool setup = phase == BatchPhase::setup;
    log_.observe(store_, QTime::currentTime().toString("HH:mm:ss").toStdString());
    header_->show("BATCH", TextLabels::of(store_.appTitle()),
                  setup ? "BATCH — sequential flash"
                        : "BATCH — unit " + QString::number(std::max(1, store_.batchUnitNumber())));
    done_->setText(QString("%1 done").arg(log_.doneCount()));
    failed_->setText(QString("%1 failed").arg(log_.failedCount()));
    done_->parentWidget()->setVisible(!setup);

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
        fastTransfer_->refresh();
    }

    waiting_->setVisible(phase == BatchPhase::waiting);
    const auto& progress = store_.progress();
    const bool working = phase == BatchPhase::backingUp || phase == BatchPhase::flashing;
    const bool running = working && store_.wizard().isBusy && progress.has_value();
    progress_->setVisible(running);
    if (running) {
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
    doneNotice_->setContent(NoticeBox::Tone::success, "Success", "Flashed and verified.",
                            store_.flashFellBack() ? FastTransferOption::fellBackNote : QString());
    doneChecksum_->setText("Expected checksum on calculator: " +
                           TextLabels::of(store_.expectedChecksumShort()) + " (test menu 2.C).");

    // A failed unit, or a refused firmware file in the setup, in a box with what to do next.
    const auto& lastError = store_.lastError();
    const bool errorShown = lastError && (phase == BatchPhase::error || setup);
    error_->setVisible(errorShown);
    if (errorShown) {
        const auto help = store_.lastErrorHelp();
        const QString next = help    ? TextLabels::of(*help)
                             : setup ? "Choose a file of exactly 114,688 bytes."
                                     : QString();
        error_->setContent(NoticeBox::Tone::danger,
                           setup ? "Firmware file not accepted"
                                 : "Batch step failed. Fix the issue, then retry or stop.",
                           TextLabels::of(*lastError), next);
    }
    status_->show(store_.status(), store_.portPath(), store_.sambaVersion(),
                  store_.portUsbIdentity(), store_.portOpenHelp());
    unitsSection_->setVisible(!setup);
    showUnits();

    start_->setVisible(setup);
    start_->setEnabled(store_.canStartBatch());
    stop_->setVisible(phase == BatchPhase::waiting || phase == BatchPhase::unitDone ||
                      phase == BatchPhase::error);
    next_->setVisible(phase == BatchPhase::unitDone);
    retry_->setVisible(phase == BatchPhase::error);
}

void BatchScreen::showUnits() {
    const auto& units = log_.units();
    noUnits_->setVisible(units.empty());
    units_->setVisible(!units.empty());
    if (units_->topLevelItemCount() == int(units.size())) {
        return;
    }
    units_->clear();
    for (auto unit = units.rbegin(); unit != units.rend(); ++unit) {
        auto* item = new QTreeWidgetItem(units_);
        const QString backup =
            unit->backupFile ? QString::fromStdString(*unit->backupFile) : QString("—");
        const QString port = unit->port.empty() ? QString("—") : QString::fromStdString(unit->port);
        item->setText(unitColumn, QString::number(unit->number));
        item->setText(portColumn, port);
        item->setToolTip(portColumn, port);
        item->setText(backupColumn, backup);
        item->setToolTip(backupColumn, backup);
        item->setText(resultColumn, unit->done ? "Flashed and verified" : "Failed");
        item->setToolTip(resultColumn, unit->done ? QString("Flashed and verified")
                                                  : QString::fromStdString(unit->error));
        item->setText(timeColumn, QString::fromStdString(unit->time));
    }
}

bool BatchScreen::unitWorking() const {
    const BatchPhase phase = store_.batchPhase();
    return store_.wizard().isBusy || store_.hasBatchUnitTask() || phase == BatchPhase::backingUp ||
           phase == BatchPhase::flashing;
}

bool BatchScreen::unitUnderWay() const {
    return unitWorking() || store_.batchPhase() == BatchPhase::waiting;
}

void BatchScreen::stop() {
    if (!unitUnderWay()) {
        store_.stopBatch();
        return;
    }
    const QString unit = QString::number(std::max(1, store_.batchUnitNumber()));
    ask("Stop the batch?",
        unitWorking() ? "Unit " + unit +
                            " is being read or written right now. Stopping leaves it half done: "
                            "flash it again before it is used. Pelwick then closes."
                      : "Unit " + unit + " has not been flashed yet. Pelwick then closes.",
        "Stop batch", [this] { store_.stopBatch(); });
}

void BatchScreen::leave() {
    if (!unitWorking()) {
        store_.returnToWelcome();
        return;
    }
    ask("Leave the batch?",
        "Unit " + QString::number(std::max(1, store_.batchUnitNumber())) +
            " is being read or written right now. Leaving leaves it half done: flash it again "
            "before it is used.",
        "Leave batch", [this] { store_.returnToWelcome(); });
}

void BatchScreen::ask(const QString& title, const QString& message, const QString& action,
                      std::function<void()> then) {
    closeQuietly(confirmation_);
    confirmation_ = askToConfirm(this, title, message, action, [then](bool yes) {
        if (yes) {
            then();
        }
    });
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

QPushButton* BatchScreen::escapeButton() const {
    return back_;
}

QMessageBox* BatchScreen::confirmation() const {
    return confirmation_.data();
}

} // namespace pelwick
