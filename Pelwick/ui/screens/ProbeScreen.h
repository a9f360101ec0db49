#pragma once

#include "ui/screens/Screen.h"

#include <functional>

class QPushButton;

namespace pelwick {

class ActionButton;
class ConnectionStatusBlock;
class ElidedLabel;
class NoticeBox;
class ProgrammingModeIllustration;
class ScreenHeader;
class ToneLabel;

/// The connection probe: what the cable and the SAM-BA monitor look like right now, with the
/// ERASE + RESET drawing while no calculator is connected.
class ProbeScreen : public Screen {
public:
    ProbeScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent = nullptr);

    void refresh() override;
    QPushButton* returnButton() const override { return nullptr; }
    QPushButton* escapeButton() const override;

    ScreenHeader* header() const { return header_; }
    ProgrammingModeIllustration* drawing() const { return drawing_; }
    ToneLabel* portHeading() const { return portHeading_; }
    ElidedLabel* portLine() const { return portLine_; }
    ConnectionStatusBlock* statusBlock() const { return status_; }
    NoticeBox* errorBox() const { return error_; }
    ActionButton* backButton() const { return back_; }
    ActionButton* quitButton() const { return quit_; }

private:
    std::function<void()> quitApplication_;
    ScreenHeader* header_;
    ProgrammingModeIllustration* drawing_;
    ToneLabel* portHeading_;
    ElidedLabel* portLine_;
    ConnectionStatusBlock* status_;
    NoticeBox* error_;
    ActionButton* back_;
    ActionButton* quit_;
};

} // namespace pelwick
