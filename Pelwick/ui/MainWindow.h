#pragma once

#include <QWidget>

#include <functional>
#include <memory>

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
class MainWindow : public QWidget {
public:
    /// `quit` ends the application (Done, Quit).
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void scheduleRefresh();
    void pressReturnButton();
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
};

} // namespace pelwick
