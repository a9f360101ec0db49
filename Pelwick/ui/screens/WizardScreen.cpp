#include "ui/screens/WizardScreen.h"

#include "store/FlasherStore.h"
#include "ui/Theme.h"
#include "ui/screens/steps/BackupStepBody.h"
#include "ui/screens/steps/CableStepBody.h"
#include "ui/screens/steps/ChecksumStepBody.h"
#include "ui/screens/steps/FirmwareStepBody.h"
#include "ui/screens/steps/FlashStepBody.h"
#include "ui/screens/steps/ProgrammingModeStepBody.h"
#include "ui/screens/steps/RestartStepBody.h"
#include "ui/widgets/FlashPagePreview.h"
#include "ui/widgets/LabelledProgress.h"
#include "ui/widgets/NoticeBox.h"
#include "ui/widgets/PlainButton.h"
#include "ui/widgets/ProminentButton.h"
#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/Separator.h"
#include "ui/widgets/StepRow.h"
#include "ui/widgets/TextLabels.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace pelwick {

ChipLine::ChipLine(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ChipLine::show(const QString& text, bool connected, bool supported) {
    if (text == text_ && connected == connected_ && supported == supported_) {
        return;
    }
    text_ = text;
    connected_ = connected;
    supported_ = supported;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize ChipLine::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text_) + 40, metrics.height() + 12);
}

void ChipLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor dot = !connected_  ? Theme::tint(pal, pal.color(QPalette::WindowText), 0.35)
                       : supported_ ? Theme::success(pal)
                                    : Theme::caution(pal);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::separator(pal), 1));
    painter.setBrush(pal.color(QPalette::Base));
    painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dot);
    painter.drawEllipse(QPointF(16, area.center().y()), 4.5, 4.5);
    painter.setPen(connected_ ? pal.color(QPalette::WindowText) : Theme::secondaryText(pal));
    painter.drawText(QRectF(28, 0, width() - 38, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text_);
}

WizardScreen::WizardScreen(FlasherStore& store, std::function<void()> quit, QWidget* parent)
    : Screen(store, parent), quit_(std::move(quit)), steps_(new StepList(this)),
      header_(new ScreenHeader(this)), chip_(new ChipLine(this)),
      progress_(new LabelledProgress(this)), preview_(new FlashPagePreview(this)),
      success_(new NoticeBox(NoticeBox::Tone::success, "Success", "Flashed and verified.", this)),
      error_(TextLabels::error(this)), errorHelp_(TextLabels::help(this)),
      back_(new PlainButton("Back", this)), continue_(new ProminentButton("Continue", this)),
      done_(new ProminentButton("Done", this)) {
    setMinimumWidth(900);
    header_->setTrailing(chip_);

    // The step body and, below it, progress and messages scroll together; the navigation row
    // stays in place.
    auto* bodies = new QWidget;
    auto* bodyColumn = new QVBoxLayout(bodies);
    bodyColumn->setContentsMargins(0, 4, 14, 8);
    bodyColumn->setSpacing(14);
    bodies_ = {new CableStepBody(store, bodies),   new ProgrammingModeStepBody(store, bodies),
               new BackupStepBody(store, bodies),  new FirmwareStepBody(store, bodies),
               new FlashStepBody(store, bodies),   new RestartStepBody(store, bodies),
               new ChecksumStepBody(store, bodies)};
    for (StepBody* body : bodies_) {
        bodyColumn->addWidget(body);
        body->hide();
    }
    for (QWidget* message :
         std::initializer_list<QWidget*>{progress_, preview_, success_, error_, errorHelp_}) {
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

    auto* separator = new Separator(this);

    auto* right = new QVBoxLayout;
    right->setSpacing(14);
    right->addWidget(header_);
    right->addWidget(separator);
    right->addWidget(scroll_, 1);
    right->addLayout(navigation);
    right->addWidget(new FooterLine(this));

    steps_->setFixedWidth(232);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(24);
    layout->addWidget(steps_);
    layout->addLayout(right, 1);

    connect(back_, &QPushButton::clicked, this, [this] {
        if (store_.wizard().step == WizardStep::cable) {
            store_.returnToWelcome();
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
    const auto& identity = store_.identity();
    chip_->show(identity ? TextLabels::of(identity->name) : "Not connected", identity.has_value(),
                identity && identity->isSupported15C());

    steps_->show(wizard, [this](WizardStep step) { return store_.completionDetail(step); });

    for (StepBody* body : bodies_) {
        body->setVisible(body == bodies_.at(std::size_t(wizard.step)));
    }
    bodies_.at(std::size_t(wizard.step))->refresh();
    if (wizard.step != shownStep_) {
        shownStep_ = wizard.step;
        scroll_->verticalScrollBar()->setValue(0);
    }

    const auto& progress = store_.progress();
    progress_->setVisible(progress.has_value());
    if (progress) {
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
    const auto& lastError = store_.lastError();
    error_->setVisible(lastError.has_value());
    error_->setText(lastError ? TextLabels::of(*lastError) : QString());
    const auto errorHelp = store_.lastErrorHelp();
    errorHelp_->setVisible(errorHelp.has_value());
    errorHelp_->setText(errorHelp ? TextLabels::of(*errorHelp) : QString());

    const bool last = wizard.step == WizardStep::checksum;
    back_->setVisible(wizard.step == WizardStep::cable || !wizard.isBusy);
    continue_->setVisible(!last);
    continue_->setEnabled(wizard.canAdvance());
    done_->setVisible(last);

    revealNewMessages();
    syncConfirmation();
}

void WizardScreen::revealNewMessages() {
    // A message that has just appeared below the fold is scrolled into view once; afterwards the
    // user scrolls freely.
    const std::array<QWidget*, 5> messages = {progress_, preview_, success_, error_, errorHelp_};
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

void WizardScreen::syncConfirmation() {
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
    QString title = "Skip backup?";
    QString message = "If the new firmware misbehaves, you will not have a copy of what is on the "
                      "calculator now.";
    QString action = "Skip backup";
    if (what == Asking::flash) {
        title = demo ? "Flash the simulated calculator?" : "Flash the calculator?";
        message = demo ? "DEMO writes only the simulated calculator on this computer. A real "
                         "calculator is not changed."
                       : "FLASH writes a real calculator. User memory will be wiped. The "
                         "bootloader at 0x0000–0x3FFF is not overwritten.";
        action = "Flash at 0x04000";
    }
    auto* box = new QMessageBox(this);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(message);
    // Room for the message on a few lines instead of a narrow column.
    box->setStyleSheet("QLabel#qt_msgbox_label { font-weight: bold; }"
                       "QLabel#qt_msgbox_informativelabel { min-width: 360px; }");
    QPushButton* destructive = box->addButton(action, QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton("Cancel", QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    confirmation_ = box;
    asking_ = what;
    connect(box, &QMessageBox::finished, this, [this, box, destructive, what] {
        if (confirmation_ != box) {
            return; // closed because the store stopped asking
        }
        confirmation_ = nullptr;
        asking_ = Asking::nothing;
        const bool confirmed = box->clickedButton() == destructive;
        if (what == Asking::flash) {
            confirmed ? store_.flash() : store_.setConfirmFlash(false);
        } else {
            confirmed ? store_.skipBackup() : store_.setConfirmSkipBackup(false);
        }
    });
    box->open();
}

void WizardScreen::closeConfirmation() {
    QMessageBox* box = confirmation_;
    confirmation_ = nullptr;
    asking_ = Asking::nothing;
    if (box) {
        box->close();
    }
}

} // namespace pelwick
