#include "ui/widgets/Confirmation.h"

#include "ui/widgets/ActionButton.h"

#include <QMessageBox>

namespace pelwick {

namespace {
constexpr const char* quietProperty = "pelwickClosedQuietly";
}

QMessageBox* askToConfirm(QWidget* parent, const QString& title, const QString& message,
                          const QString& action, std::function<void(bool)> answer) {
    auto* box = new QMessageBox(parent);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setTextFormat(Qt::PlainText);
    box->setText(title);
    box->setInformativeText(message);
    // Room for the message on a few lines instead of a narrow column.
    box->setStyleSheet("QLabel#qt_msgbox_label { font-weight: bold; }"
                       "QLabel#qt_msgbox_informativelabel { min-width: 380px; }");
    auto* confirm = new ActionButton(action, ActionButton::Role::destructive);
    auto* cancel = new ActionButton("Cancel", ActionButton::Role::secondary);
    box->addButton(confirm, QMessageBox::DestructiveRole);
    box->addButton(cancel, QMessageBox::RejectRole);
    box->setDefaultButton(cancel);
    box->setEscapeButton(cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QMessageBox::finished, box, [box, confirm, answer] {
        if (!box->property(quietProperty).toBool() && answer) {
            answer(box->clickedButton() == confirm);
        }
    });
    box->open();
    // The default button takes the focus, so Return answers Cancel unless the user moves on.
    cancel->setFocus();
    return box;
}

void closeQuietly(QMessageBox* box) {
    if (box) {
        box->setProperty(quietProperty, true);
        box->close();
    }
}

} // namespace pelwick
