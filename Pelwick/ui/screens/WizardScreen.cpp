#include "ui/screens/WizardScreen.h"

#include "store/FlasherStore.h"
#include "ui/ConnectionState.h"
#include "ui/FocusOrder.h"
#include "ui/screens/steps/BackupStepBody.h"
#include "ui/screens/steps/CableStepBody.h"
#include "ui/screens/steps/ChecksumStepBody.h"
#include "ui/screens/steps/FirmwareStepBody.h"
#include "ui/screens/steps/FlashStepBody.h"
#include "ui/screens/steps/ProgrammingModeStepBody.h"
#include "ui/screens/steps/RestartStepBody.h"
#include "ui/widgets/ActionButton.h"
#include "ui/widgets/ChipLine.h"
#include "ui/widgets/Confirmation.h"
#include "ui/widgets/FastTransferOption.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/Separator.h"
#include "ui/widgets/StepRow.h"
#include "ui/widgets/TextLabels.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <memory>

namespace pelwick {

namespace {

constexpr int sidebarWidth = 232;

/// The title of a failure and what the user can do next, from the step it happened on.
struct ErrorNotice {
    QString title;
    QString next;
};

ErrorNotice errorNoticeFor(const FlasherStore& store, WizardStep step) {
    const QString flashButton =
        store.usingSimulator() ? "Flash Simulated Calculator" : "Flash Calculator";
    switch (step) {
    case WizardStep::backup:
        // Before the calculator's firmware is read, the read failed; afterwards, the saving.
        if (!store.currentFirmware()) {
            return {"Could not read the calculator",
                    "Keep the calculator in programming mode. Pelwick connects again by itself; "
                    "then press Check Firmware."};
        }
        return {"Backup not saved", "Choose another place with Save Backup…, or Skip."};
    case WizardStep::firmware:
        return {"Firmware file not accepted",
                "Choose a file of exactly 114,688 bytes with Choose Firmware…"};
    case WizardStep::flash:
        return {"Flash failed",
                "The bootloader is untouched, so flashing again is safe. Keep the calculator in "
                "programming mode; once it is connected again, press " +
                    flashButton + "."};
    default:
        if (const auto& identity = store.identity(); identity && !identity->isSupported15C()) {
            return {"Unsupported chip", "Use the cable only on a post-2015 Voyager calculator "
                                        "(15c CE, 16c CE, 12c)."};
        }
        return {"Operation failed", {}};
    }
}

bool sessionHasSomethingToLose(const FlasherStore& store) {
    const WizardState& wizard = store.wizard();
    return wizard.isBusy || store.currentFirmware() || store.firmwareURL() ||
           wizard.backupResolved || wizard.flashSucceeded;
}

} // namespace

WizardScreen::WizardScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent)
    : Screen(store, parent), quit_(std::move(quit)), steps_(new StepList),
      welcome_(new ActionButton("Back to welcome", ActionButton::Role::secondary)),
      header_(new ScreenHeader), chip_(new ChipLine), progress_(new LabelledProgress),
      preview_(new FlashPagePreview),
      success_(new NoticeBox(NoticeBox::Tone::success, "Success", "Flashed and verified.")),
      error_(new NoticeBox(NoticeBox::Tone::danger, {}, {})),
      back_(new ActionButton("Back", ActionButton::Role::secondary)),
      continue_(new ActionButton("Continue", ActionButton::Role::primary)),
      done_(new ActionButton("Done", ActionButton::Role::primary)) {
    setMinimumWidth(900);
    welcome_->setMnemonic('W');
    back_->setMnemonic('B');
    continue_->setMnemonic('C');
    done_->setMnemonic('D');
    header_->setTrailing(chip_);
    steps_->setFooter(welcome_);
    steps_->setFixedWidth(sidebarWidth);

    // The step body and, below it, progress and messages; they scroll only when the window is
    // smaller than its default size. The navigation row stays in place.
    auto* bodies = new QWidget;
    auto* bodyColumn = new QVBoxLayout(bodies);
    bodyColumn->setContentsMargins(0, 2, 12, 6);
    bodyColumn->setSpacing(10);
    bodies_ = {new CableStepBody(store, bodies),   new ProgrammingModeStepBody(store, bodies),
               new BackupStepBody(store, bodies),  new FirmwareStepBody(store, bodies),
               new FlashStepBody(store, bodies),   new RestartStepBody(store, bodies),
               new ChecksumStepBody(store, bodies)};
    for (StepBody* body : bodies_) {
        bodyColumn->addWidget(body);
        body->hide();
    }
    for (QWidget* message :
         std::initializer_list<QWidget*>{progress_, preview_, success_, error_}) {
        message->setParent(bodies);
        bodyColumn->addWidget(message);
    }
    bodyColumn->addStretch(1);
    scroll_ = scrollAreaFor(bodies, this);

    auto* navigation = new QHBoxLayout;
    navigation->setSpacing(10);
    navigation->addWidget(back_);
    navigation->addStretch(1);
    navigation->addWidget(continue_);
    navigation->addWidget(done_);

    auto* column = new QWidget;
    auto* right = new QVBoxLayout(column);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(10);
    right->addWidget(header_);
    right->addWidget(new Separator(column));
    right->addWidget(scroll_, 1);
    right->addLayout(navigation);
    right->addWidget(new FooterLine(column));

    // On a wide window the step list and the column stay together at reading width, centred.
    auto* block = new QWidget;
    auto* row = new QHBoxLayout(block);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(24);
    row->addWidget(steps_);
    row->addWidget(column, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->addWidget(centred(block, sidebarWidth + 24 + readingWidth, pageHeight));
    FocusOrder::followLayout(this);

    connect(welcome_, &QPushButton::clicked, this, [this] { leaveSession(); });
    connect(back_, &QPushButton::clicked, this, [this] {
        if (store_.wizard().step == WizardStep::cable) {
            leaveSession();
        } else {
            store_.goBack();
        }
    });
    connect(continue_, &QPushButton::clicked, this, [this] { store_.advance(); });
    connect(done_, &QPushButton::clicked, this, [this] {
        if (store_.usingSimulator()) {
            store_.markDemoCompleted();
        }
        if (quit_) {
            quit_();
        }
    });
}

void WizardScreen::refresh() {
    const WizardState& wizard = store_.wizard();
    const bool demo = store_.usingSimulator();

    header_->show(demo ? "DEMO" : "", TextLabels::of(store_.appTitle()),
                  demo ? "DEMO — simulated Collector’s Edition"
                       : "Native SAM-BA programmer for the post-2015 Voyager series");
    chip_->show(ConnectionState::of(store_));
    steps_->show(wizard, [this](WizardStep step) { return stepDetail(store_, step); });

    for (StepBody* body : bodies_) {
        body->setVisible(body == bodies_.at(std::size_t(wizard.step)));
    }
    bodies_.at(std::size_t(wizard.step))->refresh();
    if (wizard.step != shownStep_) {
        shownStep_ = wizard.step;
        scroll_->verticalScrollBar()->setValue(0);
    }

    // The bar belongs to the operation while it runs; its outcome is the success or error box.
    const auto& progress = store_.progress();
    const bool running = wizard.isBusy && progress.has_value();
    progress_->setVisible(running);
    if (running) {
        const auto& caption = store_.progressCaption();
        const LabelledProgress::Tint tint =
            store_.progressIsVerify()           ? LabelledProgress::Tint::verifying
            : caption && *caption == "Flashing" ? LabelledProgress::Tint::flashing
                                                : LabelledProgress::Tint::accent;
        progress_->show(*progress, caption ? TextLabels::of(*caption) : "Working", tint,
                        store_.progressBarID());
    }
    const bool onFlash = wizard.step == WizardStep::flash;
    const bool previewShown = onFlash && store_.flashPageHeader().has_value();
    preview_->setVisible(previewShown);
    if (previewShown) {
        preview_->show(*store_.flashPageHeader(), store_.flashPageLines());
    }
    success_->setVisible(onFlash && wizard.flashSucceeded);
    success_->setContent(NoticeBox::Tone::success, "Success", "Flashed and verified.",
                         store_.flashFellBack() ? FastTransferOption::fellBackNote : QString());
    showError();

    const bool last = wizard.step == WizardStep::checksum;
    back_->setVisible(wizard.step == WizardStep::cable || !wizard.isBusy);
    welcome_->setVisible(!wizard.isBusy);
    continue_->setVisible(!last);
    continue_->setEnabled(wizard.canAdvance());
    done_->setVisible(last);

    revealNewMessages();
    syncConfirmation();
}

void WizardScreen::showError() {
    const auto& lastError = store_.lastError();
    if (lastError != errorText_) {
        errorText_ = lastError;
        errorStep_ = store_.wizard().step;
    }
    const bool shown = lastError && errorStep_ == store_.wizard().step;
    error_->setVisible(shown);
    if (shown) {
        const ErrorNotice notice = errorNoticeFor(store_, errorStep_);
        const auto help = store_.lastErrorHelp();
        error_->setContent(NoticeBox::Tone::danger, notice.title, TextLabels::of(*lastError),
                           help ? TextLabels::of(*help) : notice.next);
    }
}

void WizardScreen::revealNewMessages() {
    // A message that has just appeared below the fold (on a window smaller than the default)
    // is scrolled into view once; afterwards the user scrolls freely.
    const std::array<QWidget*, 4> messages = {progress_, preview_, success_, error_};
    QWidget* newest = nullptr;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const bool shown = !messages[i]->isHidden();
        if (shown && !messageShown_[i]) {
            newest = messages[i];
        }
        messageShown_[i] = shown;
    }
    if (newest) {
        // Lay the new content out first, so the scroll area knows where the message is.
        for (int pass = 0; pass < 3; ++pass) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        }
        scroll_->ensureWidgetVisible(newest, 0, 12);
    }
}

