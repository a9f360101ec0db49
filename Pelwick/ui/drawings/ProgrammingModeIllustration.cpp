#include "ui/drawings/ProgrammingModeIllustration.h"

#include "ui/Theme.h"
#include "ui/drawings/DrawingKit.h"

#include <QPainter>

namespace pelwick {

using namespace DrawingKit;

const char* const ProgrammingModeIllustration::description =
    "On the cable's switch box, hold ERASE, press RESET, then release ERASE";

ProgrammingModeIllustration::ProgrammingModeIllustration(QWidget* parent)
    : IllustrationWidget(QSizeF(560, 112),
                         "Programming mode: hold ERASE, press RESET, release ERASE",
                         QString::fromUtf8(description), parent) {}

void ProgrammingModeIllustration::paintDesign(QPainter& painter) {
    const QPalette pal = palette();
    const QColor cord = Theme::isDark(pal) ? QColor("#b0b0b6") : QColor("#4a4a50");
    struct Panel {
        const char* caption;
        ButtonMark reset;
        ButtonMark erase;
    };
    const Panel panels[] = {{"1. Hold ERASE", ButtonMark::none, ButtonMark::hold},
                            {"2. Press RESET", ButtonMark::press, ButtonMark::hold},
                            {"3. Release ERASE", ButtonMark::none, ButtonMark::release}};
    for (int i = 0; i < 3; ++i) {
        const double x = 10 + i * 190;
        painter.setPen(QPen(cord, 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(x + 8, 40), QPointF(x + 162, 40));
        paintSwitchBox(painter, QRectF(x + 22, 10, 126, 62), pal, panels[i].reset, panels[i].erase);
        paintCaption(painter, QRectF(x - 10, 82, 190, 22), panels[i].caption, pal, 13, true);
        if (i < 2) {
            paintArrow(painter, {x + 168, 41}, {x + 194, 41}, Theme::secondaryText(pal), 2);
        }
    }
}

} // namespace pelwick
