#include "ui/widgets/ProminentButton.h"

#include "ui/Theme.h"

#include <QPainter>

namespace pelwick {

ProminentButton::ProminentButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QFont ProminentButton::buttonFont() const {
    QFont f = font();
    f.setBold(true);
    return f;
}

QSize ProminentButton::sizeHint() const {
    const QFontMetrics metrics(buttonFont());
    return QSize(metrics.horizontalAdvance(text()) + 40, metrics.height() + 20);
}

void ProminentButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QPushButton::enterEvent(event);
}

void ProminentButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QPushButton::leaveEvent(event);
}

void ProminentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    QColor fill = Theme::accentFill(pal);
    QColor text("#ffffff");
    if (!isEnabled()) {
        fill = Theme::tint(pal, pal.color(QPalette::WindowText), 0.12);
        text = Theme::tint(pal, pal.color(QPalette::WindowText), 0.42);
    } else if (isDown()) {
        fill = fill.darker(118);
    } else if (hovered_) {
        fill = fill.lighter(108);
    }
    // The fill leaves a margin for the keyboard focus ring around it.
    const QRectF area = QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5);
    if (hasFocus()) {
        painter.setPen(QPen(Theme::tint(pal, Theme::accent(pal), 0.55), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8.5, 8.5);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(area, 6.5, 6.5);
    painter.setFont(buttonFont());
    painter.setPen(text);
    painter.drawText(rect(), Qt::AlignCenter, this->text());
}

} // namespace pelwick
