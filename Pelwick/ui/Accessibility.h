#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

namespace pelwick {

/// What screen readers learn about the widgets the window draws itself.
namespace Accessibility {

/// Gives `widget` a role, a name and a description. The role takes effect for widgets that Qt
/// would otherwise present as a plain area (it is read when the widget is first asked for).
void describe(QWidget* widget, QAccessible::Role role, const QString& name,
              const QString& description);

/// Lets the roles given by `describe` take effect; once per application, before the first
/// widget is shown.
void installRoles();

} // namespace Accessibility

} // namespace pelwick
