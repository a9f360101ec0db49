#include "ui/Accessibility.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace pelwick::Accessibility {

namespace {

constexpr const char* roleProperty = "pelwickAccessibleRole";

QAccessibleInterface* interfaceWithRole(const QString&, QObject* object) {
    if (!object || !object->isWidgetType()) {
        return nullptr;
    }
    const QVariant role = object->property(roleProperty);
    if (!role.isValid()) {
        return nullptr; // Qt's own interface
    }
    return new QAccessibleWidget(static_cast<QWidget*>(object),
                                 static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void describe(QWidget* widget, QAccessible::Role role, const QString& name,
              const QString& description) {
    widget->setProperty(roleProperty, int(role));
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(description);
}

void installRoles() {
    QAccessible::installFactory(interfaceWithRole);
}

} // namespace pelwick::Accessibility
