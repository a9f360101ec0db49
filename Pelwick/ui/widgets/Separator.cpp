#include "ui/widgets/Separator.h"

#include "ui/Theme.h"

#include <QPainter>

namespace pelwick {

Separator::Separator(QWidget* parent) : QWidget(parent) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Separator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Theme::separator(palette()));
}

} // namespace pelwick
