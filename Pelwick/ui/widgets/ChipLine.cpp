#include "ui/widgets/ChipLine.h"

#include "ui/Accessibility.h"
#include "ui/ConnectionState.h"
#include "ui/Theme.h"

#include <QPainter>

namespace pelwick {

ChipLine::ChipLine(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Accessibility::describe(this, QAccessible::StaticText, {},
                            "The calculator Pelwick is connected to");
}

void ChipLine::show(const ConnectionState& state) {
    if (state.text == text_ && state.connected == connected_ && state.supported == supported_) {
        return;
    }
    text_ = state.text;
    connected_ = state.connected;
    supported_ = state.supported;
    setAccessibleName(connected_ ? "Connected: " + text_ : text_);
    updateGeometry();
    update();
}

QSize ChipLine::sizeHint() const {
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text_) + 40, metrics.height() + 12);
}

void ChipLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor dot = !connected_  ? Theme::tint(pal, pal.color(QPalette::WindowText), 0.35)
                       : supported_ ? Theme::success(pal)
                                    : Theme::caution(pal);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::separator(pal), 1));
    painter.setBrush(pal.color(QPalette::Base));
    painter.drawRoundedRect(area, area.height() / 2, area.height() / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dot);
    painter.drawEllipse(QPointF(16, area.center().y()), 4.5, 4.5);
    painter.setPen(connected_ ? pal.color(QPalette::WindowText) : Theme::secondaryText(pal));
    painter.drawText(QRectF(28, 0, width() - 38, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text_);
}

} // namespace pelwick
