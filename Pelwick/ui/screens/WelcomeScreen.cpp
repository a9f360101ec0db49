#include "ui/screens/WelcomeScreen.h"

#include "store/FlasherStore.h"
#include "ui/FocusOrder.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ModeCard.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/TextLabels.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

namespace pelwick {

const char* const WelcomeScreen::disclaimer =
    "Use this program at your own risk. Flashing replaces the calculator’s firmware and erases "
    "its user memory (programs, registers and settings). The bootloader is never written, so a "
    "failed flash can be repeated. Pelwick is not made or endorsed by the calculator’s maker.";

namespace {

struct ModeText {
    FlasherMode mode;
    const char* title;
    const char* detail;
};

const ModeText modeTexts[] = {
    {FlasherMode::demo, "DEMO",
     "Walk through the full wizard against a simulated calculator on this computer. No cable. "
     "Nothing is written to a real calculator."},
    {FlasherMode::flash, "FLASH",
     "Talk to a real post-2015 Voyager calculator over the pogo cable. User memory will be "
     "wiped."},
    {FlasherMode::batch, "BATCH",
     "Flash many Collector’s Editions in sequence with the same firmware. For experienced "
     "operators only. Each unit still needs ERASE+RESET; user memory is wiped every time."},
    {FlasherMode::probe, "Connection Probe",
     "Test cable detection on real hardware without choosing firmware or flashing. Confirms "
     "SAM-BA sees the calculator before you start FLASH or BATCH."},
};

} // namespace

WelcomeScreen::WelcomeScreen(FlasherStore& store, QWidget* parent)
    : Screen(store, parent), header_(new ScreenHeader(this)),
      continue_(new ActionButton("Continue", ActionButton::Role::primary, this)) {
    continue_->setMnemonic('C');
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(40, 32, 40, 24);
    column->setSpacing(4);
    header_->show({}, "Pelwick", "Choose how you want to run this session.");
    column->addWidget(header_);
    column->addSpacing(14);
    for (const ModeText& text : modeTexts) {
        auto* card = new ModeCard(text.title, text.detail, content);
        const FlasherMode mode = text.mode;
        connect(card, &QAbstractButton::clicked, this,
                [this, mode] { store_.setSelectedMode(mode); });
        cards_[mode] = card;
        column->addWidget(card);
    }
    column->addSpacing(14);
    column->addWidget(TextLabels::heading("Disclaimer", content));
    column->addWidget(TextLabels::secondary(disclaimer, content));
    column->addStretch(1);

    auto* bottomRow = new QWidget;
    auto* bottom = new QHBoxLayout(bottomRow);
    bottom->setContentsMargins(40, 12, 40, 18);
    bottom->addWidget(new FooterLine(bottomRow), 1, Qt::AlignVCenter);
    bottom->addWidget(continue_);
    connect(continue_, &QPushButton::clicked, this, [this] { store_.beginChosenSession(); });

    // Keep the column at a comfortable reading width (and height) on large windows.
    auto* page = new QWidget;
    auto* pageColumn = new QVBoxLayout(page);
    pageColumn->setContentsMargins(0, 0, 0, 0);
    pageColumn->setSpacing(0);
    pageColumn->addWidget(scrollAreaFor(content, page), 1);
    pageColumn->addWidget(bottomRow);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(centred(page, readingWidth, pageHeight));
    FocusOrder::followLayout(this);
}

void WelcomeScreen::refresh() {
    for (const auto& [mode, card] : cards_) {
        card->setChecked(store_.selectedMode() == mode);
    }
    cards_.at(FlasherMode::demo)->setBadge(store_.hasCompletedDemo() ? "" : "Recommended");
}

QPushButton* WelcomeScreen::returnButton() const {
    return continue_;
}

} // namespace pelwick
