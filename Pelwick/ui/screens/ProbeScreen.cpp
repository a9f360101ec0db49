#include "ui/screens/ProbeScreen.h"

#include "store/FlasherStore.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/PlainButton.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/Separator.h"
#include "ui/widgets/TextLabels.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace pelwick {

ProbeScreen::ProbeScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent)
    : Screen(store, parent), quitApplication_(std::move(quit)), header_(new ScreenHeader(this)),
      portHeading_(TextLabels::heading("Programming port", nullptr)),
      portLine_(TextLabels::paragraph({}, nullptr)), status_(new ConnectionStatusBlock),
      error_(TextLabels::error(nullptr)), back_(new PlainButton("Back to welcome", this)),
      quit_(new PlainButton("Quit", this)) {
    header_->show("PROBE", "Pelwick", "Connection Probe — test cable detection only");
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 14, 8);
    column->setSpacing(12);
    column->addWidget(
        TextLabels::paragraph("Hold ERASE, press RESET, then release ERASE.", content));
    column->addSpacing(4);
    for (QWidget* widget : {static_cast<QWidget*>(portHeading_), static_cast<QWidget*>(portLine_),
                            static_cast<QWidget*>(status_), static_cast<QWidget*>(error_)}) {
        widget->setParent(content);
        column->addWidget(widget);
    }
    column->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addWidget(back_);
    buttons->addStretch(1);
    buttons->addWidget(quit_);

    layOutPage(header_, content, buttons);

    connect(back_, &QPushButton::clicked, this, [this] { store_.returnToWelcome(); });
    connect(quit_, &QPushButton::clicked, this, [this] {
        if (quitApplication_) {
            quitApplication_();
        }
    });
}

void ProbeScreen::refresh() {
    const auto name = store_.probePortName();
    portHeading_->setVisible(name.has_value());
    portLine_->setVisible(name.has_value());
    if (name) {
        QString line = TextLabels::of(*name) + " · USB CDC (SAM-BA)";
        // The USB id confirms what the name only suggests.
        if (const auto usb = store_.portUsbIdentity(); usb && usb->isSambaMonitor()) {
            line += " · confirmed by USB id " + TextLabels::of(usb->idText());
        }
        portLine_->setText(line);
    }
    status_->show(store_.status(), store_.portPath(), store_.sambaVersion(),
                  store_.portUsbIdentity(), store_.portOpenHelp());
    const auto& lastError = store_.lastError();
    error_->setVisible(lastError.has_value());
    error_->setText(lastError ? TextLabels::of(*lastError) : QString());
}

} // namespace pelwick
