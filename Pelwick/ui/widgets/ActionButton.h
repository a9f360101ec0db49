#pragma once

#include <QPushButton>

namespace pelwick {

/// A push button of the window's one family: primary (filled in the accent colour: the screen's
/// main action), secondary (outlined) or destructive (filled in red: an action that replaces
/// what is on the calculator or gives something up). A disabled button keeps only its outline.
///
/// Buttons take the keyboard focus from Tab only, not from a click, so that Return acts on a
/// button only when the user has moved to it; the focused button shows a ring.
class ActionButton : public QPushButton {
public:
    enum class Role { primary, secondary, destructive };

    ActionButton(const QString& text, Role role, QWidget* parent = nullptr);

    Role role() const { return role_; }
    void setRole(Role role);
    /// Alt + `letter` presses the button while it is shown; the letter is underlined.
    void setMnemonic(QChar letter);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont buttonFont() const;
    /// The text with the mnemonic marked for drawing.
    QString drawnText() const;

    Role role_;
    QChar mnemonic_;
};

} // namespace pelwick
