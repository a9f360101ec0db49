#include "ui/drawings/CableIllustration.h"

#include "ui/Theme.h"
#include "ui/drawings/DrawingKit.h"
#include "wizard/WizardState.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace pelwick {

using namespace DrawingKit;

const char* const CableIllustration::caption = "Seat the pogo plug \u00B7 keyed, one way only";
const char* const CableIllustration::description =
    "Battery bay with two coin cells. Pogo plug sits just above the keyed connector and can only "
    "be inserted one way. A cord leaves the top of the plug, bends right past a RESET and ERASE "
    "controller, and ends in a USB-A/C connector next to this computer.";

namespace {

const QColor edge("#6a6a70");

/// A rectangle with one corner cut off: the key that lets the plug in one way only.
QPolygonF keyedOutline(const QRectF& r, bool cutTop) {
    const double cut = r.height() * 0.45;
    if (cutTop) {
        return QPolygonF({{r.left() + cut, r.top()},
                          r.topRight(),
                          r.bottomRight(),
                          r.bottomLeft(),
                          {r.left(), r.top() + cut}});
    }
    return QPolygonF({r.topLeft(),
                      r.topRight(),
                      r.bottomRight(),
                      {r.left() + cut, r.bottom()},
                      {r.left(), r.bottom() - cut}});
}

void paintCoinCell(QPainter& painter, QPointF centre, double radius) {
    QRadialGradient metal(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.5);
    metal.setColorAt(0, QColor("#f7f7f7"));
    metal.setColorAt(1, QColor("#8f9196"));
    painter.setPen(QPen(QColor("#55575c"), 1));
    painter.setBrush(metal);
    painter.drawEllipse(centre, radius, radius);
    painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, radius * 0.74, radius * 0.74);
    QFont font = painter.font();
    font.setPixelSize(int(radius * 0.7));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(QColor("#3a3c40"));
    painter.drawText(QRectF(centre.x() - radius, centre.y() - radius * 0.75, radius * 2, radius),
                     Qt::AlignCenter, "+");
    font.setPixelSize(int(radius * 0.3));
    font.setBold(false);
    painter.setFont(font);
    painter.drawText(
        QRectF(centre.x() - radius, centre.y() + radius * 0.1, radius * 2, radius * 0.5),
        Qt::AlignCenter, "CR2032");
}

void paintStepInset(QPainter& painter, const QRectF& card, const QPalette& palette) {
    painter.setPen(QPen(Theme::separator(palette), 1));
    painter.setBrush(palette.color(QPalette::Base));
    painter.drawRoundedRect(card, 8, 8);
    paintCaption(painter, card.adjusted(12, 8, -12, 0),
                 QString("Step 1 of %1").arg(wizardStepCount), palette, 11, true,
                 Qt::AlignLeft | Qt::AlignTop);
    const double spacing = (card.width() - 24) / (wizardStepCount - 1);
    const double y = card.top() + 40;
    painter.setPen(QPen(Theme::separator(palette), 1.5));
    painter.drawLine(QPointF(card.left() + 12, y), QPointF(card.right() - 12, y));
    for (int i = 0; i < wizardStepCount; ++i) {
        const QPointF dot(card.left() + 12 + spacing * i, y);
        if (i == 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(Theme::accent(palette));
            painter.drawEllipse(dot, 6, 6);
        } else {
            painter.setPen(QPen(Theme::secondaryText(palette), 1.2));
            painter.setBrush(palette.color(QPalette::Base));
            painter.drawEllipse(dot, 4, 4);
        }
    }
    paintCaption(painter, QRectF(card.left() + 12, y + 12, card.width() - 24, 16), "Cable", palette,
                 10, true, Qt::AlignLeft | Qt::AlignVCenter);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::separator(palette));
    painter.drawRoundedRect(QRectF(card.left() + 12, y + 34, card.width() - 40, 4), 2, 2);
    painter.drawRoundedRect(QRectF(card.left() + 12, y + 43, card.width() - 70, 4), 2, 2);
}

} // namespace

