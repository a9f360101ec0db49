#include "ui/screens/ProbeScreen.h"

#include "store/FlasherStore.h"
#include "ui/drawings/ProgrammingModeIllustration.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ConnectionStatusBlock.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/TextLabels.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace pelwick {

ProbeScreen::ProbeScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent)
    : Screen(store, parent), quitApplication_(std::move(quit)), header_(new ScreenHeader),
      drawing_(new ProgrammingModeIllustration),
      portHeading_(TextLabels::heading("Programming port", nullptr)),
      portLine_(new ElidedLabel(ToneLabel::Tone::primary)), status_(new ConnectionStatusBlock),
      error_(new NoticeBox(NoticeBox::Tone::danger, {}, {})),
      back_(new ActionButton("Back to welcome", ActionButton::Role::secondary)),
      quit_(new ActionButton("Quit", ActionButton::Role::secondary)) {
    back_->setMnemonic('W');
    quit_->setMnemonic('Q');
    header_->show("PROBE", "Pelwick", "Connection Probe — test cable detection only");
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 12, 6);
    column->setSpacing(10);
    column->addWidget(
        TextLabels::paragraph("Hold ERASE, press RESET, then release ERASE.", content));
    for (QWidget* widget :
         std::initializer_list<QWidget*>{drawing_, portHeading_, portLine_, status_, error_}) {
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
    // The drawing shows what to do until a calculator answers.
    drawing_->setVisible(!store_.identity().has_value());
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
    if (lastError) {
        const auto help = store_.lastErrorHelp();
        const bool unsupported = store_.identity() && !store_.identity()->isSupported15C();
        error_->setContent(
            NoticeBox::Tone::danger, unsupported ? "Unsupported chip" : "Connection failed",
            TextLabels::of(*lastError),
            help          ? TextLabels::of(*help)
            : unsupported ? "Use the cable only on a post-2015 Voyager calculator (15c CE, "
                            "16c CE, 12c)."
                          : QString());
    }
}

QPushButton* ProbeScreen::escapeButton() const {
    return back_;
}

} // namespace pelwick
