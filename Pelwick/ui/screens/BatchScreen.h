#pragma once

#include "ui/BatchLog.h"
#include "ui/screens/Screen.h"

#include <QPointer>

#include <functional>

class QMessageBox;
class QPushButton;
class QTreeWidget;

namespace pelwick {

class ActionButton;
class Badge;
class ConnectionStatusBlock;
class ElidedLabel;
class FastTransferOption;
class FlashPagePreview;
class LabelledProgress;
class NoticeBox;
class ProgrammingModeIllustration;
class ScreenHeader;
class SegmentedPicker;
class ToneLabel;

/// The batch session: settings in the setup phase, then one unit after another, with the
/// connection status, the counts of units done and failed and the list of this session's units
/// below, and the phase's buttons at the foot. Stopping or leaving while a unit is under way
/// asks first.
class BatchScreen : public Screen {
public:
    BatchScreen(FlasherStore& store, QWidget* parent = nullptr);

    void refresh() override;
    QPushButton* returnButton() const override;
    QPushButton* escapeButton() const override;

    ScreenHeader* header() const { return header_; }
    ActionButton* chooseFirmwareButton() const { return chooseFirmware_; }
    SegmentedPicker* backupPicker() const { return backupPicker_; }
    ActionButton* chooseFolderButton() const { return chooseFolder_; }
    FastTransferOption* fastTransfer() const { return fastTransfer_; }
    ProgrammingModeIllustration* drawing() const { return drawing_; }
    LabelledProgress* progress() const { return progress_; }
    FlashPagePreview* pagePreview() const { return preview_; }
    ConnectionStatusBlock* statusBlock() const { return status_; }
    NoticeBox* errorBox() const { return error_; }
    NoticeBox* doneNotice() const { return doneNotice_; }
    Badge* doneCount() const { return done_; }
    Badge* failedCount() const { return failed_; }
    QTreeWidget* unitList() const { return units_; }
    const BatchLog& log() const { return log_; }
    ActionButton* backButton() const { return back_; }
    ActionButton* startButton() const { return start_; }
    ActionButton* stopButton() const { return stop_; }
    ActionButton* nextButton() const { return next_; }
    ActionButton* retryButton() const { return retry_; }
    /// The open question before stopping or leaving, if any.
    QMessageBox* confirmation() const;

private:
    /// A unit is between its start and its outcome (waiting for its calculator or working).
    bool unitUnderWay() const;
    /// A unit's calculator is being read or written right now.
    bool unitWorking() const;
    void stop();
    void leave();
    void ask(const QString& title, const QString& message, const QString& action,
             std::function<void()> then);
    void showUnits();

    BatchLog log_;
    ScreenHeader* header_;
    Badge* done_;
    Badge* failed_;
    QWidget* setup_;
    ActionButton* chooseFirmware_;
    ElidedLabel* firmwareFile_;
    ToneLabel* expectedChecksum_;
    SegmentedPicker* backupPicker_;
    QWidget* folderRow_;
    ActionButton* chooseFolder_;
    ElidedLabel* folder_;
    FastTransferOption* fastTransfer_;
    QWidget* waiting_;
    ProgrammingModeIllustration* drawing_;
    LabelledProgress* progress_;
    FlashPagePreview* preview_;
    QWidget* unitDone_;
    NoticeBox* doneNotice_;
    ToneLabel* doneChecksum_;
    NoticeBox* error_;
    ConnectionStatusBlock* status_;
    QWidget* unitsSection_;
    ToneLabel* noUnits_;
    QTreeWidget* units_;
    ActionButton* back_;
    ActionButton* start_;
    ActionButton* stop_;
    ActionButton* next_;
    ActionButton* retry_;
    QPointer<QMessageBox> confirmation_;
};

} // namespace pelwick
