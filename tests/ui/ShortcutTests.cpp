#include "UiHarness.h"

#include "ui/platform/SimulatorShortcutFilter.h"

#include <QPushButton>

#include <QKeyEvent>

namespace pelwick::testing {
namespace {

/// Counts the key presses that reach it.
class KeyCounter : public QObject {
public:
    int presses = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            ++presses;
        }
        return false;
    }
};

void press(QWidget* widget, Qt::KeyboardModifiers modifiers, bool autoRepeat = false) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_S, modifiers, "s", autoRepeat);
    QApplication::sendEvent(widget, &event);
}

TEST(SimulatorShortcut, CyclesTheWelcomeModeOnlyForExactlyControlShiftS) {
    UiHarness ui;
    QWidget* target = ui.window->welcomeScreen()->card(FlasherMode::demo);
    KeyCounter counter;
    target->installEventFilter(&counter);

    press(target, Qt::ControlModifier | Qt::ShiftModifier);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::flash);
    EXPECT_EQ(counter.presses, 0); // swallowed
    EXPECT_TRUE(ui.window->welcomeScreen()->card(FlasherMode::flash)->isChecked());

    press(target, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    press(target, Qt::ControlModifier);
    press(target, Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier);
    press(target, Qt::ControlModifier | Qt::ShiftModifier, true);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::flash);
    EXPECT_EQ(counter.presses, 4); // passed on unchanged

    // The keypad flag is not a modifier the user holds.
    press(target, Qt::ControlModifier | Qt::ShiftModifier | Qt::KeypadModifier);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::batch);
}

TEST(SimulatorShortcut, StopsWithTheWindow) {
    UiHarness ui;
    ui.window->close();
    ui.settle();
    EXPECT_FALSE(ui.store->simulatorHotKeyMonitor());
    EXPECT_FALSE(ui.store->isMonitoring());
    press(ui.window.get(), Qt::ControlModifier | Qt::ShiftModifier);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::demo);
}

} // namespace
} // namespace pelwick::testing
