#pragma once

#include <QColor>
#include <QPainter>
#include <QPalette>
#include <QRectF>
#include <QString>

namespace pelwick {

/// Painting helpers shared by the illustrations: the cable's switch box, calculator key caps, the
/// seven-segment LCD, arrows and captions. Physical objects keep their own colours in both colour
/// schemes; outlines and labels around them follow the palette.
namespace DrawingKit {

/// What the illustration asks the user to do with a button or key.
enum class ButtonMark { none, press, hold, release };

/// The cable's switch box with its RESET (left) and ERASE (right) buttons.
void paintSwitchBox(QPainter& painter, const QRectF& box, const QPalette& palette, ButtonMark reset,
                    ButtonMark erase);

/// One calculator key. `gKey` draws the blue shifted-function key.
void paintKeyCap(QPainter& painter, const QRectF& key, const QString& label,
                 const QPalette& palette, ButtonMark mark, bool gKey = false);

/// The segments lit for one character (bit 0 = top, then clockwise, bit 6 = middle); characters
/// the display cannot show give no segment.
int segmentsFor(QChar character);

/// An LCD with a dark bezel showing `text` in seven-segment cells. A '.' lights the decimal point
/// of the cell before it; blanks are narrower cells.
void paintLcd(QPainter& painter, const QRectF& area, const QString& text);

/// The width-to-height ratio `paintLcd` needs for `text` at its natural proportions.
double lcdAspect(const QString& text);

/// An arrow from `from` to `to` with a filled head.
void paintArrow(QPainter& painter, QPointF from, QPointF to, const QColor& color,
                double width = 2.0);

/// `text` centred in `area` in the palette's text colour, with the given pixel size.
void paintCaption(QPainter& painter, const QRectF& area, const QString& text,
                  const QPalette& palette, double pixelSize, bool bold = false,
                  Qt::Alignment alignment = Qt::AlignCenter);

/// The landscape calculator seen from the front, with its LCD showing `display`; the ON key
/// carries `onMark`.
void paintCalculator(QPainter& painter, const QRectF& body, const QString& display,
                     const QPalette& palette, ButtonMark onMark);

/// Scales the painter so that a drawing made for `designSize` fits `target`, centred.
void fitDesign(QPainter& painter, const QRectF& target, QSizeF designSize);

} // namespace DrawingKit

} // namespace pelwick
