#include "ui/MainWindow.h"

#include "store/FlasherStore.h"
#include "ui/platform/SimulatorShortcutFilter.h"
#include "ui/screens/BatchScreen.h"
#include "ui/screens/ProbeScreen.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/screens/WizardScreen.h"
#include "ui/widgets/Confirmation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace pelwick {

MainWindow::MainWindow(std::shared_ptr<FlasherStore> store, std::function<void()> quit,
                       QWidget* parent)
    : QWidget(parent), store_(std::move(store)), stack_(new QStackedWidget(this)),
      welcome_(new WelcomeScreen(*store_, stack_)),
      wizard_(new WizardScreen(*store_, quit, stack_)), batch_(new BatchScreen(*store_, stack_)),
      probe_(new ProbeScreen(*store_, quit, stack_)), quit_(quit) {
    setObjectName("flasher-main");
    setAttribute(Qt::WA_DeleteOnClose, false);
    stack_->addWidget(welcome_);
    stack_->addWidget(wizard_);
    stack_->addWidget(batch_);
    stack_->addWidget(probe_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack_);
    resize(920, 760);

    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &MainWindow::pressReturnButton);
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &MainWindow::pressEscapeButton);
    auto* quitKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quitKey->setContext(Qt::WindowShortcut);
    connect(quitKey, &QShortcut::activated, this, &MainWindow::requestQuit);

    std::weak_ptr<FlasherStore> weakStore = store_;
    shortcut_ = new SimulatorShortcutFilter(
        [weakStore] {
            const auto store = weakStore.lock();
            return store && store->handleSimulatorShortcut();
        },
        this);
    qApp->installEventFilter(shortcut_);

    store_->setOnChange([this] { scheduleRefresh(); });
    refreshNow();
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(shortcut_);
    tearDown();
    store_->setOnChange({});
}

void MainWindow::scheduleRefresh() {
    // Several fields change in one store operation; the screen is rebuilt once, from the final
    // values, when control returns to the event loop.
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (refreshPending_) {
                refreshNow();
            }
        },
        Qt::QueuedConnection);
}

void MainWindow::refreshNow() {
    refreshPending_ = false;
    Screen* screen = wizard_;
    if (store_->showWelcome()) {
        screen = welcome_;
    } else if (store_->isProbeSession()) {
        screen = probe_;
    } else if (store_->isBatchSession()) {
        screen = batch_;
    }
    const QPointer<QWidget> focused = QApplication::focusWidget();
    const bool switching = stack_->currentWidget() != screen;
    if (switching) {
        stack_->setCurrentWidget(screen);
    }
    screen->refresh();
    setWindowTitle(QString::fromStdString(store_->appTitle()));
    // When the button the user had moved to goes away, Qt hands the focus to the next one in
    // the chain, which the user never chose; Return must then mean the default button again.
    if (switching || (focused && isAncestorOf(focused) && !focused->isVisible())) {
        setFocus(Qt::OtherFocusReason);
    }
}

Screen* MainWindow::currentScreen() const {
    return static_cast<Screen*>(stack_->currentWidget());
}

void MainWindow::pressReturnButton() {
    // A button the user has moved to with Tab acts; a mode card or a segment is a choice, not
    // an action, so the default button acts then.
    auto* focused = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
    QAbstractButton* button = focused && !focused->isCheckable() && isAncestorOf(focused)
                                  ? focused
                                  : currentScreen()->returnButton();
    if (button && button->isVisible() && button->isEnabled()) {
        button->click();
    }
}

void MainWindow::pressEscapeButton() {
    if (QPushButton* button = currentScreen()->escapeButton();
        button && button->isVisible() && button->isEnabled()) {
        button->click();
    }
}

bool MainWindow::isBusy() const {
    return store_->wizard().isBusy || store_->hasBatchUnitTask();
}

void MainWindow::requestQuit() {
    if (!quit_) {
        return;
    }
    if (!isBusy()) {
        quit_();
        return;
    }
    askToQuit(quit_);
}

void MainWindow::askToQuit(std::function<void()> quit) {
    if (quitConfirmation_) {
        return;
    }
    quitConfirmation_ = askToConfirm(
        this, "Quit while the calculator is busy?",
        "Pelwick is still working: " + QString::fromStdString(store_->status()) +
            " Quitting stops it half-way. If firmware is being written, the calculator keeps its "
            "bootloader but needs another flash before it works again.",
        "Quit", [this, quit](bool yes) {
            if (yes) {
                quitConfirmed_ = true;
                quit();
            }
        });
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!started_) {
        started_ = true;
        // No button has the focus until the user moves to one, so Return starts with the
        // default button.
        setFocus(Qt::OtherFocusReason);
        store_->start();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (isBusy() && !quitConfirmed_) {
        event->ignore();
        askToQuit([this] { close(); });
        return;
    }
    tearDown();
    QWidget::closeEvent(event);
}

void MainWindow::tearDown() {
    if (tornDown_ || !started_) {
        return;
    }
    tornDown_ = true;
    // Stops the monitoring loop, removes the demo shortcut and closes the connection.
    store_->stop();
}

QMessageBox* MainWindow::quitConfirmation() const {
    return quitConfirmation_.data();
}

} // namespace pelwick
