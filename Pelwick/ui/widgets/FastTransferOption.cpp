#include "ui/widgets/FastTransferOption.h"

#include "store/FlasherStore.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QEvent>

namespace pelwick {

FastTransferOption::FastTransferOption(FlasherStore& store, QWidget* parent)
    // Two lines, so that it fits beside FLASH's button.
    : QCheckBox("Fast tr&ansfer — falls back to the standard pace\nif the calculator does not "
                "keep up",
                parent),
      store_(store) {
    setAccessibleName("Fast transfer");
    setAccessibleDescription("Flash without the pauses a slow serial line needs. If the "
                             "calculator does not keep up, the flash goes on at the standard "
                             "pace.");
    // Only the user's click changes the setting, not the refresh that shows it.
    connect(this, &QCheckBox::clicked, this,
            [this](bool checked) { store_.setFastTransfer(checked); });
    outlineBox();
}

void FastTransferOption::changeEvent(QEvent* event) {
    QCheckBox::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        outlineBox();
    }
}

void FastTransferOption::outlineBox() {
    // The style draws the box's outline in the Window colour made 1.4 times darker, which on the
    // dark window is almost black: the box vanished. A Window colour of the box's own gives an
    // outline at 3:1 or more against the window in both schemes (the box paints no background).
    const QColor window =
        Theme::isDark(QApplication::palette()) ? QColor("#989898") : QColor("#c4c4c4");
    if (palette().color(QPalette::Window) != window) {
        QPalette boxPalette = palette();
        boxPalette.setColor(QPalette::Window, window);
        setPalette(boxPalette);
    }
}

void FastTransferOption::refresh() {
    setChecked(store_.fastTransfer());
    setEnabled(!store_.wizard().isBusy);
}

} // namespace pelwick