CableIllustration::CableIllustration(QWidget* parent)
    : IllustrationWidget(QSizeF(560, 250), QString::fromUtf8(caption),
                         QString::fromUtf8(description), parent) {}

void CableIllustration::paintDesign(QPainter& painter) {
    const QPalette pal = palette();
    const bool dark = Theme::isDark(pal);
    const QColor cord = dark ? QColor("#b0b0b6") : QColor("#4a4a50");

    // The calculator's back with the battery bay opened.
    painter.setPen(QPen(edge, 1));
    painter.setBrush(QColor("#2a2a2c"));
    painter.drawRoundedRect(QRectF(14, 66, 196, 150), 14, 14);
    painter.setPen(QPen(QColor("#141416"), 1.5));
    painter.setBrush(QColor("#3b3b3f"));
    painter.drawRoundedRect(QRectF(28, 92, 168, 108), 8, 8);
    paintCoinCell(painter, {66, 150}, 24);
    paintCoinCell(painter, {118, 150}, 24);

    // The keyed connector in the bay, and the pogo plug just above it.
    const QRectF connector(150, 164, 36, 16);
    painter.setPen(QPen(QColor("#8a8a90"), 1));
    painter.setBrush(QColor("#121214"));
    painter.drawPolygon(keyedOutline(connector, true));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#d8b24a"));
    for (int i = 0; i < 4; ++i) {
        painter.drawEllipse(QPointF(163 + i * 6.5, 172), 1.8, 1.8);
    }
    const QRectF plug(150, 112, 36, 26);
    painter.setPen(QPen(QColor("#55575c"), 1));
    painter.setBrush(QColor("#e9e9eb"));
    painter.drawPolygon(keyedOutline(plug, false));
    painter.setPen(QPen(QColor("#c8a23c"), 1.6));
    for (int i = 0; i < 4; ++i) {
        painter.drawLine(QPointF(163 + i * 6.5, 138), QPointF(163 + i * 6.5, 142));
    }
    paintArrow(painter, {168, 145}, {168, 161}, Theme::accent(pal), 1.6);

    // The cord: up from the plug, right through the switch box to the USB plug.
    QPainterPath cordPath;
    cordPath.moveTo(168, 112);
    cordPath.lineTo(168, 54);
    cordPath.quadTo(168, 40, 182, 40);
    cordPath.lineTo(424, 40);
    painter.setPen(QPen(cord, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(cordPath);
    paintSwitchBox(painter, QRectF(258, 14, 108, 54), pal, ButtonMark::none, ButtonMark::none);

    // USB plug and the computer.
    painter.setPen(QPen(edge, 1));
    painter.setBrush(QColor("#d8d8dc"));
    painter.drawRoundedRect(QRectF(424, 31, 34, 18), 3, 3);
    painter.setBrush(QColor("#b4b9c1"));
    painter.drawRect(QRectF(458, 34, 13, 12));
    paintCaption(painter, QRectF(404, 52, 74, 16), "USB-A/C", pal, 10);
    painter.setPen(QPen(QColor("#5a5d64"), 1));
    painter.setBrush(QColor("#3c3f46"));
    painter.drawRoundedRect(QRectF(482, 10, 66, 44), 4, 4);
    painter.setPen(Qt::NoPen);
    painter.setBrush(dark ? QColor("#2d5590") : QColor("#cfe0fb"));
    painter.drawRect(QRectF(486, 14, 58, 36));
    painter.setBrush(QColor("#9a9da5"));
    painter.drawPolygon(QPolygonF({{474, 55}, {556, 55}, {560, 62}, {470, 62}}));
    paintCaption(painter, QRectF(462, 64, 98, 16), "This computer", pal, 10);

    paintStepInset(painter, QRectF(386, 104, 166, 100), pal);
    paintCaption(painter, QRectF(0, 224, 560, 22), QString::fromUtf8(caption), pal, 12.5, true);
}

} // namespace pelwick
