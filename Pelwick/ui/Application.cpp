#include "ui/Application.h"

#include "ui/Accessibility.h"

#include <QApplication>
#include <QStyleFactory>

namespace pelwick {

void prepareApplication() {
    QApplication::setApplicationName("Pelwick");
    QApplication::setOrganizationName("Quorvane");
    QApplication::setApplicationDisplayName("Pelwick");
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    Accessibility::installRoles();
}

} // namespace pelwick
