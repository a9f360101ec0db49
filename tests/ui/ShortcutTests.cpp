#include "UiHarness.h"

#include <QKeyEvent>

namespace pelwick::testing {
namespace {

void press(QWidget* widget, Qt::KeyboardModifiers modifiers, bool autoRepeat = false) {
    QKeyEvent event(QEvent::KeyPress, Qt::Key_S, modifiers, "s", autoRepeat);
    QApplication::sendEvent(widget, &event);
}

// Only a fresh Ctrl+Shift+S cycles the welcome mode (the keypad flag is not a key the user
// holds), and nothing does once the window has closed. The checked card follows the mode.
TEST(SimulatorShortcut, CyclesTheWelcomeModeOnlyForExactlyControlShiftSWhileTheWindowIsOpen) {
    UiHarness ui;
    QWidget* target = ui.window->welcomeScreen()->card(FlasherMode::demo);
    press(target, Qt::ControlModifier | Qt::ShiftModifier);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::flash);
    EXPECT_TRUE(ui.window->welcomeScreen()->card(FlasherMode::flash)->isChecked());

    press(target, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    press(target, Qt::ControlModifier);
    press(target, Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier);
    press(target, Qt::ControlModifier | Qt::ShiftModifier, true);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::flash);
    press(target, Qt::ControlModifier | Qt::ShiftModifier | Qt::KeypadModifier);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::batch);

    ui.window->close();
    ui.settle();
    press(ui.window.get(), Qt::ControlModifier | Qt::ShiftModifier);
    ui.settle();
    EXPECT_EQ(ui.store->selectedMode(), FlasherMode::batch);
}

} // namespace
} // namespace pelwick::testing
