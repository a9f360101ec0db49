#include "ui/drawings/IllustrationWidget.h"

#include "ui/Accessibility.h"
#include "ui/drawings/DrawingKit.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace pelwick {

IllustrationWidget::IllustrationWidget(QSizeF designSize, const QString& name,
                                       const QString& description, QWidget* parent)
    : QWidget(parent), designSize_(designSize) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    Accessibility::describe(this, QAccessible::Graphic, name, description);
}

QSize IllustrationWidget::sizeHint() const {
    return designSize_.toSize();
}

QSize IllustrationWidget::minimumSizeHint() const {
    return (designSize_ * 0.7).toSize();
}

int IllustrationWidget::heightForWidth(int width) const {
    const double scale = std::min(1.0, width / designSize_.width());
    return int(std::ceil(designSize_.height() * scale));
}

void IllustrationWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const double scale =
        std::min({1.0, width() / designSize_.width(), height() / designSize_.height()});
    const QSizeF drawn = designSize_ * scale;
    DrawingKit::fitDesign(painter, QRectF(QPointF((width() - drawn.width()) / 2, 0), drawn),
                          designSize_);
    paintDesign(painter);
}

} // namespace pelwick
