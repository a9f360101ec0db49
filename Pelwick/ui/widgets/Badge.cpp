#include "ui/widgets/Badge.h"

#include "ui/Accessibility.h"
#include "ui/Theme.h"

#include <QPainter>

namespace pelwick {

Badge::Badge(const QString& text, Tone tone, const QString& description, QWidget* parent)
    : QWidget(parent), text_(text), tone_(tone) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Accessibility::describe(this, QAccessible::StaticText, text, description);
}

void Badge::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void Badge::setTone(Tone tone) {
    if (tone == tone_) {
        return;
    }
    tone_ = tone;
    update();
}

QFont Badge::badgeFont() const {
    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 0.82);
    f.setBold(true);
    f.setLetterSpacing(QFont::PercentageSpacing, 104);
    return f;
}

QSize Badge::sizeHint() const {
    const QFontMetrics metrics(badgeFont());
    return QSize(metrics.horizontalAdvance(text_) + 16, metrics.height() + 6);
}

void Badge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    QColor color = Theme::accent(pal);
    switch (tone_) {
    case Tone::accent:
        break;
    case Tone::success:
        color = Theme::success(pal);
        break;
    case Tone::caution:
        color = Theme::caution(pal);
        break;
    case Tone::danger:
        color = Theme::danger(pal);
        break;
    case Tone::neutral:
        color = Theme::secondaryText(pal);
        break;
    }
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::tint(pal, color, 0.55), 1));
    painter.setBrush(Theme::badgeFill(pal, color));
    painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
    painter.setFont(badgeFont());
    painter.setPen(color);
    painter.drawText(rect(), Qt::AlignCenter, text_);
}

} // namespace pelwick
