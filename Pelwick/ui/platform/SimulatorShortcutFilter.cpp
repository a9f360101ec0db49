#include "ui/platform/SimulatorShortcutFilter.h"

#include <QKeyEvent>

namespace pelwick {

SimulatorShortcutFilter::SimulatorShortcutFilter(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

bool SimulatorShortcutFilter::isShortcut(const QKeyEvent& event) {
    const Qt::KeyboardModifiers relevant =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return event.key() == Qt::Key_S && !event.isAutoRepeat() &&
           (event.modifiers() & relevant) == (Qt::ControlModifier | Qt::ShiftModifier);
}

bool SimulatorShortcutFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && isShortcut(*static_cast<QKeyEvent*>(event))) {
        // The first receiver (the window) sees it; once taken it reaches no widget.
        return handler_ && handler_();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace pelwick
