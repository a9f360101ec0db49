#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QMessageBox;
class QStackedWidget;

namespace pelwick {

class BatchScreen;
class FlasherStore;
class ProbeScreen;
class Screen;
class SimulatorShortcutFilter;
class WelcomeScreen;
class WizardScreen;

/// The application's one window ("flasher-main"). It shows the welcome, probe, batch or wizard
/// screen as the store's state decides and re-reads the store after every change. Showing it the
/// first time starts the store; closing it stops the store's monitoring, removes the demo
/// shortcut and closes the connection.
///
/// Keys: Return presses the button that has the keyboard focus, or the screen's default button
/// when none has; Escape presses the screen's way back; Ctrl+Q quits. Quitting or closing while
/// an operation runs on the calculator asks first.
class MainWindow : public QWidget {
public:
    /// `quit` ends the application (Done, Quit, Ctrl+Q).
    MainWindow(std::shared_ptr<FlasherStore> store, std::function<void()> quit,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    /// Re-reads the store now instead of in the next event-loop turn.
    void refreshNow();

    Screen* currentScreen() const;
    WelcomeScreen* welcomeScreen() const { return welcome_; }
    WizardScreen* wizardScreen() const { return wizard_; }
    BatchScreen* batchScreen() const { return batch_; }
    ProbeScreen* probeScreen() const { return probe_; }
    /// The open question before quitting, if any.
    QMessageBox* quitConfirmation() const;

    /// Ctrl+Q: quits, asking first while the calculator is being worked on.
    void requestQuit();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void scheduleRefresh();
    void pressReturnButton();
    void pressEscapeButton();
    /// An operation on the calculator is running (or a batch unit is under way).
    bool isBusy() const;
    /// Asks before quitting; `quit` runs when the user agrees.
    void askToQuit(std::function<void()> quit);
    void tearDown();

    std::shared_ptr<FlasherStore> store_;
    QStackedWidget* stack_;
    WelcomeScreen* welcome_;
    WizardScreen* wizard_;
    BatchScreen* batch_;
    ProbeScreen* probe_;
    SimulatorShortcutFilter* shortcut_;
    bool refreshPending_ = false;
    bool started_ = false;
    bool tornDown_ = false;
    std::function<void()> quit_;
    QPointer<QMessageBox> quitConfirmation_;
    bool quitConfirmed_ = false;
};

} // namespace pelwick
