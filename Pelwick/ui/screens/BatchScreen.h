#pragma once

#include "ui/screens/Screen.h"

class QPushButton;

namespace pelwick {

class ConnectionStatusBlock;
class FlashPagePreview;
class LabelledProgress;
class NoticeBox;
class ProminentButton;
class ScreenHeader;
class SegmentedPicker;
class ToneLabel;

/// The batch session: settings in the setup phase, then one unit after another, with the
/// connection status below and the phase's buttons at the foot.
class BatchScreen : public Screen {
public:
    BatchScreen(FlasherStore& store, QWidget* parent = nullptr);

    void refresh() override;
    QPushButton* returnButton() const override;

    ScreenHeader* header() const { return header_; }
    ProminentButton* chooseFirmwareButton() const { return chooseFirmware_; }
    SegmentedPicker* backupPicker() const { return backupPicker_; }
    QPushButton* chooseFolderButton() const { return chooseFolder_; }
    LabelledProgress* progress() const { return progress_; }
    FlashPagePreview* pagePreview() const { return preview_; }
    ConnectionStatusBlock* statusBlock() const { return status_; }
    ToneLabel* errorText() const { return error_; }
    /// Help under the error (a port that could not be opened).
    ToneLabel* errorHelp() const { return errorHelp_; }
    QPushButton* backButton() const { return back_; }
    ProminentButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }
    ProminentButton* nextButton() const { return next_; }
    ProminentButton* retryButton() const { return retry_; }

private:
    ScreenHeader* header_;
    QWidget* setup_;
    ProminentButton* chooseFirmware_;
    ToneLabel* firmwareFile_;
    ToneLabel* expectedChecksum_;
    SegmentedPicker* backupPicker_;
    QWidget* folderRow_;
    QPushButton* chooseFolder_;
    ToneLabel* folder_;
    ToneLabel* folderNaming_;
    ToneLabel* waiting_;
    LabelledProgress* progress_;
    FlashPagePreview* preview_;
    QWidget* unitDone_;
    ToneLabel* doneChecksum_;
    ToneLabel* failed_;
    ToneLabel* error_;
    ToneLabel* errorHelp_;
    ConnectionStatusBlock* status_;
    QPushButton* back_;
    ProminentButton* start_;
    QPushButton* stop_;
    ProminentButton* next_;
    ProminentButton* retry_;
};

} // namespace pelwick
