#include "ui/platform/QtAppControl.h"

#include <QApplication>
#include <QMetaObject>

namespace pelwick {

void QtAppControl::quit() {
    // Deferred, so the store operation asking for it finishes before its window goes away.
    QMetaObject::invokeMethod(
        qApp,
        [] {
            QApplication::closeAllWindows();
            QApplication::quit();
        },
        Qt::QueuedConnection);
}

} // namespace pelwick
