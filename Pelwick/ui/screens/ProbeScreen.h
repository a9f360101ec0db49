#pragma once

#include "ui/screens/Screen.h"

class QPushButton;

namespace pelwick {

class ConnectionStatusBlock;
class ScreenHeader;
class ToneLabel;

/// The connection probe: what the cable and the SAM-BA monitor look like right now.
class ProbeScreen : public Screen {
public:
    ProbeScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent = nullptr);

    void refresh() override;
    QPushButton* returnButton() const override { return nullptr; }

    ScreenHeader* header() const { return header_; }
    ToneLabel* portHeading() const { return portHeading_; }
    ToneLabel* portLine() const { return portLine_; }
    ConnectionStatusBlock* statusBlock() const { return status_; }
    ToneLabel* errorText() const { return error_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* quitButton() const { return quit_; }

private:
    std::function<void()> quitApplication_;
    ScreenHeader* header_;
    ToneLabel* portHeading_;
    ToneLabel* portLine_;
    ConnectionStatusBlock* status_;
    ToneLabel* error_;
    QPushButton* back_;
    QPushButton* quit_;
};

} // namespace pelwick
