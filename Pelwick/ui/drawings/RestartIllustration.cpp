#include "ui/drawings/RestartIllustration.h"

#include "ui/Theme.h"
#include "ui/drawings/DrawingKit.h"

#include <QPainter>

namespace pelwick {

using namespace DrawingKit;

const char* const RestartIllustration::description =
    "Press RESET on the cable switch-box, then turn the calculator ON. Pr Error in the display is "
    "expected";

RestartIllustration::RestartIllustration(QWidget* parent)
    : IllustrationWidget(QSizeF(540, 184), "Restart: press RESET, then ON",
                         QString::fromUtf8(description), parent) {}

void RestartIllustration::paintDesign(QPainter& painter) {
    const QPalette pal = palette();
    const QColor cord = Theme::isDark(pal) ? QColor("#b0b0b6") : QColor("#4a4a50");
    painter.setPen(QPen(cord, 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(12, 72), QPointF(178, 72));
    paintSwitchBox(painter, QRectF(26, 40, 138, 66), pal, ButtonMark::press, ButtonMark::none);
    paintCaption(painter, QRectF(0, 116, 190, 22), "Press RESET", pal, 13, true);
    paintArrow(painter, {196, 72}, {236, 72}, Theme::secondaryText(pal), 2);
    paintCalculator(painter, QRectF(252, 6, 282, 146), "Pr Error", pal, ButtonMark::press);
    paintCaption(painter, QRectF(252, 158, 282, 22), "Turn ON", pal, 13, true);
}

} // namespace pelwick
