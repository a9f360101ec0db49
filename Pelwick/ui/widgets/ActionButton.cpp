#include "ui/widgets/ActionButton.h"

#include "ui/Theme.h"

#include <QPainter>

#include <algorithm>

namespace pelwick {

namespace {
constexpr double radius = 7;
// Room between the button's fill and its edge for the focus ring.
constexpr double ringGap = 3;
} // namespace

ActionButton::ActionButton(const QString& text, Role role, QWidget* parent)
    : QPushButton(text, parent), role_(role) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover); // repainted as the pointer comes and goes
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void ActionButton::setRole(Role role) {
    if (role == role_) {
        return;
    }
    role_ = role;
    updateGeometry();
    update();
}

void ActionButton::setMnemonic(QChar letter) {
    mnemonic_ = letter;
    setShortcut(QKeySequence(QString("Alt+%1").arg(letter.toUpper())));
    update();
}

QFont ActionButton::buttonFont() const {
    QFont f = font();
    f.setBold(role_ != Role::secondary);
    return f;
}

QString ActionButton::drawnText() const {
    QString shown = text();
    shown.replace("&", "&&");
    if (!mnemonic_.isNull()) {
        const qsizetype at = shown.indexOf(mnemonic_, 0, Qt::CaseInsensitive);
        if (at >= 0) {
            shown.insert(at, '&');
        }
    }
    return shown;
}

QSize ActionButton::sizeHint() const {
    // Every role has the bold width, so that a button changing its role keeps its size.
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    return QSize(std::max(metrics.horizontalAdvance(text()) + 44, 100), metrics.height() + 22);
}

void ActionButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor windowText = pal.color(QPalette::WindowText);
    const QRectF area = QRectF(rect()).adjusted(ringGap, ringGap, -ringGap, -ringGap);

    QColor fill;
    QColor border = Qt::transparent;
    QColor text("#ffffff");
    if (!isEnabled()) {
        border = Theme::tint(pal, windowText, 0.3);
        text = Theme::secondaryText(pal);
    } else if (role_ == Role::secondary) {
        fill = pal.color(QPalette::Base);
        border = underMouse() ? Theme::accent(pal) : Theme::tint(pal, windowText, 0.38);
        text = windowText;
        if (isDown()) {
            fill = Theme::tint(pal, Theme::accent(pal), 0.14);
        } else if (underMouse()) {
            fill = Theme::tint(pal, Theme::accent(pal), 0.06);
        }
    } else {
        fill = role_ == Role::primary ? Theme::accentFill(pal) : Theme::destructiveFill(pal);
        if (isDown()) {
            fill = fill.darker(118);
        } else if (underMouse()) {
            fill = fill.lighter(108);
        }
    }
    if (hasFocus()) {
        painter.setPen(QPen(Theme::focusRing(pal), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius + 2, radius + 2);
    }
    painter.setPen(border.alpha() == 0 ? QPen(Qt::NoPen) : QPen(border, 1));
    painter.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
    painter.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.setFont(buttonFont());
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, drawnText());
}

} // namespace pelwick
