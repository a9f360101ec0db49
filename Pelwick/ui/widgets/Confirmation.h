#pragma once

#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

namespace pelwick {

/// Asks before an action that replaces or gives something up: a window-modal question with the
/// action's (destructive) button and Cancel, which is the default and also answers Escape. It
/// does not block: `answer(true)` runs when the action is chosen, `answer(false)` on Cancel or
/// when the box is closed; the box then deletes itself. `answer` is not called when the box is
/// closed through `closeQuietly`.
QMessageBox* askToConfirm(QWidget* parent, const QString& title, const QString& message,
                          const QString& action, std::function<void(bool)> answer);

/// Closes a box from `askToConfirm` without answering.
void closeQuietly(QMessageBox* box);

} // namespace pelwick
