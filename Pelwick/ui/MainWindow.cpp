#include "ui/MainWindow.h"

#include "store/FlasherStore.h"
#include "ui/platform/SimulatorShortcutFilter.h"
#include "ui/screens/BatchScreen.h"
#include "ui/screens/ProbeScreen.h"
#include "ui/screens/WelcomeScreen.h"
#include "ui/screens/WizardScreen.h"

#include <QApplication>
#include <QCloseEvent>
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
      probe_(new ProbeScreen(*store_, quit, stack_)) {
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
    if (stack_->currentWidget() != screen) {
        stack_->setCurrentWidget(screen);
    }
    screen->refresh();
    setWindowTitle(QString::fromStdString(store_->appTitle()));
}

Screen* MainWindow::currentScreen() const {
    return static_cast<Screen*>(stack_->currentWidget());
}

void MainWindow::pressReturnButton() {
    if (QPushButton* button = currentScreen()->returnButton();
        button && button->isVisible() && button->isEnabled()) {
        button->click();
    }
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!started_) {
        started_ = true;
        store_->start();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
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

} // namespace pelwick
