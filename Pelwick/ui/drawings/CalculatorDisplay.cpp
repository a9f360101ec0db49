#include "ui/drawings/CalculatorDisplay.h"

#include "ui/Accessibility.h"
#include "ui/drawings/DrawingKit.h"

#include <QPainter>

#include <cmath>

namespace pelwick {

namespace {
constexpr int displayHeight = 56;
}

CalculatorDisplay::CalculatorDisplay(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    Accessibility::describe(this, QAccessible::StaticText, {},
                            "The calculator's display, in seven-segment digits");
}

void CalculatorDisplay::setText(const QString& text) {
    if (text == text_) {
        return;
    }
    text_ = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize CalculatorDisplay::sizeHint() const {
    return QSize(int(std::ceil(displayHeight * DrawingKit::lcdAspect(text_))), displayHeight);
}

void CalculatorDisplay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawingKit::paintLcd(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), text_);
}

} // namespace pelwick