QPushButton* WizardScreen::returnButton() const {
    return store_.wizard().step == WizardStep::checksum ? done_ : continue_;
}

QPushButton* WizardScreen::escapeButton() const {
    return back_;
}

void WizardScreen::leaveSession() {
    if (!sessionHasSomethingToLose(store_)) {
        store_.returnToWelcome();
        return;
    }
    closeConfirmation();
    raiseConfirmation(Asking::leave);
}

void WizardScreen::syncConfirmation() {
    if (asking_ == Asking::leave) {
        return; // the window's own question, not the store's
    }
    const Asking wanted = store_.confirmFlash()        ? Asking::flash
                          : store_.confirmSkipBackup() ? Asking::skipBackup
                                                       : Asking::nothing;
    if (wanted == asking_) {
        return;
    }
    closeConfirmation();
    if (wanted != Asking::nothing) {
        raiseConfirmation(wanted);
    }
}

void WizardScreen::raiseConfirmation(Asking what) {
    const bool demo = store_.usingSimulator();
    QString title;
    QString message;
    QString action;
    switch (what) {
    case Asking::flash:
        title = demo ? "Flash the simulated calculator?" : "Flash the calculator?";
        message = demo ? "DEMO writes only the simulated calculator on this computer. A real "
                         "calculator is not changed."
                       : "FLASH writes a real calculator. User memory will be wiped. The "
                         "bootloader at 0x0000–0x3FFF is not overwritten.";
        action = "Flash at 0x04000";
        break;
    case Asking::skipBackup:
        title = "Skip backup?";
        message = "If the new firmware misbehaves, you will not have a copy of what is on the "
                  "calculator now.";
        action = "Skip backup";
        break;
    case Asking::leave:
        title = "Leave this session?";
        message = "Pelwick forgets the firmware it read from the calculator, the file you chose "
                  "and how far you got. Backups you saved stay where they are.";
        action = "Leave session";
        break;
    case Asking::nothing:
        return;
    }
    auto shown = std::make_shared<QMessageBox*>(nullptr);
    QMessageBox* box = askToConfirm(this, title, message, action, [this, what, shown](bool yes) {
        if (confirmation_ != *shown) {
            return;
        }
        confirmation_ = nullptr;
        asking_ = Asking::nothing;
        switch (what) {
        case Asking::flash:
            yes ? store_.flash() : store_.setConfirmFlash(false);
            break;
        case Asking::skipBackup:
            yes ? store_.skipBackup() : store_.setConfirmSkipBackup(false);
            break;
        case Asking::leave:
            if (yes) {
                store_.returnToWelcome();
            }
            break;
        case Asking::nothing:
            break;
        }
    });
    *shown = box;
    confirmation_ = box;
    asking_ = what;
}

void WizardScreen::closeConfirmation() {
    QMessageBox* box = confirmation_;
    confirmation_ = nullptr;
    asking_ = Asking::nothing;
    closeQuietly(box);
}

} // namespace pelwick
